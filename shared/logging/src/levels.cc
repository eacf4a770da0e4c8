#include <string>
#include <string_view>

#include "format_line.h"
#include "zindle/logging.h"

namespace zindle::logging {

std::string level_name(int level) {
  const std::string_view named = detail::named_level(level);
  return named.empty() ? "Level " + std::to_string(level) : std::string(named);
}

std::string_view detail::named_level(int level) noexcept {
  switch (level) {
    case DEBUG:
      return "DEBUG";
    case INFO:
      return "INFO";
    case WARNING:
      return "WARNING";
    case ERROR:
      return "ERROR";
    case CRITICAL:
      return "CRITICAL";
    default:
      return {};
  }
}

}  // namespace zindle::logging
