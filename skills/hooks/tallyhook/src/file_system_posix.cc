#include <errno.h>
#include <sys/stat.h>

#include "file_system.h"

namespace tallyhook {
namespace {

std::error_code last_error() { return std::error_code(errno, std::generic_category()); }

bool is_directory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool path_exists(const std::string& path, std::error_code& error) {
  error.clear();
  if (path.find('\0') != std::string::npos) return false;  // no file can have that name
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return true;
  if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) error = last_error();
  return false;
}

std::error_code make_directories(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return {};
  if (errno == EEXIST) {
    return is_directory(path) ? std::error_code()
                              : std::make_error_code(std::errc::not_a_directory);
  }
  if (errno != ENOENT) return last_error();
  const std::size_t slash = path.find_last_of('/', path.find_last_not_of('/'));
  if (slash == std::string::npos || slash == 0)
    return std::make_error_code(std::errc::no_such_file_or_directory);
  if (std::error_code parent = make_directories(path.substr(0, slash))) return parent;
  if (mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && is_directory(path))) return {};
  return last_error();
}

}  // namespace tallyhook
