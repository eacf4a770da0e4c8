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

// ".dedup_" and the name, with "%", "/" and "\" written "%25", "%2F" and "%5C": a name holding
// "/" or "\" would reach outside the directory, and with "%" encoded in every name the marker
// decodes back to exactly one name, so that no two skills share a marker. A name without these
// three characters, as every one of the product's skill names is, is kept exactly.
std::string posix_marker_file_name(std::string_view skill_name);

// The same for Windows, where more names than those need care: the characters < > : " | ? *
// and the control characters cannot be in a file name (":" would even name a stream of another
// file), and a trailing dot or space is dropped by the system, so that "a." and "a" would
// share a marker. These are percent-encoded too (a dot or a space only as the last character),
// as are "%", "/" and "\"; every other name, the product's skill names among them, is kept as
// it is, as on POSIX. Reserved device names (CON, NUL, COM1, ...) need nothing: the system
// takes a file name for a device only when the part before its first dot is one, and here that
// part is empty. Names that differ only in case still share a marker there.
std::string windows_marker_file_name(std::string_view skill_name);

}  // namespace tallyhook

#endif  // TALLYHOOK_MARKER_NAME_H_
