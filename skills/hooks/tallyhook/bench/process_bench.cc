// Times whole hook processes against the floor (a static program that only reads its
// input), pairwise and interleaved so that machine noise falls on both alike, and reports
// medians, spread and peak memory as a Markdown table.
//
//   process_bench HOOK FLOOR [SCALE]   (SCALE < 1 shortens every series)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "events.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
  double millis;
  long peak_kib;
};

// Starts `program` with `input` on a pipe as its standard input, as a host does, and
// waits for it.
Run run_once(const std::string& program, const std::string& input) {
  int in[2];
  if (pipe2(in, O_CLOEXEC) != 0) std::abort();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  const Clock::time_point start = Clock::now();
  pid_t pid;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) != 0) std::abort();
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  for (std::size_t done = 0; done < input.size();) {
    const ssize_t n = write(in[1], input.data() + done, input.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(in[1]);
  int status;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double millis = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", program.c_str());
    std::exit(1);
  }
  return Run{millis, usage.ru_maxrss};
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

struct Scenario {
  std::string label;
  std::string input;
  int pairs;
  std::function<void()> before_hook;  // untimed preparation of each hook run
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: process_bench HOOK FLOOR [SCALE]\n");
    return 2;
  }
  const double scale = argc > 3 ? std::atof(argv[3]) : 1.0;
  signal(SIGPIPE, SIG_IGN);

  // A scratch installation: the hook with a zindle beside it that exits at once (the
  // floor program), and a scratch HOME.
  const fs::path root = fs::temp_directory_path() / ("tallyhook-bench-" + std::to_string(getpid()));
  fs::create_directories(root / "bin");
  fs::create_directories(root / "home" / ".zindle" / "hooks");
  fs::copy_file(argv[1], root / "bin" / "tallyhook");
  fs::copy_file(argv[2], root / "bin" / "zindle");
  fs::copy_file(argv[2], root / "floor");
  setenv("HOME", (root / "home").c_str(), 1);
  const std::string hook = (root / "bin" / "tallyhook").string();
  const std::string floor = (root / "floor").string();
  const fs::path marker = root / "home" / ".zindle" / "hooks" / ".dedup_zin-auth";

  auto scaled = [&](int n) { return std::max(5, static_cast<int>(n * scale)); };
  const std::vector<Scenario> scenarios = {
      {"(a) Read event, 1.5 KB", tallyhook::bench::read_event(), scaled(2000), {}},
      {"(b) Write event, 100 KB", tallyhook::bench::write_event(100 << 10), scaled(1000), {}},
      {"(c) Write event, 5 MB of strings", tallyhook::bench::write_event(5 << 20), scaled(200), {}},
      {"(d) 8 MB of small objects", tallyhook::bench::rows_event(8 << 20), scaled(200), {}},
      {"(e) skill, repeat suppressed", tallyhook::bench::skill_event(), scaled(1000),
       [&] {
         if (!fs::exists(marker)) std::fclose(std::fopen(marker.c_str(), "w"));
         // Fresh for the whole series.
         fs::last_write_time(marker, fs::file_time_type::clock::now() + std::chrono::hours(1));
       }},
      {"(f) skill, reported", tallyhook::bench::skill_event(), scaled(1000),
       [&] { fs::remove(marker); }},
  };

  std::printf("| event | floor median ms | hook median ms | hook p10-p90 ms | ratio |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  for (const Scenario& s : scenarios) {
    for (int i = 0; i < 20; ++i) {  // warm-up
      run_once(floor, s.input);
      if (s.before_hook) s.before_hook();
      run_once(hook, s.input);
    }
    std::vector<double> floor_ms, hook_ms;
    for (int i = 0; i < s.pairs; ++i) {
      if (s.before_hook) s.before_hook();
      // Alternate which goes first, so neither always runs on a cache the other warmed.
      if (i % 2 == 0) {
        floor_ms.push_back(run_once(floor, s.input).millis);
        hook_ms.push_back(run_once(hook, s.input).millis);
      } else {
        hook_ms.push_back(run_once(hook, s.input).millis);
        floor_ms.push_back(run_once(floor, s.input).millis);
      }
    }
    const double f = percentile(floor_ms, 0.5), h = percentile(hook_ms, 0.5);
    std::printf("| %s | %.3f | %.3f | %.3f-%.3f | %.2f |\n", s.label.c_str(), f, h,
                percentile(hook_ms, 0.1), percentile(hook_ms, 0.9), h / f);
    std::fflush(stdout);
  }

  std::printf("\n| event | input MiB | floor peak RSS MiB | hook peak RSS MiB | hook / input |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  const std::vector<std::pair<std::string, std::string>> memory_cases = {
      {"(a) Read event, 1.5 KB", tallyhook::bench::read_event()},
      {"(d) 8 MB of small objects", tallyhook::bench::rows_event(8 << 20)},
      {"100 MiB Write event", tallyhook::bench::write_event(100 << 20)},
  };
  for (const auto& [label, input] : memory_cases) {
    long floor_kib = 0, hook_kib = 0;
    auto mib_of = [](long kib) { return static_cast<double>(kib) / 1024.0; };
    for (int i = 0; i < 3; ++i) {
      floor_kib = std::max(floor_kib, run_once(floor, input).peak_kib);
      hook_kib = std::max(hook_kib, run_once(hook, input).peak_kib);
    }
    const double mib = static_cast<double>(input.size()) / (1 << 20);
    std::printf("| %s | %.2f | %.2f | %.2f | %.2f |\n", label.c_str(), mib, mib_of(floor_kib),
                mib_of(hook_kib), mib_of(hook_kib) / mib);
  }
  fs::remove_all(root);
  return 0;
}
