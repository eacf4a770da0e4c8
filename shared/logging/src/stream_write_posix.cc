#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "stream_write.h"

namespace zindle::logging::detail {
namespace {

// A write to a pipe or socket whose reader has gone raises SIGPIPE, which ends the process by
// default; standard error is often a pipe. Neither a pipe nor a socket can seek, so a descriptor
// that can needs no guard: asking is one system call, the cheapest that tells them apart, and
// it is asked for every record because standard error may have been re-pointed (dup2) since the
// last one. Anything else (a terminal, a closed descriptor, a stream with none) is guarded.
bool may_raise_sigpipe(int fd) { return fd < 0 || lseek(fd, 0, SEEK_CUR) < 0; }

bool sigpipe_pending() {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

// A library must not change the process's signal dispositions, so SIGPIPE is blocked in this
// thread for the write instead, and a SIGPIPE that the write itself raised is taken back before
// the old mask returns. The write then fails with EPIPE and the record is dropped.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipe_only_);
    sigaddset(&pipe_only_, SIGPIPE);
    active_ = pthread_sigmask(SIG_BLOCK, &pipe_only_, &saved_) == 0;
    was_blocked_ = active_ && sigismember(&saved_, SIGPIPE) == 1;
    // An unblocked SIGPIPE is delivered at once, so only one that was blocked can be pending
    // already; that one belongs to someone else and is left alone.
    was_pending_ = was_blocked_ && sigpipe_pending();
  }
  ~SigpipeGuard() {
    if (active_ && !was_blocked_) pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  bool active() const { return active_; }

  // After a write that failed or fell short, the only kind that can have raised the signal.
  void take_back_own() {
    if (was_pending_) return;
    const timespec no_wait{};
    while (sigtimedwait(&pipe_only_, nullptr, &no_wait) == -1 && errno == EINTR) {
    }
  }

 private:
  sigset_t pipe_only_;
  sigset_t saved_;
  bool active_ = false;
  bool was_blocked_ = false;
  bool was_pending_ = false;
};

bool write_all(int fd, std::string_view line) {
  while (!line.empty()) {
    const ssize_t written = write(fd, line.data(), line.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    line.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// What the caller left in the stream's buffer goes first; the line itself then goes straight to
// the descriptor, one write, without a second copy through the buffer. A stream without a
// descriptor (fopencookie, fmemopen) takes it through its own functions.
bool write_through(std::FILE* stream, int fd, std::string_view line) {
  if (std::fflush(stream) != 0) return false;
  if (fd >= 0) return write_all(fd, line);
  const bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size();
  return std::fflush(stream) == 0 && written;
}

}  // namespace

bool write_line(std::FILE* stream, std::string_view line) noexcept {
  const int saved_errno = errno;  // callers often log between a failure and reading errno
  bool written = false;
  flockfile(stream);
  const int fd = fileno(stream);
  if (!may_raise_sigpipe(fd)) {
    written = write_through(stream, fd, line);
  } else {
    SigpipeGuard guard;
    // Without the guard the write could end the process: the record is dropped instead.
    if (guard.active()) {
      written = write_through(stream, fd, line);
      if (!written) guard.take_back_own();
    }
  }
  funlockfile(stream);
  errno = saved_errno;
  return written;
}

}  // namespace zindle::logging::detail
