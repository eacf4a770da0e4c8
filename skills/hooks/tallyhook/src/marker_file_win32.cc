#include "file_system.h"
#include "marker_file.h"
#include "win32.h"

namespace tallyhook {
namespace {

// FILETIME counts 100 ns ticks from 1601; WallTime counts from 1970. The library's
// last_write_time would round to whole seconds here, too coarse for the window.
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
constexpr std::int64_t kTicksFrom1601To1970 = kSecondsFrom1601To1970 * kTicksPerSecond;

FILETIME to_file_time(WallTime time) {
  const std::int64_t ticks = time.count() / 100 + kTicksFrom1601To1970;
  const auto bits = static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(bits), static_cast<DWORD>(bits >> 32)};
}

WallTime from_file_time(const FILETIME& time) {
  // Whole seconds first: a file may be dated far beyond what WallTime counts in nanoseconds.
  const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  const auto per_second = static_cast<std::uint64_t>(kTicksPerSecond);
  return saturating_wall_time(
      static_cast<std::int64_t>(ticks / per_second) - kSecondsFrom1601To1970,
      static_cast<std::int64_t>(ticks % per_second) * 100);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool set_times(HANDLE marker, WallTime now) {
  const FILETIME time = to_file_time(now);
  return SetFileTime(marker, nullptr, &time, &time) != 0;
}

// The marker exists but its time was not within the window when first looked at. Several
// runs can get here at once; the lock makes them take turns, and each one looks at the
// time again once it holds the lock, so only the first renews it and reports. The system
// drops the lock when the handle closes or the process ends.
bool renew_unless_renewed(const std::wstring& path, WallTime now) {
  // FILE_FLAG_OPEN_REPARSE_POINT: a marker that is a link is opened as the link, and then
  // left alone, so that nothing elsewhere is ever changed through it.
  const UniqueHandle marker(CreateFileW(path.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES,
                                        kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!marker) {
    if (GetLastError() == ERROR_ACCESS_DENIED) {
      // Not readable, so not lockable, but its time may still be settable.
      const UniqueHandle attributes_only(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, kShareAll,
                                                     nullptr, OPEN_EXISTING,
                                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      if (attributes_only) set_times(attributes_only.get(), now);
    }
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(marker.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return false;
  }
  OVERLAPPED first_byte{};
  if (!LockFileEx(marker.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                  &first_byte)) {
    // Held: another run is deciding this same skill right now and reports if it is due.
    return GetLastError() == ERROR_LOCK_VIOLATION;
  }
  FILETIME written;
  if (GetFileTime(marker.get(), nullptr, nullptr, &written) &&
      within_window(now, from_file_time(written))) {
    return true;
  }
  set_times(marker.get(), now);
  return false;
}

// The failures of a lookup that mean there is no marker: then one is created.
bool means_absent(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

bool repeats_recent_report(const std::string& hooks_dir, const std::string& marker_name,
                           WallTime now) {
  const std::optional<std::wstring> path = to_wide(join_path(hooks_dir, marker_name));
  if (!path) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(path->c_str(), GetFileExInfoStandard, &data)) {
    // A link's own time says nothing; it is never trusted to suppress a report.
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
        within_window(now, from_file_time(data.ftLastWriteTime))) {
      return true;
    }
    return renew_unless_renewed(*path, now);
  }
  if (!means_absent(GetLastError())) return false;

  // Missing: whoever creates it is the one run that reports.
  if (make_directories(hooks_dir)) return false;
  const UniqueHandle created(CreateFileW(path->c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                                         kShareAll, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                         nullptr));
  if (created) {
    set_times(created.get(), now);
    return false;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  // Another run created it in the meantime, or something else is in the way.
  return renew_unless_renewed(*path, now);
}

}  // namespace tallyhook
