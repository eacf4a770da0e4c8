// 64 bytes at a time in two 32-byte vectors, with UTF-8 validated by table lookups: three
// 16-entry tables, indexed by the high and low halves of the previous byte and the high half
// of the current one, each give the errors a pair of bytes could show; a pair is bad when
// all three agree on one. Run only where the processor has AVX2 (see string_kernel.cc).
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "string_block.h"
#include "string_kernel.h"

namespace tallyhook {
namespace {

// What can go wrong between a byte and the one before it, one bit each.
constexpr std::uint8_t kTooShort = 1 << 0;   // a lead byte not followed by a continuation
constexpr std::uint8_t kTooLong = 1 << 1;    // a continuation after an ASCII byte
constexpr std::uint8_t kOverlong3 = 1 << 2;  // E0 80..9F
constexpr std::uint8_t kTooLarge = 1 << 3;   // F4 90..BF, F5..FF
constexpr std::uint8_t kSurrogate = 1 << 4;  // ED A0..BF
constexpr std::uint8_t kOverlong2 = 1 << 5;  // C0, C1
constexpr std::uint8_t kOverlong4 = 1 << 6;  // F0 80..8F; shared with F5..FF 80..8F
constexpr std::uint8_t kTwoConts = 1 << 7;   // a continuation after a continuation
constexpr std::uint8_t kCarry = kTooShort | kTooLong | kTwoConts;  // told by high halves alone

alignas(16) constexpr std::uint8_t kByte1High[16] = {
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,  // ASCII
    kTwoConts,
    kTwoConts,
    kTwoConts,
    kTwoConts,                            // 80..BF
    kTooShort | kOverlong2,               // C0..CF
    kTooShort,                            // D0..DF
    kTooShort | kOverlong3 | kSurrogate,  // E0..EF
    kTooShort | kTooLarge | kOverlong4,   // F0..FF
};
alignas(16) constexpr std::uint8_t kByte1Low[16] = {
    kCarry | kOverlong3 | kOverlong2 | kOverlong4,  // C0, E0, F0
    kCarry | kOverlong2,                            // C1
    kCarry,
    kCarry,
    kCarry | kTooLarge,  // F4
    kCarry | kTooLarge | kOverlong4,
    kCarry | kTooLarge | kOverlong4,
    kCarry | kTooLarge | kOverlong4,
    kCarry | kTooLarge | kOverlong4,
    kCarry | kTooLarge | kOverlong4,
    kCarry | kTooLarge | kOverlong4,
    kCarry | kTooLarge | kOverlong4,
    kCarry | kTooLarge | kOverlong4,
    kCarry | kTooLarge | kOverlong4 | kSurrogate,  // ED
    kCarry | kTooLarge | kOverlong4,
    kCarry | kTooLarge | kOverlong4,
};
alignas(16) constexpr std::uint8_t kByte2High[16] = {
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kOverlong4,  // 80..8F
    kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,   // 90..9F
    kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,   // A0..AF
    kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,   // B0..BF
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
};

// The letters of the one-letter escapes, found the same way: 22 2F 5C 62 66 6E 72 74 share
// a bit between their low-half and high-half entries, no other byte does.
alignas(16) constexpr std::uint8_t kLetterLow[16] = {0, 0, 1 | 4 | 8, 0, 8, 0, 4, 0,
                                                     0, 0, 0,         0, 2, 0, 4, 1};
alignas(16) constexpr std::uint8_t kLetterHigh[16] = {0, 0, 1, 0, 0, 2, 4, 8,
                                                      0, 0, 0, 0, 0, 0, 0, 0};

[[gnu::target("avx2")]] __m256i table(const std::uint8_t (&entries)[16]) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(entries)));
}

[[gnu::target("avx2")]] __m256i high_half(__m256i v) {
  return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
}
[[gnu::target("avx2")]] __m256i low_half(__m256i v) {
  return _mm256_and_si256(v, _mm256_set1_epi8(0x0F));
}

