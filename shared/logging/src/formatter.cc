#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

#include "format_line.h"
#include "zindle/logging.h"

namespace zindle::logging {

Formatter::Formatter() : format_("%(message)s") {}

Formatter::Formatter(std::string layout) : format_(std::move(layout)) {}

std::string Formatter::format(const LogRecord& record) const {
  fmt::memory_buffer out;
  detail::Layout(format_).format(record, out);
  return std::string(out.data(), out.size());
}

namespace detail {

Layout::Layout(std::string text) : text_(std::move(text)) {
  constexpr std::string_view name_field = "%(name)s";
  constexpr std::string_view levelname_field = "%(levelname)s";
  constexpr std::string_view message_field = "%(message)s";
  const auto literal = [this](std::size_t offset, std::size_t size) {
    if (size == 0) return;
    // Text cut by a '%' that starts no field joins the text before it.
    if (!pieces_.empty() && pieces_.back().field == Field::kText &&
        pieces_.back().offset + pieces_.back().size == offset) {
      pieces_.back().size += size;
    } else {
      pieces_.push_back({Field::kText, offset, size});
    }
  };

  const std::string_view layout = text_;
  std::size_t at = 0;
  while (at < layout.size()) {
    const std::size_t start = layout.find("%(", at);
    if (start == std::string_view::npos) {
      literal(at, layout.size() - at);
      break;
    }
    literal(at, start - at);
    const std::string_view rest = layout.substr(start);
    if (rest.starts_with(name_field)) {
      pieces_.push_back({Field::kName, 0, 0});
      at = start + name_field.size();
    } else if (rest.starts_with(levelname_field)) {
      pieces_.push_back({Field::kLevel, 0, 0});
      at = start + levelname_field.size();
    } else if (rest.starts_with(message_field)) {
      pieces_.push_back({Field::kMessage, 0, 0});
      at = start + message_field.size();
    } else {
      // Not a field: the '%' is copied, and the search goes on after it.
      literal(start, 1);
      at = start + 1;
    }
  }
  for (const Piece& piece : pieces_) {
    literal_size_ += piece.size;
    ++field_count_[static_cast<std::size_t>(piece.field)];
  }
}

void Layout::format(const LogRecord& record, fmt::memory_buffer& out) const {
  std::string other_level;
  std::string_view level = named_level(record.level);
  if (level.empty()) level = other_level = level_name(record.level);
  const std::string_view fields[] = {{}, record.name, level, record.message};
  const auto text_of = [&](const Piece& piece) {
    return piece.field == Field::kText ? std::string_view(text_.data() + piece.offset, piece.size)
                                       : fields[static_cast<std::size_t>(piece.field)];
  };

  // Sized once, then filled: one growth check instead of one per piece.
  const std::size_t start = out.size();
  std::size_t size = start + literal_size_;
  for (std::size_t field = 1; field < std::size(fields); ++field) {
    size += field_count_[field] * fields[field].size();
  }
  out.resize(size);
  char* next = out.data() + start;
  for (const Piece& piece : pieces_) {
    const std::string_view text = text_of(piece);
    copy_short(next, text.data(), text.size());
    next += text.size();
  }
}

}  // namespace detail
}  // namespace zindle::logging
