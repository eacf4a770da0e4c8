#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>

#include "standard_streams.h"
#include "win32.h"

namespace tallyhook {
namespace {

// The C runtime reads standard input in text mode by default, which turns CR LF into LF and
// ends the input at a Ctrl-Z byte; the event must arrive byte for byte.
void make_standard_input_binary() {
  static const bool done = (_setmode(_fileno(stdin), _O_BINARY), true);
  (void)done;
}

}  // namespace

// Windows hands out no handle in place of a missing standard one, and a write to a pipe
// nobody reads fails instead of ending the process, so only the input mode needs setting.
void prepare_standard_streams() { make_standard_input_binary(); }

std::ptrdiff_t StandardInput::read(char* buffer, std::size_t capacity) {
  make_standard_input_binary();
  const int n = _read(_fileno(stdin), buffer,
                      static_cast<unsigned>(std::min<std::size_t>(capacity, INT_MAX)));
  return n < 0 ? -1 : n;
}

// Straight to the handle: the C runtime's text mode would turn "\n" into "\r\n".
void write_standard_error(std::string_view text) {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  while (!text.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20));
    if (!WriteFile(error, text.data(), chunk, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

}  // namespace tallyhook
