// Times the logging library against spdlog on the same records in the same run, and prints
// the medians as a Markdown table.
//
//   logging_bench STARTUP_ZINDLE STARTUP_SPDLOG [SCALE]   (SCALE < 1 shortens every series)
//
// Both write "[bench] WARNING: request 42 from ann" (spdlog spells the level in lower case, the
// same length) to standard error with threshold WARNING; spdlog is its stderr_logger_mt with
// the pattern "[%n] %l: %v". Every series is run in rounds that alternate which library goes
// first, so that the machine's noise falls on both alike. A write(2) of the finished line is
// the floor. Standard error is re-pointed by this program itself: at /dev/null, then at a file
// opened as a shell's "2>file" opens it, then at a pipe into a child that reads it; the table
// goes to standard output.
#include <fcntl.h>
#include <spawn.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "zindle/logging.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kUser = "ann";
constexpr int kThreads = 4;

// Keeps the compiler from dropping or hoisting a value it could otherwise prove unused.
template <typename T>
void keep(T& value) {
  asm volatile("" : "+r"(value) : : "memory");
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// One contender: a name and a function that logs `count` records, the first numbered `first`.
struct Contender {
  const char* name;
  std::function<void(int first, int count)> run;
};

// Rounds alternate the order; returns each contender's median of `measure(contender)`.
std::vector<double> interleaved(
    const std::vector<Contender>& contenders, int rounds,
    const std::function<double(const Contender&)>& measure,
    const std::function<void()>& between = [] {}) {
  std::vector<std::vector<double>> samples(contenders.size());
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t k = 0; k < contenders.size(); ++k) {
      const std::size_t which =
          round % 2 == 0 ? k : contenders.size() - 1 - k;  // reverse every other round
      between();
      samples[which].push_back(measure(contenders[which]));
    }
  }
  std::vector<double> medians;
  for (auto& series : samples) medians.push_back(median(series));
  return medians;
}

double ns_per_record(const Contender& contender, int count) {
  const Clock::time_point start = Clock::now();
  contender.run(0, count);
  return seconds_since(start) * 1e9 / count;
}

double records_per_second(const Contender& contender, int count) {
  std::vector<std::thread> threads;
  const int share = count / kThreads;
  const Clock::time_point start = Clock::now();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&contender, t, share] { contender.run(t * share, share); });
  }
  for (auto& thread : threads) thread.join();
  return share * kThreads / seconds_since(start);
}

// Starts `program` with standard error on /dev/null, waits for it, and returns milliseconds.
double start_once(const char* program) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(program), nullptr};
  const Clock::time_point start = Clock::now();
  pid_t pid;
  if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) != 0) std::abort();
  int status;
  waitpid(pid, &status, 0);
  const double millis = seconds_since(start) * 1e3;
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
  return millis;
}

void point_stderr_at(const char* path, int flags) {
  const int fd = open(path, flags, 0644);
  if (fd < 0 || dup2(fd, 2) < 0) std::abort();
  close(fd);
}

