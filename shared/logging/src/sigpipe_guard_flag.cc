// macOS: the descriptor itself is told not to raise SIGPIPE, for the write.
#include <fcntl.h>
#include <pthread.h>

#include "stream_write_posix.h"

namespace zindle::logging::detail {
namespace {

// Two streams (two handlers, or standard error and a stream over a dup of it) may lead to one
// open file, whose flag they share; this lock keeps their writes from putting it back under
// each other. It is taken inside a stream's lock and takes no other lock, so it cannot deadlock.
pthread_mutex_t flag_lock = PTHREAD_MUTEX_INITIALIZER;

}  // namespace

// XNU raises SIGPIPE at the process, not at the thread that wrote, so blocking it in this
// thread does not keep another thread that has it unblocked from taking it. F_SETNOSIGPIPE
// (for a socket it sets SO_NOSIGPIPE) keeps the signal from being raised at all: the write fails
// with EPIPE. The flag belongs to the open file, which other holders share, so it is set for
// this write only and then put back as it was (see the header for what that costs).
bool guarded_write(std::FILE* stream, int fd, std::string_view line) noexcept {
  const NoCancellation no_cancellation;  // the C library's write is a cancellation point
  if (fd < 0) return locked_write(stream, fd, line);  // no descriptor to set the flag on
  flockfile(stream);
  bool written = false;
  if (pthread_mutex_lock(&flag_lock) == 0) {
    const int had = fcntl(fd, F_GETNOSIGPIPE);
    // Without the flag the write could end the process: the record is dropped instead.
    if (had == 1 || (had == 0 && fcntl(fd, F_SETNOSIGPIPE, 1) == 0)) {
      written = write_through(stream, fd, line);
      if (had == 0) fcntl(fd, F_SETNOSIGPIPE, 0);
    }
    pthread_mutex_unlock(&flag_lock);
  }
  funlockfile(stream);
  return written;
}

}  // namespace zindle::logging::detail
