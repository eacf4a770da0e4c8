#ifndef TALLYHOOK_STANDARD_STREAMS_H_
#define TALLYHOOK_STANDARD_STREAMS_H_

#include <string_view>

#include "hook_event.h"

namespace tallyhook {

// Opens the null device on any of standard input, output and error that the parent left
// closed, so that no descriptor opened later takes their place (and, through that, a
// child's output or a diagnostic lands somewhere it should not); and makes a write to a
// standard stream nobody reads fail instead of ending the process.
void prepare_standard_streams();

// Standard input as raw bytes.
class StandardInput : public ByteStream {
 public:
  std::ptrdiff_t read(char* buffer, std::size_t capacity) override;

  // Reads and drops whatever is left, so that a host still writing the event does not
  // meet a closed pipe.
  void drain();
};

// Writes `text` to standard error, as a whole, ignoring failure.
void write_standard_error(std::string_view text);

}  // namespace tallyhook

#endif  // TALLYHOOK_STANDARD_STREAMS_H_
