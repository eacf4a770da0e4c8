#include "file_system.h"

namespace tallyhook {

std::string join_path(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && kPathSeparators.find(path.back()) == std::string_view::npos) {
    path += kPathSeparator;
  }
  path += name;
  return path;
}

std::string parent_directory(std::string_view path) {
  const std::size_t separator = path.find_last_of(kPathSeparators);
  if (separator == std::string_view::npos) return ".";
  return std::string(path.substr(0, separator == 0 ? 1 : separator));
}

}  // namespace tallyhook
