#ifndef TALLYHOOK_DEDUP_H_
#define TALLYHOOK_DEDUP_H_

#include <string>
#include <string_view>

#include "dedup_window.h"
#include "result.h"

namespace tallyhook {

// The directory of the markers under a home directory: home/.zindle/hooks.
std::string hooks_directory(std::string_view home);

// True when `skill_name` was reported less than DEDUP_SECONDS before `now`, as recorded by
// its marker under `home`; otherwise records `now` as its last report and returns false.
// Fails open: any trouble with the marker answers false. A name that can name no file
// (see can_name_a_file) answers false and touches nothing.
bool is_duplicate_at(std::string_view home, std::string_view skill_name, WallTime now);

// is_duplicate_at for the user's home directory and the wall clock. Fails only when the
// home directory cannot be determined.
Result<bool> _is_duplicate(std::string_view skill_name);

}  // namespace tallyhook

#endif  // TALLYHOOK_DEDUP_H_
