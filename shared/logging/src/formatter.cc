#include <string>
#include <string_view>
#include <utility>

#include "zindle/logging.h"

namespace zindle::logging {

Formatter::Formatter() : format_("%(message)s") {}

Formatter::Formatter(std::string layout) : format_(std::move(layout)) {}

// The layout is scanned on every call rather than parsed once: it is a few dozen characters,
// and keeping only the string keeps Formatter a plain value whose layout cannot go stale.
std::string Formatter::format(const LogRecord& record) const {
  constexpr std::string_view name_field = "%(name)s";
  constexpr std::string_view levelname_field = "%(levelname)s";
  constexpr std::string_view message_field = "%(message)s";

  std::string out;
  out.reserve(format_.size() + record.name.size() + record.message.size() + 8);
  std::string_view rest = format_;
  while (!rest.empty()) {
    const std::size_t start = rest.find("%(");
    out.append(rest.substr(0, start));
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    if (rest.starts_with(name_field)) {
      out.append(record.name);
      rest.remove_prefix(name_field.size());
    } else if (rest.starts_with(levelname_field)) {
      out.append(level_name(record.level));
      rest.remove_prefix(levelname_field.size());
    } else if (rest.starts_with(message_field)) {
      out.append(record.message);
      rest.remove_prefix(message_field.size());
    } else {
      // Not a placeholder: copy the '%' and look for the next one after it.
      out.push_back('%');
      rest.remove_prefix(1);
    }
  }
  return out;
}

}  // namespace zindle::logging
