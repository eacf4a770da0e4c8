#include "dedup.h"

#include "file_system.h"
#include "home_dir.h"
#include "marker_file.h"
#include "marker_name.h"

namespace tallyhook {

std::string hooks_directory(std::string_view home) {
  return join_path(join_path(home, ".zindle"), "hooks");
}

bool is_duplicate_at(std::string_view home, std::string_view skill_name, WallTime now) {
  // No file can hold such a name; cutting it at a NUL would address another skill's marker.
  if (!can_name_a_file(skill_name)) return false;
  return repeats_recent_report(hooks_directory(home), marker_file_name(skill_name), now);
}

Result<bool> _is_duplicate(std::string_view skill_name) {
  const std::optional<std::string> home = home_directory();
  if (!home) {
    return Error{
        "cannot determine the home directory: HOME is not set, and the user database has none for "
        "this user"};
  }
  return is_duplicate_at(*home, skill_name, wall_clock_now());
}

}  // namespace tallyhook
