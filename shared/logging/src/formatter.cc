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
  detail::format_line(format_, record, out);
  return std::string(out.data(), out.size());
}

namespace detail {

// The layout is scanned on every call rather than parsed once: it is a few dozen characters,
// and keeping only the string keeps Formatter a plain value whose layout cannot go stale.
void format_line(std::string_view layout, const LogRecord& record, fmt::memory_buffer& out) {
  constexpr std::string_view name_field = "%(name)s";
  constexpr std::string_view levelname_field = "%(levelname)s";
  constexpr std::string_view message_field = "%(message)s";
  const auto append = [&out](std::string_view text) {
    out.append(text.data(), text.data() + text.size());
  };

  std::string_view rest = layout;
  while (!rest.empty()) {
    const std::size_t start = rest.find("%(");
    append(rest.substr(0, start));
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    if (rest.starts_with(name_field)) {
      append(record.name);
      rest.remove_prefix(name_field.size());
    } else if (rest.starts_with(levelname_field)) {
      const std::string_view named = named_level(record.level);
      if (named.empty()) {
        append(level_name(record.level));
      } else {
        append(named);
      }
      rest.remove_prefix(levelname_field.size());
    } else if (rest.starts_with(message_field)) {
      append(record.message);
      rest.remove_prefix(message_field.size());
    } else {
      // Not a placeholder: copy the '%' and look for the next one after it.
      out.push_back('%');
      rest.remove_prefix(1);
    }
  }
}

}  // namespace detail
}  // namespace zindle::logging
