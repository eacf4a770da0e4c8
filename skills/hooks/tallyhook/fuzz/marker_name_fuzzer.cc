// Skill names in, marker file names out, for both platforms' rules: always one file-name
// component under the ".dedup_" prefix that the platform takes as it is, names that need no
// care kept exactly, every marker decoding back to its name alone, and two different names
// never sharing a marker.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "marker_name.h"

namespace {

constexpr std::string_view kPrefix = ".dedup_";

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The name a marker stands for, if every "%" in it starts an escape; nothing otherwise. Being
// a function of the marker, it shows that no two names can share one.
std::optional<std::string> percent_decoded(std::string_view encoded) {
  std::string name;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      name += encoded[i];
      continue;
    }
    if (i + 2 >= encoded.size() || hex_digit(encoded[i + 1]) < 0 || hex_digit(encoded[i + 2]) < 0) {
      return std::nullopt;
    }
    name += static_cast<char>(hex_digit(encoded[i + 1]) * 16 + hex_digit(encoded[i + 2]));
    i += 2;
  }
  return name;
}

struct Rules {
  std::string (*marker)(std::string_view);
  // What the platform takes as a file name as it is: such a skill name is kept, and every
  // marker name must be one.
  bool (*fine_as_is)(std::string_view);
};

bool no_separator(std::string_view name) { return name.find_first_of("/\\") == name.npos; }

bool windows_safe_character(char c) {
  return static_cast<unsigned char>(c) >= 0x20 &&
         std::string_view("<>:\"|?*/\\").find(c) == std::string_view::npos;
}

bool windows_fine(std::string_view name) {
  for (const char c : name) {
    if (!windows_safe_character(c)) return false;
  }
  return name.empty() || (name.back() != '.' && name.back() != ' ');
}

constexpr Rules kPosix{tallyhook::posix_marker_file_name, no_separator};
constexpr Rules kWindows{tallyhook::windows_marker_file_name, windows_fine};

void check_one(const Rules& rules, std::string_view name) {
  const std::string marker = rules.marker(name);
  FUZZ_CHECK(marker.starts_with(kPrefix));
  FUZZ_CHECK(rules.fine_as_is(marker));
  const std::string_view rest = std::string_view(marker).substr(kPrefix.size());
  FUZZ_CHECK(percent_decoded(rest) == name);
  if (rules.fine_as_is(name) && name.find('%') == name.npos) FUZZ_CHECK(rest == name);
}

void check(const Rules& rules, std::string_view a, std::string_view b) {
  check_one(rules, a);
  check_one(rules, b);
  if (a != b) FUZZ_CHECK(rules.marker(a) != rules.marker(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // Two names from one input: the halves around the first NUL, or the input and its tail.
  const std::size_t cut = input.find('\0');
  const std::string_view a = input.substr(0, cut);
  const std::string_view b =
      cut == std::string_view::npos ? input.substr(size / 2) : input.substr(cut + 1);
  check(kPosix, a, b);
  check(kWindows, a, b);
  return 0;
}
