#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

#include "stream_write.h"

namespace zindle::logging::detail {
namespace {

// The console, whatever its code page, shows UTF-16 text as it is meant; the line keeps its end
// as "\r\n", which every console mode takes for a new line.
bool write_console(HANDLE console, std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(1);
  std::wstring text;
  if (!line.empty()) {
    const int size = static_cast<int>(line.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, line.data(), size, nullptr, 0);
    if (length <= 0) return false;
    text.resize(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_UTF8, 0, line.data(), size, text.data(), length);
  }
  text += L"\r\n";
  std::wstring_view rest = text;
  while (!rest.empty()) {
    DWORD written = 0;
    if (!WriteConsoleW(console, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr) ||
        written == 0) {
      return false;
    }
    rest.remove_prefix(written);
  }
  return true;
}

// Anything but a console gets the bytes as given, "\n" included, as on POSIX: for the one write,
// the stream's descriptor is switched out of the C runtime's text mode, which would turn each
// "\n" into "\r\n", and back afterwards, so that the caller's own writes keep their mode.
bool write_bytes(std::FILE* stream, int fd, std::string_view line) {
  if (std::fflush(stream) != 0) return false;  // what the caller buffered keeps its own mode
  const int previous_mode = fd >= 0 ? _setmode(fd, _O_BINARY) : -1;
  bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size();
  written = std::fflush(stream) == 0 && written;
  if (previous_mode != -1 && previous_mode != _O_BINARY) _setmode(fd, previous_mode);
  return written;
}

}  // namespace

// No SIGPIPE here: a write to a closed pipe just fails.
bool write_line(std::FILE* stream, std::string_view line) noexcept {
  const int saved_errno = errno;
  const DWORD saved_error = GetLastError();
  bool written = false;
  _lock_file(stream);
  try {
    const int fd = _fileno(stream);
    const auto handle =
        fd >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(fd)) : INVALID_HANDLE_VALUE;
    DWORD console_mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &console_mode)) {
      written = std::fflush(stream) == 0 && write_console(handle, line);
    } else {
      written = write_bytes(stream, fd, line);
    }
  } catch (...) {
    written = false;  // out of memory for the console's text
  }
  _unlock_file(stream);
  SetLastError(saved_error);
  errno = saved_errno;
  return written;
}

}  // namespace zindle::logging::detail