// The ratio is zindle's figure over spdlog's: below 1 is better for times, above 1 for rates.
void print_row(const char* measure, const char* unit, const std::vector<double>& medians) {
  char floor[32] = "";
  if (medians.size() > 2) std::snprintf(floor, sizeof floor, "%.2f", medians[2]);
  std::printf("| %s, %s | %.2f | %.2f | %.2f | %s |\n", measure, unit, medians[0], medians[1],
              medians[0] / medians[1], floor);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: logging_bench STARTUP_ZINDLE STARTUP_SPDLOG [SCALE]\n");
    return 2;
  }
  const double scale = argc > 3 ? std::atof(argv[3]) : 1.0;
  const auto scaled = [scale](int n) { return std::max(1, static_cast<int>(n * scale)); };
  const int rounds = std::max(3, scaled(9));

  zindle::logging::Logger& zlog = zindle::logging::get_logger("bench");
  auto slog = spdlog::stderr_logger_mt("bench");
  slog->set_pattern("[%n] %l: %v");
  slog->set_level(spdlog::level::warn);

  const std::vector<Contender> filtered = {
      {"zindle",
       [&zlog](int first, int count) {
         for (int i = first; i < first + count; ++i) {
           keep(i);
           zlog.info("request {} from {}", i, kUser);
         }
       }},
      {"spdlog",
       [&slog](int first, int count) {
         for (int i = first; i < first + count; ++i) {
           keep(i);
           slog->info("request {} from {}", i, kUser);
         }
       }},
  };
  const std::vector<Contender> written = {
      {"zindle",
       [&zlog](int first, int count) {
         for (int i = first; i < first + count; ++i) zlog.warning("request {} from {}", i, kUser);
       }},
      {"spdlog",
       [&slog](int first, int count) {
         for (int i = first; i < first + count; ++i) slog->warn("request {} from {}", i, kUser);
       }},
      {"write(2)",
       [](int first, int count) {
         // The finished line, as the floor: no formatting, no locking, one write.
         const std::string line = "[bench] WARNING: request 42 from ann\n";
         for (int i = first; i < first + count; ++i) {
           if (write(2, line.data(), line.size()) < 0) std::abort();
         }
       }},
  };

  const int saved_stderr = dup(2);
  const std::string file =
      (std::filesystem::temp_directory_path() / ("logging_bench." + std::to_string(getpid())))
          .string();
  const auto empty_file = [] {
    if (ftruncate(2, 0) != 0 || lseek(2, 0, SEEK_SET) != 0) std::abort();
  };

  std::printf("| measure | zindle | spdlog | zindle / spdlog | write(2) |\n");
  std::printf("|---|---:|---:|---:|---:|\n");

  const int filtered_count = scaled(20'000'000);
  print_row("call below the threshold", "ns",
            interleaved(filtered, rounds,
                        [&](const Contender& c) { return ns_per_record(c, filtered_count); }));

  const int written_count = scaled(400'000);
  point_stderr_at("/dev/null", O_WRONLY);
  print_row("written record, stderr to /dev/null", "ns",
            interleaved(written, rounds,
                        [&](const Contender& c) { return ns_per_record(c, written_count); }));

  point_stderr_at(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
  print_row("written record, stderr to a file", "ns",
            interleaved(
                written, rounds,
                [&](const Contender& c) { return ns_per_record(c, written_count); }, empty_file));

  const std::vector<Contender> threaded(written.begin(), written.begin() + 2);
  const std::vector<double> per_second = interleaved(
      threaded, rounds, [&](const Contender& c) { return records_per_second(c, written_count); },
      empty_file);
  print_row("4 threads to one file", "k records/s", {per_second[0] / 1e3, per_second[1] / 1e3});

  // A pipe, as when standard error is piped into another program: a child drains it.
  int ends[2];
  if (pipe(ends) != 0) std::abort();
  const pid_t reader = fork();
  if (reader == 0) {
    close(ends[1]);
    static char buffer[1 << 16];
    while (read(ends[0], buffer, sizeof buffer) > 0) {
    }
    _exit(0);
  }
  close(ends[0]);
  if (reader < 0 || dup2(ends[1], 2) < 0) std::abort();
  close(ends[1]);
  print_row("written record, stderr to a pipe", "ns",
            interleaved(written, rounds,
                        [&](const Contender& c) { return ns_per_record(c, written_count); }));

  dup2(saved_stderr, 2);
  close(saved_stderr);
  waitpid(reader, nullptr, 0);
  std::filesystem::remove(file);

  const char* programs[] = {argv[1], argv[2]};
  const std::vector<Contender> startup = {
      {"zindle", [&programs](int, int) { start_once(programs[0]); }},
      {"spdlog", [&programs](int, int) { start_once(programs[1]); }},
  };
  const int starts = scaled(200);
  print_row("whole process: get_logger + one WARNING", "ms",
            interleaved(startup, starts, [](const Contender& c) {
              const Clock::time_point start = Clock::now();
              c.run(0, 1);
              return seconds_since(start) * 1e3;
            }));
  return 0;
}
