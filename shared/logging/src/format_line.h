#ifndef ZINDLE_LOGGING_SRC_FORMAT_LINE_H_
#define ZINDLE_LOGGING_SRC_FORMAT_LINE_H_

#include <fmt/format.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zindle/logging.h"

namespace zindle::logging::detail {

// A Formatter's layout taken apart once into literal text and fields, so that laying out a
// record is a few copies with no search. Immutable once built.
class Layout {
 public:
  explicit Layout(std::string text);

  const std::string& text() const noexcept { return text_; }
  // Appends `record` laid out as Formatter::format describes. Throws only when memory runs out.
  void format(const LogRecord& record, fmt::memory_buffer& out) const;

 private:
  enum class Field : std::uint8_t { kText, kName, kLevel, kMessage };
  struct Piece {
    Field field;
    std::size_t offset;  // into text_, for kText
    std::size_t size;
  };

  std::string text_;
  std::vector<Piece> pieces_;
  // So that a line's length is known before it is laid out: the literal text's length, and how
  // often each field occurs.
  std::size_t literal_size_ = 0;
  std::size_t field_count_[4] = {};
};

// level_name(level) for the five named levels, without building a string; empty for others.
std::string_view named_level(int level) noexcept;

}  // namespace zindle::logging::detail

#endif  // ZINDLE_LOGGING_SRC_FORMAT_LINE_H_
