#ifndef TALLYHOOK_FILE_SYSTEM_H_
#define TALLYHOOK_FILE_SYSTEM_H_

#include <string>
#include <string_view>
#include <system_error>

namespace tallyhook {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kPathSeparators = "\\/";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kPathSeparators = "/";
#endif

// `directory` and `name` joined by one path separator.
std::string join_path(std::string_view directory, std::string_view name);

// The directory part of `path`: everything before its last separator ("/" for a file in
// the root directory, "." when there is no separator).
std::string parent_directory(std::string_view path);

// Whether an entry exists at `path`, following symbolic links: a dangling link does not
// exist. Absence (no entry, a path component that is no directory, a loop of links) is a
// plain false; any other failure to tell (permission denied) is reported through `error`.
bool path_exists(const std::string& path, std::error_code& error);

// Creates `path` and any missing ancestors as directories (permissions 0777 less the
// umask). An existing directory, or a link to one, is success; anything else in the way
// is an error.
std::error_code make_directories(const std::string& path);

// One directory, for make_directories: success when it is made or is there already as a
// directory (or a link to one); std::errc::no_such_file_or_directory, exactly, when its
// parent is missing; any other error otherwise.
std::error_code make_directory(const std::string& path);

}  // namespace tallyhook

#endif  // TALLYHOOK_FILE_SYSTEM_H_
