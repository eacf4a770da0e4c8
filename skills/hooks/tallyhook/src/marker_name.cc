#include "marker_name.h"

namespace tallyhook {

std::string marker_file_name(std::string_view skill_name) {
  std::string name = ".dedup_";
  if (skill_name.find_first_of("/\\") == std::string_view::npos) {
    name += skill_name;
    return name;
  }
  for (const char c : skill_name) {
    switch (c) {
      case '%':
        name += "%25";
        break;
      case '/':
        name += "%2F";
        break;
      case '\\':
        name += "%5C";
        break;
      default:
        name += c;
    }
  }
  return name;
}

}  // namespace tallyhook