// The bytes of `v` moved up by n, with the last n of `before` in front.
template <int n>
[[gnu::target("avx2")]] __m256i shifted_in(__m256i v, __m256i before) {
  return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(before, v, 0x21), 16 - n);
}

// Non-zero bytes where `v` breaks UTF-8, given the 32 bytes before it. A sequence cut at the
// end of `v` is not an error here.
[[gnu::target("avx2")]] __m256i utf8_errors(__m256i v, __m256i before) {
  const __m256i prev1 = shifted_in<1>(v, before);
  const __m256i pair =
      _mm256_and_si256(_mm256_and_si256(_mm256_shuffle_epi8(table(kByte1High), high_half(prev1)),
                                        _mm256_shuffle_epi8(table(kByte1Low), low_half(prev1))),
                       _mm256_shuffle_epi8(table(kByte2High), high_half(v)));
  // Third and fourth bytes of a sequence: a continuation after a continuation is right there,
  // and anything else is wrong.
  const __m256i third = _mm256_subs_epu8(shifted_in<2>(v, before), _mm256_set1_epi8(0x60));
  const __m256i fourth = _mm256_subs_epu8(shifted_in<3>(v, before), _mm256_set1_epi8(0x70));
  const __m256i must_continue =
      _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
  return _mm256_xor_si256(pair, must_continue);
}

[[gnu::target("avx2")]] std::uint64_t mask_of(__m256i low, __m256i high) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
         static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(high))) << 32;
}

[[gnu::target("avx2")]] __m256i escape_letters(__m256i v) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i shared = _mm256_and_si256(_mm256_shuffle_epi8(table(kLetterLow), low_half(v)),
                                          _mm256_shuffle_epi8(table(kLetterHigh), high_half(v)));
  return _mm256_xor_si256(_mm256_cmpeq_epi8(shared, zero), _mm256_cmpeq_epi8(zero, zero));
}

[[gnu::target("avx2")]] __m256i is_control(__m256i v) {
  return _mm256_cmpeq_epi8(_mm256_min_epu8(v, _mm256_set1_epi8(0x1F)), v);
}

// Where the last bytes of a block start a character that ends in the next one.
unsigned length_before_cut_character(const unsigned char* block) {
  if (block[63] >= 0xC0) return 63;
  if (block[62] >= 0xE0) return 62;
  if (block[61] >= 0xF0) return 61;
  return 64;
}

// One block: a member function, which unlike a lambda can carry the target.
struct Avx2Block {
  [[gnu::target("avx2")]] BlockVerdict operator()(const unsigned char* p) const {
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    StringBlock block;
    block.quote = mask_of(_mm256_cmpeq_epi8(low, quote), _mm256_cmpeq_epi8(high, quote));
    block.backslash =
        mask_of(_mm256_cmpeq_epi8(low, backslash), _mm256_cmpeq_epi8(high, backslash));
    block.control = mask_of(is_control(low), is_control(high));
    block.escape_letter = mask_of(escape_letters(low), escape_letters(high));
    unsigned length = judged_length(block);
    if (mask_of(low, high) != 0) {
      // The block starts a unit, so what came before it is as good as ASCII.
      const __m256i errors =
          _mm256_or_si256(utf8_errors(low, _mm256_setzero_si256()), utf8_errors(high, low));
      if (!_mm256_testz_si256(errors, errors)) return {0, false};
      length = std::min(length, length_before_cut_character(p));
    }
    const unsigned stop = first_stop(block, length);
    return stop < length ? BlockVerdict{stop, true} : BlockVerdict{length, false};
  }
};

[[gnu::target("avx2")]] const unsigned char* skip_string_content_avx2(const unsigned char* p,
                                                                      const unsigned char* end) {
  return skip_blocks(p, end, Avx2Block{});
}

}  // namespace

extern const StringKernel kAvx2StringKernel{"avx2", skip_string_content_avx2};

}  // namespace tallyhook
