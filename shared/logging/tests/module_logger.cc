// Built twice, as two shared libraries standing for two modules of the product that each link
// the logging library; MODULE_LOGGER names the one function each exports.
#include "zindle/logging.h"

extern "C" __attribute__((visibility("default"))) zindle::logging::Logger* MODULE_LOGGER() {
  return &zindle::logging::get_logger("modules.shared");
}
