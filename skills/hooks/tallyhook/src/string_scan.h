#ifndef TALLYHOOK_STRING_SCAN_H_
#define TALLYHOOK_STRING_SCAN_H_

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tallyhook {

// The first byte in [p, end) that JSON string content cannot take as it is: a quote, a
// backslash, a control character, or a byte of a multi-byte UTF-8 sequence (which needs
// validating); `end` when there is none. This version looks at 8 bytes at a time and runs
// on any processor.
inline const unsigned char* find_string_special_portable(const unsigned char* p,
                                                         const unsigned char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  while (end - p >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    const std::uint64_t quote = w ^ (kOnes * '"');
    const std::uint64_t backslash = w ^ (kOnes * '\\');
    const std::uint64_t found = ((w - kOnes * 0x20) & ~w) | ((quote - kOnes) & ~quote) |
                                ((backslash - kOnes) & ~backslash) | w;
    if ((found & kHighBits) != 0) break;
    p += 8;
  }
  while (p != end && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\') ++p;
  return p;
}

// The same, 16 bytes at a time where the processor allows. Most strings of an event are
// short and plain, so the parser tries this before anything more elaborate.
inline const unsigned char* find_string_special(const unsigned char* p, const unsigned char* end) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i space = _mm_set1_epi8(0x20);
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed comparison: bytes from 0x80 up count as negative, so below the space too.
    const __m128i hit =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                     _mm_cmplt_epi8(v, space));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  return find_string_special_portable(p, end);
}

}  // namespace tallyhook

#endif  // TALLYHOOK_STRING_SCAN_H_
