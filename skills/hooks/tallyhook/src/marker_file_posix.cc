#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "file_system.h"
#include "marker_file.h"
#include "posix_fd.h"

namespace tallyhook {
namespace {

WallTime modification_time(const struct stat& st) {
#ifdef __APPLE__
  const timespec& t = st.st_mtimespec;
#else
  const timespec& t = st.st_mtim;
#endif
  return saturating_wall_time(t.tv_sec, t.tv_nsec);
}

// The marker exists but its time was not within the window when first looked at. Several
// runs can get here at once; the lock makes them take turns, and each one looks at the
// time again once it holds the lock, so only the first renews it and reports.
//
// The times are set to the system's "now", as touch does, not to `now`: that needs only
// write permission, where an explicit time needs the marker to be the user's own, so a
// marker that another account made writable is renewed too.
bool renew_unless_renewed(const std::string& path, WallTime now) {
  // O_NONBLOCK: a FIFO in the marker's place must not stall the hook. O_NOFOLLOW: a
  // marker that is a link is never used to change anything elsewhere.
  UniqueFd marker(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  if (!marker) {
    if (errno == EACCES) utimensat(AT_FDCWD, path.c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
    return false;
  }
  if (flock(marker.get(), LOCK_EX | LOCK_NB) != 0) {
    // Held: another run is deciding this same skill right now and reports if it is due.
    return errno == EWOULDBLOCK;
  }
  struct stat st;
  if (fstat(marker.get(), &st) == 0 && within_window(now, modification_time(st))) return true;
  futimens(marker.get(), nullptr);
  return false;
}

}  // namespace

bool repeats_recent_report(const std::string& hooks_dir, const std::string& marker_name,
                           WallTime now) {
  const std::string path = join_path(hooks_dir, marker_name);
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (within_window(now, modification_time(st))) return true;
    return renew_unless_renewed(path, now);
  }
  if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) return false;

  // Missing: whoever creates it is the one run that reports.
  if (make_directories(hooks_dir)) return false;
  UniqueFd created(
      open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666));
  // A new file is dated "now" by the system, as a renewed one is.
  if (created) return false;
  if (errno != EEXIST) return false;
  // Another run created it in the meantime, or a link is in the way.
  return renew_unless_renewed(path, now);
}

}  // namespace tallyhook
