// Linux: a pread of nothing tells a descriptor that can raise SIGPIPE from one that cannot.
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "stream_write_posix.h"

namespace zindle::logging::detail {
namespace {

// The system call itself, as write_fd in stream_write_posix.cc: no cancellation point.
#if defined(__LP64__)
ssize_t pread_fd(int fd, char* data, std::size_t size, off_t offset) {
  return syscall(SYS_pread64, fd, data, size, offset);
}
#else
ssize_t pread_fd(int fd, char* data, std::size_t size, off_t offset) {
  const NoCancellation no_cancellation;
  return pread(fd, data, size, offset);
}
#endif

}  // namespace

// Only a pipe or a socket can raise SIGPIPE, and neither can be read at an offset: Linux answers
// a read of nothing at offset 0 with ESPIPE for them, and only for them and for terminals, also
// for a pipe's write end, since it asks about the offset before the access mode. That is one
// system call, the cheapest that tells them apart; unlike lseek it does not take the kernel's
// lock on the file position, which the other threads' writes hold. EBADF, a descriptor that is
// closed or not open for reading, is then no pipe or socket and needs no guard. (XNU and
// FreeBSD ask about the access mode first and answer EBADF for a pipe's write end:
// sigpipe_probe_fstat.cc.) Anything unexpected is guarded.
bool may_raise_sigpipe(int fd) noexcept {
  if (fd < 0) return true;  // a stream without a descriptor may write anywhere
  char nothing;
  return pread_fd(fd, &nothing, 0, 0) < 0 && errno != EBADF;
}

}  // namespace zindle::logging::detail
