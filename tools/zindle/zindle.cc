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
  if (argc != 4 || std::string_view(argv[1]) != "skills" ||
      std::string_view(argv[2]) != "report-usage") {
    std::fputs("usage: zindle skills report-usage NAME\n", stderr);
    return kUsageError;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    std::fputs("zindle: HOME is not set; usage not recorded\n", stderr);
    return 1;
  }
  const std::filesystem::path dir = std::filesystem::path(home) / ".zindle";
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  const std::string line = utc_timestamp() + "\t" + argv[3] + "\n";
  std::FILE* log = std::fopen((dir / "usage.log").c_str(), "a");
  if (log == nullptr || std::fputs(line.c_str(), log) < 0 || std::fclose(log) != 0) {
    std::fprintf(stderr, "zindle: cannot write %s\n", (dir / "usage.log").c_str());
    return 1;
  }
  return 0;
}
