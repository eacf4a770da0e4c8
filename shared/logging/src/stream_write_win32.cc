#include <cerrno>
#include <cstdio>
#include <string_view>

#include "stream_write.h"

namespace zindle::logging::detail {

// No SIGPIPE here: a write to a closed pipe just fails.
bool write_line(std::FILE* stream, std::string_view line) noexcept {
  const int saved_errno = errno;
  _lock_file(stream);
  bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size();
  written = std::fflush(stream) == 0 && written;
  _unlock_file(stream);
  errno = saved_errno;
  return written;
}

}  // namespace zindle::logging::detail
