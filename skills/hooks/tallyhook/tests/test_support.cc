#include "test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tallyhook::testing {
namespace {

void check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tallyhook-test-XXXXXX").string();
  check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests take write and search permission away from some directories.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored)) {
    if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
      chmod(entry.path().c_str(), 0700);
  }
  std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::filesystem::path& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  check(static_cast<bool>(file), "write " + path.string());
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

void write_script(const std::filesystem::path& path, const std::string& body) {
  write_file(path, "#!/bin/sh\n" + body + "\n");
  check(chmod(path.c_str(), 0755) == 0, "chmod " + path.string());
}

std::vector<std::string> read_lines(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

WallTime modification_time(const std::filesystem::path& path) {
  struct stat st;
  check(stat(path.c_str(), &st) == 0, "stat " + path.string());
  return std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec);
}

void set_modification_time(const std::filesystem::path& path, WallTime time) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
  timespec t{};
  t.tv_sec = static_cast<time_t>(seconds.count());
  t.tv_nsec = static_cast<long>((time - seconds).count());
  const timespec times[2] = {t, t};
  check(utimensat(AT_FDCWD, path.c_str(), times, 0) == 0, "utimensat " + path.string());
}

RunningProcess::RunningProcess(const ProcessOptions& options) {
  static std::atomic<int> counter{0};
  const int id = counter++;
  out_path_ =
      options.output_dir / ("stdout." + std::to_string(getpid()) + "." + std::to_string(id));
  err_path_ =
      options.output_dir / ("stderr." + std::to_string(getpid()) + "." + std::to_string(id));

  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::size_t eq = entry.find('=');
    if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : options.env) {
    if (value) {
      env[name] = *value;
    } else {
      env.erase(name);
    }
  }
  std::vector<std::string> env_entries;
  for (const auto& [name, value] : env) env_entries.push_back(name + "=" + value);
  std::vector<char*> envp, argv;
  for (auto& entry : env_entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = options.argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int in[2];
  check(pipe2(in, O_CLOEXEC) == 0, "pipe");
  stdin_fd_ = in[1];
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (options.cwd) posix_spawn_file_actions_addchdir_np(&actions, options.cwd->c_str());
  const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  if (rc != 0) {
    errno = rc;
    check(false, "posix_spawn " + options.argv[0]);
  }
}

RunningProcess::~RunningProcess() {
  if (stdin_fd_ >= 0) close(stdin_fd_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

ProcessResult RunningProcess::finish(const std::string& input) {
  signal(SIGPIPE, SIG_IGN);  // a program that does not read its input is not our failure
  std::size_t done = 0;
  while (done < input.size()) {
    const ssize_t n = write(stdin_fd_, input.data() + done, input.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(stdin_fd_);
  stdin_fd_ = -1;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  ProcessResult result;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = read_file(out_path_);
  result.err = read_file(err_path_);
  result.read_all_input = done == input.size();
  return result;
}

ProcessResult run_process(const ProcessOptions& options, const std::string& input) {
  return RunningProcess(options).finish(input);
}

}  // namespace tallyhook::testing
