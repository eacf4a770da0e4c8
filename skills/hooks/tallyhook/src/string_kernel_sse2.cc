// The x86-64 baseline: 64 bytes at a time in four 16-byte vectors. SSE2 has no byte shuffle
// for table lookups, so multi-byte characters are left to the portable path.
#include <emmintrin.h>

#include "string_block.h"
#include "string_kernel.h"

namespace tallyhook {
namespace {

std::uint64_t mask_of(__m128i hit) { return static_cast<std::uint16_t>(_mm_movemask_epi8(hit)); }

BlockVerdict judge_block(const unsigned char* p) {
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i space = _mm_set1_epi8(0x20);
  StringBlock block;
  std::uint64_t non_ascii = 0;
  for (unsigned i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    __m128i letter = _mm_setzero_si128();
    for (const char c : {'"', '\\', '/', 'b', 'f', 'n', 'r', 't'}) {
      letter = _mm_or_si128(letter, _mm_cmpeq_epi8(v, _mm_set1_epi8(c)));
    }
    const unsigned shift = 16 * i;
    block.quote |= mask_of(_mm_cmpeq_epi8(v, quote)) << shift;
    block.backslash |= mask_of(_mm_cmpeq_epi8(v, backslash)) << shift;
    // Signed: bytes from 0x80 up are below the space too, and are taken out below.
    block.control |= mask_of(_mm_cmplt_epi8(v, space)) << shift;
    block.escape_letter |= mask_of(letter) << shift;
    non_ascii |= mask_of(v) << shift;
  }
  block.control &= ~non_ascii;
  const unsigned length = judged_length(block);
  const unsigned stop = first_stop(block, length);
  // Multi-byte characters before the stop are the portable path's to check.
  if ((non_ascii & bits_below(stop)) != 0) return {0, false};
  return stop < length ? BlockVerdict{stop, true} : BlockVerdict{length, false};
}

const unsigned char* skip_string_content_sse2(const unsigned char* p, const unsigned char* end) {
  return skip_blocks(p, end, judge_block);
}

}  // namespace

extern const StringKernel kSse2StringKernel{"sse2", skip_string_content_sse2};

}  // namespace tallyhook
