#ifndef TALLYHOOK_STANDARD_STREAMS_H_
#define TALLYHOOK_STANDARD_STREAMS_H_

#include <optional>
#include <string_view>

#include "input_buffer.h"

namespace tallyhook {

// Opens the null device on any of standard input, output and error that the parent left
// closed, so that no descriptor opened later takes their place (and, through that, a
// child's output or a diagnostic lands somewhere it should not); and makes a write to a
// standard stream nobody reads fail instead of ending the process.
void prepare_standard_streams();

// All of standard input, read to its end as raw bytes. Nothing when it cannot be read or
// memory runs out.
std::optional<InputBuffer> read_standard_input();

// Writes `text` to standard error, as a whole, ignoring failure.
void write_standard_error(std::string_view text);

}  // namespace tallyhook

#endif  // TALLYHOOK_STANDARD_STREAMS_H_
