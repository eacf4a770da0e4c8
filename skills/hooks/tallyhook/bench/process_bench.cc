// Times whole hook processes against the floor (a static program that only reads its
// input), pairwise and interleaved so that machine noise falls on both alike, and reports
// medians, spread and peak memory as Markdown tables.
//
//   process_bench HOOK FLOOR PEAK_RSS [SCALE]   (SCALE < 1 shortens every series)
//
// Large events are timed twice: through a pipe, and with standard input redirected from the
// file. The events are written to files first and streamed from there, so that this process stays
// small: a child started from it inherits its peak resident size in the kernel's books.
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

// How the event reaches the program's standard input.
enum class Feed {
  kPipe,  // written to a pipe as the program reads it, as a host does
  kFile,  // the file itself, as when standard input is redirected from it
};

// Starts `argv[0]` with the file `input` as its standard input, fed as told, waits for it,
// and returns the milliseconds it took; its standard output goes to `output`.
double run_once(std::vector<std::string> argv, const fs::path& input, Feed feed = Feed::kPipe,
                const char* output = "/dev/null") {
  int in[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (feed == Feed::kPipe) {
    if (pipe2(in, O_CLOEXEC) != 0) std::abort();
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args;
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  const Clock::time_point start = Clock::now();
  pid_t pid;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) std::abort();
  posix_spawn_file_actions_destroy(&actions);
  if (feed == Feed::kPipe) {
    close(in[0]);
    static char buffer[1 << 16];
    const int file = open(input.c_str(), O_RDONLY | O_CLOEXEC);
    for (ssize_t got; (got = read(file, buffer, sizeof buffer)) > 0;) {
      for (ssize_t done = 0; done < got;) {
        const ssize_t n = write(in[1], buffer + done, static_cast<std::size_t>(got - done));
        if (n <= 0) break;
        done += n;
      }
    }
    close(file);
    close(in[1]);
  }
  int status;
  waitpid(pid, &status, 0);
  const double millis = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", args[0]);
    std::exit(1);
  }
  return millis;
}

