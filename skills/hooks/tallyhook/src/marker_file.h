#ifndef TALLYHOOK_MARKER_FILE_H_
#define TALLYHOOK_MARKER_FILE_H_

#include <string>

#include "dedup_window.h"

namespace tallyhook {

// Decides whether an event at `now` repeats the last reported one of a skill, and if it
// does not, records `now` as that skill's last report, in one step that is atomic across
// processes: of several runs that see the same missing or stale marker at once, exactly
// one gets false. The marker is `marker_name` inside `hooks_dir`; only its modification
// time counts, its content is never written or read.
//
// Returns true (a repeat: nothing on disk changes) when the marker's time lies within the
// window before `now`, or after it. Returns false otherwise, and then the marker exists,
// dated now (on POSIX systems by the system's clock, as touch dates a file, so that a
// marker writable by the user but owned by another account can be renewed too). Any trouble with
// the directory or the marker also returns false, so that a use is never lost to a broken marker;
// it never creates a file through a symbolic link, and it leaves no lock or claim behind when the
// process dies.
bool repeats_recent_report(const std::string& hooks_dir, const std::string& marker_name,
                           WallTime now);

}  // namespace tallyhook

#endif  // TALLYHOOK_MARKER_FILE_H_
