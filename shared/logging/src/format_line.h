#ifndef ZINDLE_LOGGING_SRC_FORMAT_LINE_H_
#define ZINDLE_LOGGING_SRC_FORMAT_LINE_H_

#include <fmt/format.h>

#include <string_view>

#include "zindle/logging.h"

namespace zindle::logging::detail {

// Appends `record` laid out by `layout` (see Formatter) to `out`. Throws only when memory runs
// out.
void format_line(std::string_view layout, const LogRecord& record, fmt::memory_buffer& out);

// level_name(level) for the five named levels, without building a string; empty for others.
std::string_view named_level(int level) noexcept;

}  // namespace zindle::logging::detail

#endif  // ZINDLE_LOGGING_SRC_FORMAT_LINE_H_
