#ifndef TALLYHOOK_DEDUP_WINDOW_H_
#define TALLYHOOK_DEDUP_WINDOW_H_

#include <chrono>

namespace tallyhook {

// A skill reported less than this long ago is not reported again.
inline constexpr int DEDUP_SECONDS = 30;

// Wall-clock time since the Unix epoch, in nanoseconds.
using WallTime = std::chrono::nanoseconds;

inline WallTime wall_clock_now() {
  return std::chrono::duration_cast<WallTime>(std::chrono::system_clock::now().time_since_epoch());
}

// True when an event at `now` repeats one reported at `last_report`: strictly less than
// DEDUP_SECONDS later, or earlier (a clock set back keeps the repeat suppressed until it
// has caught up).
constexpr bool within_window(WallTime now, WallTime last_report) {
  return now - last_report < std::chrono::seconds(DEDUP_SECONDS);
}

}  // namespace tallyhook

#endif  // TALLYHOOK_DEDUP_WINDOW_H_
