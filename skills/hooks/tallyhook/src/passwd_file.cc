#include "passwd_file.h"

#include <array>
#include <charconv>

namespace tallyhook {
namespace {

constexpr std::size_t kFields = 7;
constexpr std::size_t kUidField = 2;
constexpr std::size_t kHomeField = 5;

// The seven fields of one line, or nothing when it has another number of them.
std::optional<std::array<std::string_view, kFields>> split_fields(std::string_view line) {
  std::array<std::string_view, kFields> fields;
  for (std::size_t i = 0; i < kFields; ++i) {
    const std::size_t colon = line.find(':');
    if ((colon == std::string_view::npos) != (i == kFields - 1)) return std::nullopt;
    fields[i] = line.substr(0, colon);
    line.remove_prefix(colon == std::string_view::npos ? line.size() : colon + 1);
  }
  return fields;
}

std::optional<std::uint64_t> decimal(std::string_view text) {
  std::uint64_t value;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<std::string> home_in_passwd(std::string_view passwd, std::uint64_t uid) {
  while (!passwd.empty()) {
    const std::size_t newline = passwd.find('\n');
    const std::string_view line = passwd.substr(0, newline);
    passwd.remove_prefix(newline == std::string_view::npos ? passwd.size() : newline + 1);
    if (line.starts_with('#') || line.starts_with('+') || line.starts_with('-')) continue;
    const auto fields = split_fields(line);
    if (!fields || decimal((*fields)[kUidField]) != uid) continue;
    const std::string_view home = (*fields)[kHomeField];
    if (home.empty()) return std::nullopt;
    return std::string(home);
  }
  return std::nullopt;
}

}  // namespace tallyhook
