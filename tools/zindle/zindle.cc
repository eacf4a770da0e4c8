// Stand-in for the product's command-line tool: accepts only
//   zindle skills report-usage NAME
// and appends "<UTC time>\t<NAME>" to $HOME/.zindle/usage.log.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include <zindle/logging.h>

namespace {

constexpr int kUsageError = 2;

std::string utc_timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() %
      1000000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%06ldZ", static_cast<long>(micros));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  auto& log = zindle::logging::get_logger();
  if (argc != 4 || std::string_view(argv[1]) != "skills" ||
      std::string_view(argv[2]) != "report-usage") {
    log.error("usage: zindle skills report-usage NAME");
    return kUsageError;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    log.warning("HOME is not set; usage of {} not recorded", argv[3]);
    return 1;
  }
  const std::filesystem::path usage_log = std::filesystem::path(home) / ".zindle" / "usage.log";
  std::error_code error;
  std::filesystem::create_directories(usage_log.parent_path(), error);
  const std::string line = utc_timestamp() + "\t" + argv[3] + "\n";
  // One write of the whole line: reports made at the same moment never interleave.
  std::FILE* file = std::fopen(usage_log.c_str(), "a");
  const bool written = file != nullptr && std::fputs(line.c_str(), file) >= 0;
  if (file == nullptr || std::fclose(file) != 0 || !written) {
    log.warning("cannot write {}; usage of {} not recorded", usage_log.string(), argv[3]);
    return 1;
  }
  return 0;
}
