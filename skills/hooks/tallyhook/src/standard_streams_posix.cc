#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "standard_streams.h"

namespace tallyhook {

void prepare_standard_streams() {
  signal(SIGPIPE, SIG_IGN);  // children get the default back when they start
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // open() returns the lowest free descriptor, which is this one.
      if (open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) != fd) return;
    }
  }
}

std::optional<InputBuffer> read_standard_input() {
  InputBuffer input;
  std::size_t chunk = 65536;
  struct stat st;
  if (fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    chunk = static_cast<std::size_t>(st.st_size) + 1;  // one read, and one more for the end
  }
  for (;;) {
    char* room = input.reserve(chunk);
    if (room == nullptr) return std::nullopt;
    const ssize_t n = read(STDIN_FILENO, room, chunk);
    if (n > 0) {
      input.commit(static_cast<std::size_t>(n));
      if (chunk < (std::size_t{1} << 24)) chunk *= 2;  // fewer, larger reads as input grows
      continue;
    }
    if (n == 0) return input;
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {  // the host handed us a non-blocking pipe: wait for more
      pollfd wait_for_input{STDIN_FILENO, POLLIN, 0};
      poll(&wait_for_input, 1, -1);
      continue;
    }
    return std::nullopt;
  }
}

void write_standard_error(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(STDERR_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace tallyhook
