#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "registry.h"
#include "zindle/logging.h"

namespace zindle::logging {

Logger& get_logger(std::string_view name) {
  const detail::RegistryEntry entry = detail::registry_entry(name);
  Logger& logger = entry.logger;
  // Per logger, so that two first calls cannot both see no handler and add one each, and no
  // get_logger returns the logger between its handler and its level. Records logged on it
  // meanwhile do not wait for this lock.
  const std::lock_guard lock(entry.configure_mutex);
  if (!logger.handlers().empty()) return logger;
  auto handler = std::make_shared<StreamHandler>(stderr);
  handler->setFormatter(Formatter(std::string(LINE_LAYOUT)));
  logger.addHandler(std::move(handler));
  logger.setLevel(WARNING);
  return logger;
}

}  // namespace zindle::logging
