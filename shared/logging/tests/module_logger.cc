// Built twice, as two shared libraries standing for two modules of the product that each link
// the logging library; MODULE_LOGGER names the one function each exports.
#include "zindle/logging.h"

#ifdef _WIN32
#define MODULE_EXPORT __declspec(dllexport)
#else
#define MODULE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" MODULE_EXPORT zindle::logging::Logger* MODULE_LOGGER() {
  return &zindle::logging::get_logger("modules.shared");
}
