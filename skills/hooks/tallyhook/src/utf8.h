#ifndef TALLYHOOK_UTF8_H_
#define TALLYHOOK_UTF8_H_

#include <cstddef>

namespace tallyhook {

// Decodes the UTF-8 sequence that starts at `p` (p < end). Returns its length in bytes
// (1 to 4) and stores the code point, or returns 0 when the bytes there are not a
// well-formed sequence: overlong forms, encoded surrogates, code points past U+10FFFF,
// stray continuation bytes and truncated sequences are all rejected.
inline std::size_t decode_utf8(const unsigned char* p, const unsigned char* end, char32_t* cp) {
  const unsigned char b0 = p[0];
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  const std::size_t avail = static_cast<std::size_t>(end - p);
  auto cont = [&](std::size_t i) { return i < avail && (p[i] & 0xC0) == 0x80; };
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (!cont(1)) return 0;
    *cp = static_cast<char32_t>(((b0 & 0x1Fu) << 6) | (p[1] & 0x3Fu));
    return 2;
  }
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    const char32_t c =
        static_cast<char32_t>(((b0 & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu));
    if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *cp = c;
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    const char32_t c = static_cast<char32_t>(((b0 & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) |
                                             ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu));
    if (c < 0x10000 || c > 0x10FFFF) return 0;
    *cp = c;
    return 4;
  }
  return 0;
}

}  // namespace tallyhook

#endif  // TALLYHOOK_UTF8_H_
