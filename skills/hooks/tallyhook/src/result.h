#ifndef TALLYHOOK_RESULT_H_
#define TALLYHOOK_RESULT_H_

#include <string>
#include <utility>
#include <variant>

namespace tallyhook {

// A failure that travels up to main unchanged; the message names what went wrong.
struct Error {
  std::string message;
};

// A value or the Error that prevented it. "Nothing" is never an error: operations that
// may find nothing return Result<std::optional<T>>.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}      // NOLINT: implicit by design
  Result(Error error) : state_(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const { return std::holds_alternative<T>(state_); }
  const T& value() const { return std::get<T>(state_); }
  const Error& error() const { return std::get<Error>(state_); }

 private:
  std::variant<T, Error> state_;
};

// The outcome of an operation that yields no value.
using Status = Result<std::monostate>;
inline Status ok_status() { return Status(std::monostate{}); }

}  // namespace tallyhook

#endif  // TALLYHOOK_RESULT_H_
