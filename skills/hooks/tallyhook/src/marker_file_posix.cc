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
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

struct TimePair {
  timespec times[2];
};

TimePair access_and_modification(WallTime now) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(now);
  timespec t{};
  t.tv_sec = static_cast<time_t>(seconds.count());
  t.tv_nsec = static_cast<long>((now - seconds).count());
  return TimePair{{t, t}};
}

// The marker exists but its time was not within the window when first looked at. Several
// runs can get here at once; the lock makes them take turns, and each one looks at the
// time again once it holds the lock, so only the first renews it and reports.
bool renew_unless_renewed(const std::string& path, WallTime now) {
  const TimePair times = access_and_modification(now);
  // O_NONBLOCK: a FIFO in the marker's place must not stall the hook. O_NOFOLLOW: a
  // marker that is a link is never used to change anything elsewhere.
  UniqueFd marker(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  if (!marker) {
    if (errno == EACCES) utimensat(AT_FDCWD, path.c_str(), times.times, AT_SYMLINK_NOFOLLOW);
    return false;
  }
  if (flock(marker.get(), LOCK_EX | LOCK_NB) != 0) {
    // Held: another run is deciding this same skill right now and reports if it is due.
    return errno == EWOULDBLOCK;
  }
  struct stat st;
  if (fstat(marker.get(), &st) == 0 && within_window(now, modification_time(st))) return true;
  futimens(marker.get(), times.times);
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
  if (created) {
    futimens(created.get(), access_and_modification(now).times);
    return false;
  }
  if (errno != EEXIST) return false;
  // Another run created it in the meantime, or a link is in the way.
  return renew_unless_renewed(path, now);
}

}  // namespace tallyhook
