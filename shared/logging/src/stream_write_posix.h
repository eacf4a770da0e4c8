#ifndef ZINDLE_LOGGING_SRC_STREAM_WRITE_POSIX_H_
#define ZINDLE_LOGGING_SRC_STREAM_WRITE_POSIX_H_

// The pieces of the POSIX write path (stream_write_posix.cc puts them together). The two that
// differ between systems live in files of their own, which CMake chooses: whether a descriptor
// can raise SIGPIPE (sigpipe_probe_*.cc), and how a write that can is kept from ending the
// process (sigpipe_guard_*.cc).
#include <pthread.h>

#include <cstdio>
#include <string_view>

namespace zindle::logging::detail {

// Whether a write to `fd` may raise SIGPIPE: true for a pipe or a socket, for a stream without a
// descriptor (fd < 0) and whenever the answer is unclear; false for what never raises it (a
// file, a terminal, a closed descriptor). Asked for every record, outside the stream's lock.
bool may_raise_sigpipe(int fd) noexcept;

// locked_write(stream, fd, line) with a SIGPIPE that it raises kept from ending the process and
// from reaching the caller; signal dispositions and the caller's signal mask stay as they were.
// false when the line was refused, or not written because the signal could not be kept away.
bool guarded_write(std::FILE* stream, int fd, std::string_view line) noexcept;

// The line after what the stream holds in its buffer, one write, under the stream's own lock.
bool locked_write(std::FILE* stream, int fd, std::string_view line) noexcept;
// The same, for a caller that holds the stream's lock already.
bool write_through(std::FILE* stream, int fd, std::string_view line) noexcept;

// Turns cancellation off in the calling thread while it lives. A log call is noexcept: a
// cancellation acted on inside it would unwind through it and end the process.
class NoCancellation {
 public:
  NoCancellation() noexcept { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &saved_); }
  ~NoCancellation() { pthread_setcancelstate(saved_, nullptr); }
  NoCancellation(const NoCancellation&) = delete;
  NoCancellation& operator=(const NoCancellation&) = delete;

 private:
  int saved_ = PTHREAD_CANCEL_ENABLE;
};

}  // namespace zindle::logging::detail

#endif  // ZINDLE_LOGGING_SRC_STREAM_WRITE_POSIX_H_
