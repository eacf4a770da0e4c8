#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "test_support.h"

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
  // Resolved, so that it reads as the paths a program sees (getcwd): on macOS the temporary
  // directory is under /var, a link to /private/var.
  path_ = std::filesystem::canonical(pattern);
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

WallTime modification_time(const std::filesystem::path& path) {
  struct stat st;
  check(stat(path.c_str(), &st) == 0, "stat " + path.string());
#if defined(__APPLE__)
  const timespec& modified = st.st_mtimespec;
#else
  const timespec& modified = st.st_mtim;
#endif
  return std::chrono::seconds(modified.tv_sec) + std::chrono::nanoseconds(modified.tv_nsec);
}

namespace {

void set_times(const std::filesystem::path& path, const timespec& t) {
  const timespec times[2] = {t, t};
  check(utimensat(AT_FDCWD, path.c_str(), times, 0) == 0, "utimensat " + path.string());
}

}  // namespace

void set_modification_time(const std::filesystem::path& path, WallTime time) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
  timespec t{};
  t.tv_sec = static_cast<time_t>(seconds.count());
  t.tv_nsec = static_cast<long>((time - seconds).count());
  set_times(path, t);
}

void set_modification_time(const std::filesystem::path& path, std::int64_t seconds) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(seconds);
  set_times(path, t);
}

ScopedEnvironment::ScopedEnvironment(
    const std::map<std::string, std::optional<std::string>>& values) {
  for (const auto& [name, value] : values) {
    const char* old = std::getenv(name.c_str());
    saved_[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

bool process_running(int pid) { return !(kill(pid, 0) != 0 && errno == ESRCH); }

void kill_process(int pid) { kill(pid, SIGKILL); }

struct MarkerLock::State {
  int fd = -1;
};

MarkerLock::MarkerLock(const std::filesystem::path& marker) : state_(std::make_unique<State>()) {
  state_->fd = open(marker.c_str(), O_RDONLY | O_CLOEXEC);
  check(state_->fd >= 0 && flock(state_->fd, LOCK_EX) == 0, "lock " + marker.string());
}

MarkerLock::~MarkerLock() {
  if (state_->fd >= 0) close(state_->fd);
}

bool create_symlink(const std::filesystem::path& target, const std::filesystem::path& link) {
  std::filesystem::create_symlink(target, link);
  return true;
}

void install_tool(const std::filesystem::path& path, const ToolScript& script) {
  write_file(path, "#!/bin/sh\n" + script.shell + "\n");
  check(chmod(path.c_str(), 0755) == 0, "chmod " + path.string());
}

struct RunningProcess::State {
  pid_t pid = -1;
  int stdin_fd = -1;
  std::filesystem::path out_path, err_path;
  bool read_all_input = false;
};

RunningProcess::RunningProcess(const ProcessOptions& options) : state_(std::make_unique<State>()) {
  static std::atomic<int> counter{0};
  const int id = counter++;
  state_->out_path =
      options.output_dir / ("stdout." + std::to_string(getpid()) + "." + std::to_string(id));
  state_->err_path =
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
#if defined(__APPLE__)  // no pipe2
  check(pipe(in) == 0 && fcntl(in[0], F_SETFD, FD_CLOEXEC) == 0 &&
            fcntl(in[1], F_SETFD, FD_CLOEXEC) == 0,
        "pipe");
#else
  check(pipe2(in, O_CLOEXEC) == 0, "pipe");
#endif
  state_->stdin_fd = in[1];
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, state_->out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, state_->err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (options.cwd) posix_spawn_file_actions_addchdir_np(&actions, options.cwd->c_str());
  const int rc = posix_spawn(&state_->pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  if (rc != 0) {
    errno = rc;
    check(false, "posix_spawn " + options.argv[0]);
  }
}

RunningProcess::~RunningProcess() {
  if (state_->stdin_fd >= 0) close(state_->stdin_fd);
  if (state_->pid > 0) {
    kill(state_->pid, SIGKILL);
    waitpid(state_->pid, nullptr, 0);
  }
}

void RunningProcess::send(const std::string& input) {
  signal(SIGPIPE, SIG_IGN);  // a program that does not read its input is not our failure
  std::size_t done = 0;
  while (done < input.size()) {
    const ssize_t n = write(state_->stdin_fd, input.data() + done, input.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(state_->stdin_fd);
  state_->stdin_fd = -1;
  state_->read_all_input = done == input.size();
}

ProcessResult RunningProcess::wait() {
  int status = 0;
  while (waitpid(state_->pid, &status, 0) < 0 && errno == EINTR) {
  }
  state_->pid = -1;
  ProcessResult result;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = read_file(state_->out_path);
  result.err = read_file(state_->err_path);
  result.read_all_input = state_->read_all_input;
  return result;
}

}  // namespace tallyhook::testing
