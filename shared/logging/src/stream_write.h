#ifndef ZINDLE_LOGGING_SRC_STREAM_WRITE_H_
#define ZINDLE_LOGGING_SRC_STREAM_WRITE_H_

#include <cstdio>
#include <string_view>

namespace zindle::logging::detail {

// Writes `line` to `stream` with one write, after what the stream held in its buffer, under
// the stream's own lock, so that handlers sharing the stream cannot split a line either. Returns
// false when the stream refused the line; never throws, never raises a signal, leaves errno
// unchanged.
bool write_line(std::FILE* stream, std::string_view line) noexcept;

}  // namespace zindle::logging::detail

#endif  // ZINDLE_LOGGING_SRC_STREAM_WRITE_H_
