#include <vector>

#include "program_path.h"
#include "win32.h"

namespace tallyhook {

// The path the system loaded the program from, which is absolute, however long it is: a path
// past MAX_PATH only fits a larger buffer.
std::optional<std::string> program_path() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return std::nullopt;
    if (length < size) return to_utf8(std::wstring_view(buffer.data(), length));
    if (buffer.size() >= 65536) return std::nullopt;  // longer than any path Windows takes
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace tallyhook
