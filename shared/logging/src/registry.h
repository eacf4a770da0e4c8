#ifndef ZINDLE_LOGGING_SRC_REGISTRY_H_
#define ZINDLE_LOGGING_SRC_REGISTRY_H_

#include <mutex>
#include <string_view>

#include "zindle/logging.h"

namespace zindle::logging::detail {

// A registered logger and the mutex that serialises get_logger's check-and-configure for it.
struct RegistryEntry {
  Logger& logger;
  std::mutex& configure_mutex;
};

// The entry for `name`, created on first request. Entries live until the process ends.
RegistryEntry registry_entry(std::string_view name);

}  // namespace zindle::logging::detail

#endif  // ZINDLE_LOGGING_SRC_REGISTRY_H_
