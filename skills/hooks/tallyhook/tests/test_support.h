#ifndef TALLYHOOK_TESTS_TEST_SUPPORT_H_
#define TALLYHOOK_TESTS_TEST_SUPPORT_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dedup_window.h"

namespace tallyhook::testing {

// A fresh directory under the system's temporary directory, removed with all it holds.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const std::string& content);
std::string read_file(const std::filesystem::path& path);
std::vector<std::string> read_lines(const std::filesystem::path& path);

// A file's modification time, read and set with the file system's full precision.
WallTime modification_time(const std::filesystem::path& path);
void set_modification_time(const std::filesystem::path& path, WallTime time);
// Dates a file in whole seconds since the epoch, also beyond the years WallTime can hold.
void set_modification_time(const std::filesystem::path& path, std::int64_t seconds);

// Sets (or, for nothing, removes) variables of this process's environment, which programs it
// starts inherit, and puts back what was there when it goes.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::map<std::string, std::optional<std::string>>& values);
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment();

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// Whether the process with this id is still running; ends it.
bool process_running(int pid);
void kill_process(int pid);

// Takes the lock that a run of the hook holds on a marker while it decides whether to renew
// it, as another run would at that moment; releases it when it goes.
class MarkerLock {
 public:
  explicit MarkerLock(const std::filesystem::path& marker);
  MarkerLock(const MarkerLock&) = delete;
  MarkerLock& operator=(const MarkerLock&) = delete;
  ~MarkerLock();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Creates a symbolic link at `link` to `target`; false where the system cannot (wine
// reports success but makes none).
bool create_symlink(const std::filesystem::path& target, const std::filesystem::path& link);

// How a stand-in for the product's tool behaves, in the two forms the platforms can run.
struct ToolScript {
  std::string shell;  // POSIX: the body of a shell script
  // Windows, which runs no scripts: the steps of the test stand-in program, each a word and
  // its arguments (see stand_in_win32.cc).
  std::vector<std::vector<std::string>> steps;
};

// Puts at `path` a program that behaves as `script` says.
void install_tool(const std::filesystem::path& path, const ToolScript& script);

struct ProcessOptions {
  std::vector<std::string> argv;                          // argv[0] is the path to start
  std::map<std::string, std::optional<std::string>> env;  // overrides; nullopt unsets
  std::optional<std::filesystem::path> cwd;
  std::filesystem::path output_dir;  // where stdout and stderr are captured
};

struct ProcessResult {
  int exit_status = -1;  // -1 when ended by a signal
  std::string out;
  std::string err;
  bool read_all_input = false;  // the program took every byte of its standard input
};

// A started program whose standard input is a pipe held open until send().
class RunningProcess {
 public:
  explicit RunningProcess(const ProcessOptions& options);
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;
  ~RunningProcess();  // ends a program still running

  // Writes `input` to the program's standard input and closes it.
  void send(const std::string& input);
  // Waits for the program to end; after send().
  ProcessResult wait();
  ProcessResult finish(const std::string& input) {
    send(input);
    return wait();
  }

 private:
  struct State;
  std::unique_ptr<State> state_;
};

ProcessResult run_process(const ProcessOptions& options, const std::string& input);

}  // namespace tallyhook::testing

#endif  // TALLYHOOK_TESTS_TEST_SUPPORT_H_
