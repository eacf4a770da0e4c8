#ifndef TALLYHOOK_DEDUP_WINDOW_H_
#define TALLYHOOK_DEDUP_WINDOW_H_

#include <chrono>
#include <cstdint>

namespace tallyhook {

// A skill reported less than this long ago is not reported again.
inline constexpr int DEDUP_SECONDS = 30;

// Wall-clock time since the Unix epoch, in nanoseconds.
using WallTime = std::chrono::nanoseconds;

inline WallTime wall_clock_now() {
  return std::chrono::duration_cast<WallTime>(std::chrono::system_clock::now().time_since_epoch());
}

// A time given as whole seconds and nanoseconds (0 to 999'999'999) since the epoch, held
// to what WallTime can count (about the years 1678 to 2262): a marker dated further off
// stays as far off as can be, rather than wrapping around to another time.
constexpr WallTime saturating_wall_time(std::int64_t seconds, std::int64_t nanoseconds) {
  constexpr std::int64_t kLimit = WallTime::max().count() / 1'000'000'000;
  if (seconds >= kLimit) return WallTime::max();
  if (seconds <= -kLimit) return WallTime::min();
  return std::chrono::seconds(seconds) + WallTime(nanoseconds);
}

// True when an event at `now` repeats one reported at `last_report`: strictly less than
// DEDUP_SECONDS later, or earlier (a clock set back keeps the repeat suppressed until it
// has caught up). Total over WallTime: it never subtracts one time from another, either of
// which may lie at an end of the range.
constexpr bool within_window(WallTime now, WallTime last_report) {
  constexpr WallTime window = std::chrono::seconds(DEDUP_SECONDS);
  return last_report >= now || now < WallTime::min() + window || last_report > now - window;
}

}  // namespace tallyhook

#endif  // TALLYHOOK_DEDUP_WINDOW_H_
