#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
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

std::ptrdiff_t StandardInput::read(char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, capacity);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return -1;
    // The host handed over a non-blocking pipe: wait for more.
    pollfd wait_for_input{STDIN_FILENO, POLLIN, 0};
    poll(&wait_for_input, 1, -1);
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
