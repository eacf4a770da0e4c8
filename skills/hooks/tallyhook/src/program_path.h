#ifndef TALLYHOOK_PROGRAM_PATH_H_
#define TALLYHOOK_PROGRAM_PATH_H_

#include <optional>
#include <string>

namespace tallyhook {

// The absolute path under which the running program was started, with symbolic links
// left as they were (a link to the program names the link's directory). Nothing when the
// platform cannot tell.
std::optional<std::string> program_path();

}  // namespace tallyhook

#endif  // TALLYHOOK_PROGRAM_PATH_H_
