#include <pthread.h>
#include <signal.h>
#if defined(__GLIBC__)
#include <stdio_ext.h>
#endif
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "stream_write.h"

namespace zindle::logging::detail {
namespace {

// pread and write are cancellation points: in a program with threads, glibc wraps each in two
// atomic updates of the thread's cancellation state, and a cancellation taken inside the
// stream's lock would leave it locked and unwind through noexcept code. The system calls
// themselves are neither.
#if defined(__linux__) && defined(__LP64__)
ssize_t write_fd(int fd, const char* data, std::size_t size) {
  return syscall(SYS_write, fd, data, size);
}
ssize_t pread_fd(int fd, char* data, std::size_t size, off_t offset) {
  return syscall(SYS_pread64, fd, data, size, offset);
}
#else
ssize_t write_fd(int fd, const char* data, std::size_t size) { return write(fd, data, size); }
ssize_t pread_fd(int fd, char* data, std::size_t size, off_t offset) {
  return pread(fd, data, size, offset);
}
#endif

// A write to a pipe or socket whose reader has gone raises SIGPIPE, which ends the process by
// default; standard error is often a pipe. Neither a pipe nor a socket can be read at an offset:
// a read of nothing at offset 0 fails with ESPIPE for them, and only for them and for
// terminals. That is one system call, the cheapest that tells them apart; unlike lseek it does
// not take the kernel's lock on the file position, which the other threads' writes hold. It is
// asked for every record because standard error may have been re-pointed (dup2) since the last
// one. EBADF, a descriptor that is closed or not open for reading, needs no guard either: for a
// pipe or socket the answer would have been ESPIPE. Anything unexpected is guarded.
bool may_raise_sigpipe(int fd) {
  if (fd < 0) return true;  // a stream without a descriptor may write anywhere
  char nothing;
  return pread_fd(fd, &nothing, 0, 0) < 0 && errno != EBADF;
}

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
    const ssize_t written = write_fd(fd, line.data(), line.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    line.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Whether the stream's buffer holds anything that must go before the line, or it was last read
// from (flushing puts the descriptor back where the reader is). Asked first because the answer
// is nearly always no, and fflush is a function call and a lock even then.
bool needs_flush(std::FILE* stream) {
#if defined(__GLIBC__)
  return __fpending(stream) != 0 || __freading(stream) != 0;
#else
  static_cast<void>(stream);
  return true;
#endif
}

// What the caller left in the stream's buffer goes first; the line itself then goes straight to
// the descriptor, one write, without a second copy through the buffer. A stream without a
// descriptor (fopencookie, fmemopen) takes it through its own functions.
bool write_through(std::FILE* stream, int fd, std::string_view line) {
  if (needs_flush(stream) && std::fflush(stream) != 0) return false;
  if (fd >= 0) return write_all(fd, line);
  const bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size();
  return std::fflush(stream) == 0 && written;
}

}  // namespace

bool write_line(std::FILE* stream, std::string_view line) noexcept {
  const int saved_errno = errno;  // callers often log between a failure and reading errno
  const auto locked_write = [&](int fd) {
    flockfile(stream);
    const bool written = write_through(stream, fd, line);
    funlockfile(stream);
    return written;
  };
  // What needs no lock is done before taking it, for a shorter wait of the threads queued
  // behind it; it still comes after anything that happened before this record began.
  const int fd = fileno(stream);
  bool written = false;
  if (!may_raise_sigpipe(fd)) {
    written = locked_write(fd);
  } else {
    SigpipeGuard guard;
    // Without the guard the write could end the process: the record is dropped instead.
    if (guard.active()) {
      written = locked_write(fd);
      if (!written) guard.take_back_own();
    }
  }
  errno = saved_errno;
  return written;
}

}  // namespace zindle::logging::detail
