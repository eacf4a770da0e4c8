#ifndef TALLYHOOK_WIN32_H_
#define TALLYHOOK_WIN32_H_

// What the Windows sources share: <windows.h> without its min/max macros and rarely used parts,
// an owner for handles, and the conversions between the UTF-8 used everywhere else and the
// UTF-16 of the wide ("W") system calls.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace tallyhook {

// Owns one kernel handle and closes it when it goes. Both null and INVALID_HANDLE_VALUE
// stand for no handle, since the system calls return one or the other on failure.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE handle = nullptr) {
    if (*this) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// `text` in UTF-16; nothing when it is not valid UTF-8 or holds a NUL character, which no
// name handed to the system can carry.
std::optional<std::wstring> to_wide(std::string_view text);

// `text` in UTF-8; nothing when it holds an unpaired surrogate.
std::optional<std::string> to_utf8(std::wstring_view text);

// The calling thread's last system error.
inline std::error_code last_system_error() {
  return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

}  // namespace tallyhook

#endif  // TALLYHOOK_WIN32_H_
