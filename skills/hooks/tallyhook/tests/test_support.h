#ifndef TALLYHOOK_TESTS_TEST_SUPPORT_H_
#define TALLYHOOK_TESTS_TEST_SUPPORT_H_

#include <sys/types.h>

#include <filesystem>
#include <map>
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
// A shell script with the given body, executable.
void write_script(const std::filesystem::path& path, const std::string& body);
std::vector<std::string> read_lines(const std::filesystem::path& path);

WallTime modification_time(const std::filesystem::path& path);
void set_modification_time(const std::filesystem::path& path, WallTime time);

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

// A started program whose standard input is a pipe held open until finish().
class RunningProcess {
 public:
  explicit RunningProcess(const ProcessOptions& options);
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;
  ~RunningProcess();
  // Writes `input` to the program's standard input, closes it and waits for the end.
  ProcessResult finish(const std::string& input);

 private:
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  std::filesystem::path out_path_, err_path_;
};

ProcessResult run_process(const ProcessOptions& options, const std::string& input);

}  // namespace tallyhook::testing

#endif  // TALLYHOOK_TESTS_TEST_SUPPORT_H_