// Peak resident set size of `program` on `input`, in MiB, as measured by the small
// launcher `peak_rss`.
double peak_mib(const std::string& peak_rss, const std::string& program, const fs::path& input,
                const fs::path& scratch) {
  const fs::path report = scratch / "peak.txt";
  run_once({peak_rss, program}, input, Feed::kPipe, report.c_str());
  std::FILE* file = std::fopen(report.c_str(), "r");
  long kib = 0;
  if (file == nullptr || std::fscanf(file, "%ld", &kib) != 1) std::abort();
  std::fclose(file);
  return static_cast<double>(kib) / 1024.0;
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

struct Scenario {
  std::string label;
  fs::path input;
  int pairs;
  std::function<void()> before_hook;  // untimed preparation of each hook run
  Feed feed = Feed::kPipe;
};

int write_events(const fs::path& dir) {
  const std::pair<const char*, std::function<std::string()>> events[] = {
      {"a.json", tallyhook::bench::read_event},
      {"b.json", [] { return tallyhook::bench::write_event(100 << 10); }},
      {"c.json", [] { return tallyhook::bench::write_event(5 << 20); }},
      {"d.json", [] { return tallyhook::bench::rows_event(8 << 20); }},
      {"skill.json", tallyhook::bench::skill_event},
      {"big.json", [] { return tallyhook::bench::write_event(100 << 20); }},
      {"patch.json", [] { return tallyhook::bench::apply_patch_event(100 << 20); }},
      {"bash.json", [] { return tallyhook::bench::long_bash_event(100 << 20); }},
      {"kept.json", [] { return tallyhook::bench::longest_kept_event(100 << 20); }},
  };
  for (const auto& [name, make] : events) {
    const std::string event = make();
    std::FILE* file = std::fopen((dir / name).c_str(), "wb");
    if (file == nullptr || std::fwrite(event.data(), 1, event.size(), file) != event.size() ||
        std::fclose(file) != 0) {
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: process_bench HOOK FLOOR PEAK_RSS [SCALE]\n");
    return 2;
  }
  const double scale = argc > 4 ? std::atof(argv[4]) : 1.0;
  const std::string peak_rss = fs::absolute(argv[3]).string();
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
  // Made by a child of ours, so that the large strings never count against this process.
  const pid_t writer = fork();
  if (writer == 0) _exit(write_events(root));
  int writer_status;
  waitpid(writer, &writer_status, 0);
  if (!WIFEXITED(writer_status) || WEXITSTATUS(writer_status) != 0) return 1;
  const fs::path read_event = root / "a.json", write_100k = root / "b.json",
                 write_5m = root / "c.json", rows_8m = root / "d.json", skill = root / "skill.json",
                 write_100m = root / "big.json", patch_100m = root / "patch.json",
                 bash_100m = root / "bash.json", kept_100m = root / "kept.json";

  auto scaled = [&](int n) { return std::max(5, static_cast<int>(n * scale)); };
  const std::vector<Scenario> scenarios = {
      {"(a) Read event, 1.5 KB", read_event, scaled(2000), {}},
      {"(b) Write event, 100 KB", write_100k, scaled(1000), {}},
      {"(c) Write event, 5 MB of strings", write_5m, scaled(200), {}},
      {"(d) 8 MB of small objects", rows_8m, scaled(200), {}},
      {"(c) Write event, 5 MB of strings, from a file", write_5m, scaled(200), {}, Feed::kFile},
      {"(d) 8 MB of small objects, from a file", rows_8m, scaled(200), {}, Feed::kFile},
      {"(e) skill, repeat suppressed", skill, scaled(1000),
       [&] {
         if (!fs::exists(marker)) std::fclose(std::fopen(marker.c_str(), "w"));
         // Fresh for the whole series.
         fs::last_write_time(marker, fs::file_time_type::clock::now() + std::chrono::hours(1));
       }},
      {"(f) skill, reported", skill, scaled(1000), [&] { fs::remove(marker); }},
  };

  std::printf("| event | floor median ms | hook median ms | hook p10-p90 ms | ratio |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  for (const Scenario& s : scenarios) {
    for (int i = 0; i < 20; ++i) {  // warm-up
      run_once({floor}, s.input, s.feed);
      if (s.before_hook) s.before_hook();
      run_once({hook}, s.input, s.feed);
    }
    std::vector<double> floor_ms, hook_ms;
    for (int i = 0; i < s.pairs; ++i) {
      if (s.before_hook) s.before_hook();
      // Alternate which goes first, so neither always runs on a cache the other warmed.
      if (i % 2 == 0) {
        floor_ms.push_back(run_once({floor}, s.input, s.feed));
        hook_ms.push_back(run_once({hook}, s.input, s.feed));
      } else {
        hook_ms.push_back(run_once({hook}, s.input, s.feed));
        floor_ms.push_back(run_once({floor}, s.input, s.feed));
      }
    }
    const double f = percentile(floor_ms, 0.5), h = percentile(hook_ms, 0.5);
    std::printf("| %s | %.3f | %.3f | %.3f-%.3f | %.2f |\n", s.label.c_str(), f, h,
                percentile(hook_ms, 0.1), percentile(hook_ms, 0.9), h / f);
    std::fflush(stdout);
  }

  std::printf("\n| event | input MiB | floor peak RSS MiB | hook peak RSS MiB |\n");
  std::printf("|---|---:|---:|---:|\n");
  const std::pair<const char*, fs::path> memory_cases[] = {
      {"(a) Read event, 1.5 KB", read_event},
      {"(d) 8 MB of small objects", rows_8m},
      {"100 MiB Write event", write_100m},
      {"100 MiB apply_patch event", patch_100m},
      {"100 MiB Bash command, tool_name last", bash_100m},
      {"100 MiB, every kept text at its longest", kept_100m},
  };
  for (const auto& [label, input] : memory_cases) {
    const double mib = static_cast<double>(fs::file_size(input)) / (1 << 20);
    std::printf("| %s | %.2f | %.2f | %.2f |\n", label, mib, peak_mib(peak_rss, floor, input, root),
                peak_mib(peak_rss, hook, input, root));
  }
  fs::remove_all(root);
  return 0;
}
