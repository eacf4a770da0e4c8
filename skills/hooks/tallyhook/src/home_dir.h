#ifndef TALLYHOOK_HOME_DIR_H_
#define TALLYHOOK_HOME_DIR_H_

#include <optional>
#include <string>

namespace tallyhook {

// The user's home directory: HOME when it is set and not empty, otherwise the current
// user's entry in the system's user database. Nothing when neither gives one.
std::optional<std::string> home_directory();

}  // namespace tallyhook

#endif  // TALLYHOOK_HOME_DIR_H_
