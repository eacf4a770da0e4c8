// Stand-in for the product's command-line tool: accepts only
//   zindle skills report-usage NAME
// and appends "<UTC time>\t<NAME>" to $HOME/.zindle/usage.log (on Windows without HOME, to
// .zindle\usage.log in the user's profile folder).
#include <zindle/logging.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace {

constexpr int kUsageError = 2;

std::string utc_timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() %
      1000000;
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%06ldZ", static_cast<long>(micros));
  return text;
}

#ifdef _WIN32
std::string utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
  result.pop_back();  // the terminating NUL
  return result;
}

std::optional<std::filesystem::path> home_directory() {
  for (const wchar_t* name : {L"HOME", L"USERPROFILE"}) {
    if (const wchar_t* value = _wgetenv(name); value != nullptr && *value != L'\0') return value;
  }
  return std::nullopt;
}

// FILE_APPEND_DATA alone makes every write land at the end, as O_APPEND does on POSIX.
bool append_line(const std::filesystem::path& path, const std::string& line) {
  const HANDLE file =
      CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
      written == line.size();
  return CloseHandle(file) && ok;
}
#else
std::optional<std::filesystem::path> home_directory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  return std::nullopt;
}

// One write of the whole line: reports made at the same moment never interleave.
bool append_line(const std::filesystem::path& path, const std::string& line) {
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (file == nullptr) return false;
  const bool written = std::fputs(line.c_str(), file) >= 0;
  return std::fclose(file) == 0 && written;
}
#endif

int run(const std::vector<std::string>& args) {
  auto& log = zindle::logging::get_logger();
  if (args.size() != 4 || args[1] != "skills" || args[2] != "report-usage") {
    log.error("usage: zindle skills report-usage NAME");
    return kUsageError;
  }
  const std::string& name = args[3];
  const std::optional<std::filesystem::path> home = home_directory();
  if (!home) {
    log.warning("HOME is not set; usage of {} not recorded", name);
    return 1;
  }
  const std::filesystem::path usage_log = *home / ".zindle" / "usage.log";
  std::error_code error;
  std::filesystem::create_directories(usage_log.parent_path(), error);
  if (!append_line(usage_log, utc_timestamp() + "\t" + name + "\n")) {
    log.warning("cannot write the usage log; usage of {} not recorded", name);
    return 1;
  }
  return 0;
}

}  // namespace

#ifdef _WIN32
// The wide entry point: the arguments arrive exactly as given, not in the ANSI code page.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(utf8(argv[i]));
  return run(args);
}
#else
int main(int argc, char** argv) { return run(std::vector<std::string>(argv, argv + argc)); }
#endif
