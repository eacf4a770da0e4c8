#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "posix_fd.h"
#include "subprocess.h"

#if defined(__linux__)
#include <sys/syscall.h>
#endif

extern char** environ;

namespace tallyhook {
namespace {

using Clock = std::chrono::steady_clock;

Error system_error(const std::string& what, int code) {
  return Error{what + ": " + std::strerror(code)};
}

bool make_pipe(UniqueFd* read_end, UniqueFd* write_end) {
  int fds[2];
#if defined(__linux__)
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
#else
  if (pipe(fds) != 0) return false;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
  read_end->reset(fds[0]);
  write_end->reset(fds[1]);
  return true;
}

// A descriptor that becomes readable when the child exits, so that one poll waits for
// output and exit together; none where the system has no such thing.
UniqueFd exit_notifier(pid_t pid) {
#if defined(__linux__) && defined(SYS_pidfd_open)
  return UniqueFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
#else
  (void)pid;
  return UniqueFd();
#endif
}

// The spawn set-up, released however the start goes.
class SpawnSettings {
 public:
  SpawnSettings(int stdout_fd, int stderr_fd) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_adddup2(&actions_, stdout_fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions_, stderr_fd, STDERR_FILENO);
    posix_spawnattr_init(&attributes_);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    // Descriptors the host let us inherit are not the child's business.
    posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
#elif defined(__APPLE__)
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    posix_spawn_file_actions_addinherit_np(&actions_, STDIN_FILENO);
#endif
    posix_spawnattr_setflags(&attributes_, flags);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes_, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;
  ~SpawnSettings() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// Reads whatever is waiting on `fd` and drops it; closes `fd` at end of stream.
void drain(UniqueFd* fd) {
  char buffer[65536];
  const ssize_t n = read(fd->get(), buffer, sizeof buffer);
  if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) fd->reset();
}

}  // namespace

Status run_discarding_output(const std::vector<std::string>& argv,
                             std::chrono::milliseconds time_limit) {
  const Clock::time_point deadline = Clock::now() + time_limit;
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    if (arg.find('\0') != std::string::npos) return Error{"an argument holds a NUL character"};
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  if (args.empty()) return Error{"no program to start"};
  args.push_back(nullptr);

  UniqueFd out_read, out_write, err_read, err_write;
  if (!make_pipe(&out_read, &out_write) || !make_pipe(&err_read, &err_write)) {
    return system_error("cannot create a pipe", errno);
  }
  pid_t pid;
  int rc;
  {
    const SpawnSettings settings(out_write.get(), err_write.get());
    rc =
        posix_spawn(&pid, args[0], settings.actions(), settings.attributes(), args.data(), environ);
  }
  out_write.reset();
  err_write.reset();
  if (rc != 0) return system_error("cannot start " + argv[0], rc);

  const UniqueFd exit_fd = exit_notifier(pid);
  bool exited = false;
  while (out_read || err_read || !exited) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd fds[3];
    nfds_t count = 0;
    for (const UniqueFd* fd : {&out_read, &err_read}) {
      if (*fd) fds[count++] = pollfd{fd->get(), POLLIN, 0};
    }
    int timeout = static_cast<int>(left.count());
    if (!exited) {
      if (exit_fd) {
        fds[count++] = pollfd{exit_fd.get(), POLLIN, 0};
      } else if (count == 0) {
        timeout = std::min(timeout, 5);  // no exit notification: look again shortly
      }
    }
    if (poll(fds, count, timeout) < 0 && errno != EINTR) break;
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0 || fds[i].fd == exit_fd.get()) continue;
      drain(fds[i].fd == out_read.get() ? &out_read : &err_read);
    }
    if (!exited) {
      // ECHILD: the host ignores SIGCHLD, so the system reaped the child itself.
      const pid_t reaped = waitpid(pid, nullptr, WNOHANG);
      exited = reaped == pid || (reaped < 0 && errno == ECHILD);
    }
  }
  if (!exited) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  if (!exited || out_read || err_read) {
    return Error{argv[0] + " did not finish within " + std::to_string(time_limit.count()) + " ms"};
  }
  return ok_status();
}

}  // namespace tallyhook
