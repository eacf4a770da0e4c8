#ifndef TALLYHOOK_MARKER_NAME_H_
#define TALLYHOOK_MARKER_NAME_H_

#include <string>
#include <string_view>

namespace tallyhook {

// The file name, inside the hooks directory, of the marker for a skill: ".dedup_" and the
// name exactly as it is. A name holding "/" or "\" would reach outside the directory, so
// in such a name "%", "/" and "\" are written "%25", "%2F" and "%5C", which keeps the
// marker a direct child of the directory and tells apart names that differ only there.
std::string marker_file_name(std::string_view skill_name);

}  // namespace tallyhook

#endif  // TALLYHOOK_MARKER_NAME_H_
