#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>
// After a C library header, which defines __GLIBC__.
#if defined(__GLIBC__)
#include <stdio_ext.h>
#endif
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include "stream_write.h"

namespace zindle::logging::detail {
namespace {

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

// write and pread are cancellation points: in a program with threads, glibc wraps each in two
// atomic updates of the thread's cancellation state, and a cancellation taken inside the
// stream's lock would leave it locked and unwind through noexcept code. The system calls
// themselves are neither. Elsewhere cancellation is turned off around the C library's calls.
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

// Whether a write to `fd` may raise SIGPIPE, which only a pipe or a socket can. It is asked for
// every record because standard error may have been re-pointed (dup2) since the last one.
// Anything unexpected is guarded.
#if defined(__linux__) && !defined(ZINDLE_LOGGING_FSTAT_PROBE)
// Neither a pipe nor a socket can be read at an offset: Linux answers a read of nothing at
// offset 0 with ESPIPE for them, and only for them and for terminals, a pipe's write end
// included, since it looks at the offset before the access mode. That is one system call, the
// cheapest that tells them apart; unlike lseek it does not take the kernel's lock on the file
// position, which the other threads' writes hold. EBADF, a descriptor that is closed or not open
// for reading, is then no pipe or socket and needs no guard.
bool may_raise_sigpipe(int fd) {
  if (fd < 0) return true;  // a stream without a descriptor may write anywhere
  char nothing;
#if defined(__LP64__)
  const ssize_t read = syscall(SYS_pread64, fd, &nothing, 0, 0);  // as write_fd
#else
  const NoCancellation no_cancellation;
  const ssize_t read = pread(fd, &nothing, 0, 0);
#endif
  return read < 0 && errno != EBADF;
}
#else
// XNU and FreeBSD look at the access mode first: a pipe's write end (standard error in
// `prog 2>&1 | head`) answers that pread with EBADF, as a closed descriptor does. fstat asks
// the type itself, also in one system call; a terminal, a file or a closed descriptor needs no
// guard. (The tests build the library with ZINDLE_LOGGING_FSTAT_PROBE to run this on Linux.)
bool may_raise_sigpipe(int fd) {
  if (fd < 0) return true;  // a stream without a descriptor may write anywhere
  struct stat status;
  if (fstat(fd, &status) != 0) return errno != EBADF;
  return S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode);
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

// fflush, and the functions of a stream without a descriptor, may reach cancellation points.
bool flush(std::FILE* stream) {
  const NoCancellation no_cancellation;
  return std::fflush(stream) == 0;
}

bool write_without_descriptor(std::FILE* stream, std::string_view line) {
  const NoCancellation no_cancellation;
  const bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size();
  return std::fflush(stream) == 0 && written;
}

// What the caller left in the stream's buffer goes first; the line itself then goes straight to
// the descriptor, one write, without a second copy through the buffer. A stream without a
// descriptor (fopencookie, funopen) takes it through its own functions. Inline, as write_locked,
// in both the guarded and the unguarded path: calls of their own cost a record about twenty
// instructions.
[[gnu::always_inline]] inline bool write_to(std::FILE* stream, int fd, std::string_view line) {
  if (needs_flush(stream) && !flush(stream)) return false;
  return fd >= 0 ? write_all(fd, line) : write_without_descriptor(stream, line);
}

[[gnu::always_inline]] inline bool write_locked(std::FILE* stream, int fd, std::string_view line) {
  flockfile(stream);
  const bool written = write_to(stream, fd, line);
  funlockfile(stream);
  return written;
}

// guarded_write(stream, fd, line): write_locked with a SIGPIPE that it raises kept from ending
// the process and from reaching the caller; signal dispositions and the caller's signal mask
// stay as they were. false when the line was refused, or not written because the signal could
// not be kept away. How depends on where the system raises the signal, and so does the file
// (kept inline: this is the path of every record to a pipe).
#if defined(__APPLE__)
#include "sigpipe_guard_flag.inc"  // at the process: the descriptor's own flag
#else
#include "sigpipe_guard_mask.inc"  // at the writing thread: the thread's signal mask
#endif

}  // namespace

bool write_line(std::FILE* stream, std::string_view line) noexcept {
  const int saved_errno = errno;  // callers often log between a failure and reading errno
  // What needs no lock is done before taking it, for a shorter wait of the threads queued
  // behind it; it still comes after anything that happened before this record began.
  const int fd = fileno(stream);
  const bool written =
      may_raise_sigpipe(fd) ? guarded_write(stream, fd, line) : write_locked(stream, fd, line);
  errno = saved_errno;
  return written;
}

}  // namespace zindle::logging::detail
