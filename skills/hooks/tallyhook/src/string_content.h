#ifndef TALLYHOOK_STRING_CONTENT_H_
#define TALLYHOOK_STRING_CONTENT_H_

#include <array>
#include <string_view>

#include "string_scan.h"
#include "utf8.h"

namespace tallyhook {

// The letters of the one-letter escapes, \" \\ \/ \b \f \n \r \t, by the byte after the backslash.
inline constexpr std::array<bool, 256> kSimpleEscape = [] {
  std::array<bool, 256> table{};
  for (const char c : std::string_view("\"\\/bfnrt")) table[static_cast<unsigned char>(c)] = true;
  return table;
}();

// Skips the plain units of JSON string content that start in [p, bound), each of which must
// end by `end`: a byte from 0x20 to 0x7F other than the quote and the backslash, a
// well-formed multi-byte UTF-8 character, or a one-letter escape. Returns where it stopped:
// at a unit that is not plain (the closing quote, a \u escape, anything invalid), at one cut
// by `end`, or at or just past `bound`.
//
// This is the definition every string kernel is held to, and the portable kernel itself.
inline const unsigned char* skip_plain_units(const unsigned char* p, const unsigned char* bound,
                                             const unsigned char* end) {
  while (p < bound) {
    p = find_string_special_portable(p, bound);
    if (p == bound) break;
    if (*p == '\\') {
      if (end - p < 2 || !kSimpleEscape[p[1]]) return p;
      p += 2;
    } else if (*p >= 0x80) {
      char32_t cp;
      const std::size_t n = decode_utf8(p, end, &cp);
      if (n == 0) return p;
      p += n;
    } else {
      return p;  // the quote, or a control character
    }
  }
  return p;
}

}  // namespace tallyhook

#endif  // TALLYHOOK_STRING_CONTENT_H_
