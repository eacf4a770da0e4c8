#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "stream_write.h"

namespace zindle::logging::detail {
namespace {

bool sigpipe_pending() {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

// A write to a pipe whose reader has gone raises SIGPIPE, which ends the process by default;
// standard error is often such a pipe. A library must not change the process's signal
// dispositions, so SIGPIPE is blocked in this thread for the write, and a SIGPIPE that the write
// itself raised is taken back before the old mask returns. The write then fails with EPIPE
// instead and the record is dropped.
class SigpipeSuppressed {
 public:
  SigpipeSuppressed() {
    sigemptyset(&pipe_only_);
    sigaddset(&pipe_only_, SIGPIPE);
    was_pending_ = sigpipe_pending();
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_only_, &saved_) == 0;
  }
  ~SigpipeSuppressed() {
    if (!blocked_) return;
    // One that was pending before belongs to someone else and is left alone.
    if (!was_pending_ && sigpipe_pending()) {
      const timespec no_wait{};
      while (sigtimedwait(&pipe_only_, nullptr, &no_wait) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  SigpipeSuppressed(const SigpipeSuppressed&) = delete;
  SigpipeSuppressed& operator=(const SigpipeSuppressed&) = delete;

 private:
  sigset_t pipe_only_;
  sigset_t saved_;
  bool was_pending_ = false;
  bool blocked_ = false;
};

}  // namespace

bool write_line(std::FILE* stream, std::string_view line) noexcept {
  const int saved_errno = errno;  // callers often log between a failure and reading errno
  bool written = false;
  {
    const SigpipeSuppressed no_sigpipe;
    flockfile(stream);
    written = std::fwrite(line.data(), 1, line.size(), stream) == line.size();
    written = std::fflush(stream) == 0 && written;
    funlockfile(stream);
  }
  errno = saved_errno;
  return written;
}

}  // namespace zindle::logging::detail
