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

std::error_code make_directory(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return {};
  switch (errno) {
    case EEXIST:
      return is_directory(path) ? std::error_code()
                                : std::make_error_code(std::errc::not_a_directory);
    case ENOENT:
      return std::make_error_code(std::errc::no_such_file_or_directory);
    default:
      return last_error();
  }
}

}  // namespace tallyhook
