// macOS, FreeBSD and the other systems: the descriptor's type tells whether it can raise SIGPIPE.
#include <sys/stat.h>

#include <cerrno>

#include "stream_write_posix.h"

namespace zindle::logging::detail {

// Only a pipe or a socket can raise SIGPIPE. The pread of nothing that answers this on Linux
// does not answer it here: XNU and FreeBSD check that the descriptor is open for reading before
// they check the offset, so the write end of a pipe (standard error in `prog 2>&1 | head`)
// answers EBADF, as a closed descriptor does. fstat asks the type itself, in one system call
// too; a terminal, a file or a closed descriptor needs no guard. Anything unexpected is guarded.
bool may_raise_sigpipe(int fd) noexcept {
  if (fd < 0) return true;  // a stream without a descriptor may write anywhere
  struct stat status;
  if (fstat(fd, &status) != 0) return errno != EBADF;
  return S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode);
}

}  // namespace zindle::logging::detail
