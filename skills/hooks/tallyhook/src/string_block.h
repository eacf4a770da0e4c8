#ifndef TALLYHOOK_STRING_BLOCK_H_
#define TALLYHOOK_STRING_BLOCK_H_

#include <bit>
#include <cstdint>

#include "string_content.h"

namespace tallyhook {

// 64 bytes of string content as bit masks, bit i for byte i, as a vector kernel classifies
// them. The block starts where a unit starts, so no escape reaches into it from before.
struct StringBlock {
  std::uint64_t quote = 0;
  std::uint64_t backslash = 0;
  std::uint64_t control = 0;        // bytes below 0x20
  std::uint64_t escape_letter = 0;  // " \ / b f n r t
};

// The bytes escaped by a backslash: each one just after a run of backslashes of odd length.
// Adding a run's first bit to the run carries past its end; runs starting at even and at odd
// positions are summed apart so that the parity of the end tells the parity of the length.
// A run that reaches bit 63 carries out of the block and marks nothing.
inline std::uint64_t escaped_bytes(std::uint64_t backslash) {
  constexpr std::uint64_t kEven = 0x5555555555555555ULL;
  const std::uint64_t starts = backslash & ~(backslash << 1);
  const std::uint64_t after_even_starts = (backslash + (starts & kEven)) & ~backslash;
  const std::uint64_t after_odd_starts = (backslash + (starts & ~kEven)) & ~backslash;
  return (after_even_starts & ~kEven) | (after_odd_starts & kEven);
}

// How much of the block can be judged alone: all but a run of backslashes at its end, whose
// escaped letter is in the next block.
inline unsigned judged_length(const StringBlock& block) {
  return 64 - static_cast<unsigned>(std::countl_one(block.backslash));
}

// The offset of the first unit in the first `length` bytes that is not plain (the closing
// quote, a control character, or the backslash of a \u or an invalid escape), or `length`.
// Multi-byte characters are the caller's to check.
inline unsigned first_stop(const StringBlock& block, unsigned length) {
  const std::uint64_t escaped = escaped_bytes(block.backslash);
  const std::uint64_t bad_escape = escaped & ~block.escape_letter;
  std::uint64_t stop = (block.quote & ~escaped) | block.control | (bad_escape >> 1);
  if (length < 64) stop |= std::uint64_t{1} << length;
  return stop == 0 ? 64 : static_cast<unsigned>(std::countr_zero(stop));
}

// Bits 0 to n - 1.
inline std::uint64_t bits_below(unsigned n) {
  return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

// What a vector kernel makes of the 64 bytes at the start of a block: how many bytes from
// there are plain units, and whether the unit after them is one that is not plain, where the
// scan ends. No plain bytes and no stop: the block needs the portable definition (invalid
// UTF-8, multi-byte characters a kernel does not check, a block of backslashes).
struct BlockVerdict {
  unsigned plain;
  bool stop;
};

// The loop a vector kernel runs around its judgement of one block: whole blocks while 64
// bytes are left, and the portable definition for a block that cannot be judged and for the
// last bytes. Inlined, so that the kernel's judgement inlines into its own code.
template <typename JudgeBlock>
[[gnu::always_inline]] inline const unsigned char* skip_blocks(const unsigned char* p,
                                                               const unsigned char* end,
                                                               JudgeBlock judge) {
  for (;;) {
    while (end - p >= 64) {
      const BlockVerdict verdict = judge(p);
      if (verdict.stop) return p + verdict.plain;
      if (verdict.plain == 0) break;
      p += verdict.plain;
    }
    const unsigned char* bound = end - p > 64 ? p + 64 : end;
    const unsigned char* q = skip_plain_units(p, bound, end);
    if (q < bound || bound == end) return q;
    p = q;
  }
}

}  // namespace tallyhook

#endif  // TALLYHOOK_STRING_BLOCK_H_
