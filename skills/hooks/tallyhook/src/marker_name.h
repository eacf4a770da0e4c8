#ifndef TALLYHOOK_MARKER_NAME_H_
#define TALLYHOOK_MARKER_NAME_H_

#include <string>
#include <string_view>

namespace tallyhook {

// Whether a skill name can become a file name and a program argument at all: not when it
// holds a NUL character, nor when it is not valid UTF-8, as a name holding a lone surrogate
// from the event (kept as WTF-8) is not.
bool can_name_a_file(std::string_view skill_name);

// The file name, inside the hooks directory, of the marker for a skill on this platform:
// posix_marker_file_name or windows_marker_file_name.
std::string marker_file_name(std::string_view skill_name);

// ".dedup_" and the name exactly as it is. A name holding "/" or "\" would reach outside the
// directory, so in such a name "%", "/" and "\" are written "%25", "%2F" and "%5C", which keeps
// the marker a direct child of the directory and tells apart names that differ only there.
std::string posix_marker_file_name(std::string_view skill_name);

// The same for Windows, where more names than those need care: the characters < > : " | ? *
// and the control characters cannot be in a file name (":" would even name a stream of another
// file), and a trailing dot or space is dropped by the system, so that "a." and "a" would
// share a marker. A name with any of these is written with "%", "/", "\", those characters and
// its last character, if it is a dot or a space, percent-encoded; every other name, the
// product's skill names among them, is kept as it is, as on POSIX. Reserved device names
// (CON, NUL, COM1, ...) need nothing: the system takes a file name for a device only when the
// part before its first dot is one, and here that part is empty.
std::string windows_marker_file_name(std::string_view skill_name);

}  // namespace tallyhook

#endif  // TALLYHOOK_MARKER_NAME_H_
