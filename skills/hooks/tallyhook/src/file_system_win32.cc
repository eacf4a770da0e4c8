#include "file_system.h"
#include "win32.h"

namespace tallyhook {
namespace {

// The failures of a lookup that mean nothing is there: no entry, a missing or non-directory
// component, a name no file can have, a link that leads nowhere or round in circles.
bool means_absent(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_CANT_RESOLVE_FILENAME:
      return true;
    default:
      return false;
  }
}

bool is_directory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool path_exists(const std::string& path, std::error_code& error) {
  error.clear();
  const std::optional<std::wstring> wide = to_wide(path);
  if (!wide) return false;  // no file can have that name
  const DWORD attributes = GetFileAttributesW(wide->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (!means_absent(GetLastError())) error = last_system_error();
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  // A link exists only when what it leads to does: opening it follows it.
  const UniqueHandle target(
      CreateFileW(wide->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (target) return true;
  if (!means_absent(GetLastError())) error = last_system_error();
  return false;
}

std::error_code make_directory(const std::string& path) {
  const std::optional<std::wstring> wide = to_wide(path);
  if (!wide) return std::make_error_code(std::errc::invalid_argument);
  if (CreateDirectoryW(wide->c_str(), nullptr)) return {};
  switch (GetLastError()) {
    case ERROR_ALREADY_EXISTS:
      return is_directory(*wide) ? std::error_code()
                                 : std::make_error_code(std::errc::not_a_directory);
    case ERROR_PATH_NOT_FOUND:
      return std::make_error_code(std::errc::no_such_file_or_directory);
    default:
      return last_system_error();
  }
}

}  // namespace tallyhook
