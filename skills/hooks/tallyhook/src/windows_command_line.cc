#include "windows_command_line.h"

#include <string_view>

namespace tallyhook {
namespace {

void append_quoted(std::string& line, std::string_view arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    line += arg;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, '\\');  // the closing quote must stay a quote
  line += '"';
}

}  // namespace

std::optional<std::string> windows_command_line(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].find('"') != std::string::npos) return std::nullopt;
  std::string line = '"' + argv[0] + '"';
  for (std::size_t i = 1; i < argv.size(); ++i) {
    line += ' ';
    append_quoted(line, argv[i]);
  }
  return line;
}

}  // namespace tallyhook
