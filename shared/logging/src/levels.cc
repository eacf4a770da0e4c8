#include <string>

#include "zindle/logging.h"

namespace zindle::logging {

std::string level_name(int level) {
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
      return "Level " + std::to_string(level);
  }
}

}  // namespace zindle::logging
