// Linux, FreeBSD and the other systems that raise SIGPIPE at the thread that wrote: the signal is
// blocked in that thread for the write.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

#include "stream_write_posix.h"

namespace zindle::logging::detail {
namespace {

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
  // sigtimedwait is a cancellation point.
  void take_back_own() {
    if (was_pending_) return;
    const NoCancellation no_cancellation;
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

}  // namespace

bool guarded_write(std::FILE* stream, int fd, std::string_view line) noexcept {
  SigpipeGuard guard;
  // Without the guard the write could end the process: the record is dropped instead.
  if (!guard.active()) return false;
  const bool written = locked_write(stream, fd, line);
  if (!written) guard.take_back_own();
  return written;
}

}  // namespace zindle::logging::detail
