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

std::error_code make_directories(const std::string& path) {
  const std::error_code error = make_directory(path);
  if (error != std::errc::no_such_file_or_directory) return error;
  const std::size_t last = path.find_last_not_of(kPathSeparators);
  const std::size_t separator =
      last == std::string::npos ? std::string::npos : path.find_last_of(kPathSeparators, last);
  if (separator == std::string::npos || separator == 0) return error;
  if (std::error_code parent = make_directories(path.substr(0, separator))) return parent;
  return make_directory(path);
}

}  // namespace tallyhook
