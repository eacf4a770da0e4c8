#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>
// After a C library header, which defines __GLIBC__.
#if defined(__GLIBC__)
#include <stdio_ext.h>
#endif
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include "stream_write.h"
#include "stream_write_posix.h"

namespace zindle::logging::detail {
namespace {

// write is a cancellation point: in a program with threads, glibc wraps it in two atomic updates
// of the thread's cancellation state, and a cancellation taken inside the stream's lock would
// leave it locked and unwind through noexcept code. The system call itself is neither. Elsewhere
// cancellation is turned off around the C library's write.
#if defined(__linux__) && defined(__LP64__)
ssize_t write_fd(int fd, const char* data, std::size_t size) {
  return syscall(SYS_write, fd, data, size);
}
#else
ssize_t write_fd(int fd, const char* data, std::size_t size) {
  const NoCancellation no_cancellation;
  return write(fd, data, size);
}
#endif

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

}  // namespace

// What the caller left in the stream's buffer goes first; the line itself then goes straight to
// the descriptor, one write, without a second copy through the buffer. A stream without a
// descriptor (fopencookie, funopen) takes it through its own functions. fflush and those
// functions may reach cancellation points.
bool write_through(std::FILE* stream, int fd, std::string_view line) noexcept {
  if (needs_flush(stream)) {
    const NoCancellation no_cancellation;
    if (std::fflush(stream) != 0) return false;
  }
  if (fd >= 0) return write_all(fd, line);
  const NoCancellation no_cancellation;
  const bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size();
  return std::fflush(stream) == 0 && written;
}

bool locked_write(std::FILE* stream, int fd, std::string_view line) noexcept {
  flockfile(stream);
  const bool written = write_through(stream, fd, line);
  funlockfile(stream);
  return written;
}

bool write_line(std::FILE* stream, std::string_view line) noexcept {
  const int saved_errno = errno;  // callers often log between a failure and reading errno
  // What needs no lock is done before taking it, for a shorter wait of the threads queued
  // behind it; it still comes after anything that happened before this record began.
  const int fd = fileno(stream);
  const bool written =
      may_raise_sigpipe(fd) ? guarded_write(stream, fd, line) : locked_write(stream, fd, line);
  errno = saved_errno;
  return written;
}

}  // namespace zindle::logging::detail
