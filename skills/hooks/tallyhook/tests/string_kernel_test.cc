// Every kernel this processor runs must stop exactly where the portable definition does
// (skip_plain_units), wherever a unit falls in a 64-byte block and wherever the text is cut.
#include "string_kernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "string_content.h"

namespace tallyhook {
namespace {

using namespace std::string_literals;

// Units and broken units of string content, each to be met at every offset.
const std::string kUnits[] = {
    "a", "\x7f", "\"", "\x01", "\x1f", "\0"s,
    // escapes
    "\\\"", "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r", "\\t", "\\u00e9", "\\x", "\\\x01",
    "\\\xC3\xA9", "\\\\\\", "\\\\\\\"",
    // well-formed characters, at the edges of their ranges
    "\xC2\x80", "\xC3\xA9", "\xDF\xBF", "\xE0\xA0\x80", "\xE2\x82\xAC", "\xED\x9F\xBF",
    "\xEE\x80\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
    // malformed: overlong, encoded surrogates, past U+10FFFF, stray, truncated, too long
    "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
    "\xF0\x80\x80\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
    "\xF8\x88\x80\x80\x80", "\xFF", "\xFE", "\x80", "\xBF", "\xC3", "\xC3\xA9\xA9", "\xE2\x82",
    "\xE2\x82\xAC\x80", "\xF0\x9F\x98", "\xC3\"", "\xE2\x82\\n", "\xEF\xBB\xBF"};

// Plain units to put before and after, so that the one under test lands everywhere.
const std::string kFillers[] = {"a", "\xC3\xA9", "\\n", "\\\\", "\xF0\x9F\x98\x80"};

// Compares the kernels on `text` cut at each of [first_cut, last_cut], and whole.
void expect_same_stops(const std::string& text, std::size_t first_cut, std::size_t last_cut) {
  const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
  last_cut = std::min(last_cut, text.size());
  for (const StringKernel* kernel : supported_string_kernels()) {
    for (std::size_t cut = first_cut; cut <= last_cut + 1; ++cut) {
      const unsigned char* end = begin + (cut > last_cut ? text.size() : cut);
      const unsigned char* expected = skip_plain_units(begin, end, end);
      const unsigned char* got = kernel->skip_string_content(begin, end);
      ASSERT_EQ(got - begin, expected - begin)
          << kernel->name << " cut at " << cut << " of " << ::testing::PrintToString(text);
    }
  }
}

TEST(StringKernel, StopsWhereThePortableDefinitionDoes) {
  for (const std::string& unit : kUnits) {
    for (const std::string& filler : kFillers) {
      for (std::size_t count = 0; count < 70; ++count) {
        std::string prefix;
        for (std::size_t i = 0; i < count; ++i) prefix += filler;
        std::string text = prefix + unit;
        for (std::size_t i = 0; i < 70; ++i) text += filler;
        text += '"';
        // Cut anywhere around the unit, and not at all.
        expect_same_stops(text, prefix.size() > 4 ? prefix.size() - 4 : 0,
                          prefix.size() + unit.size() + 4);
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
}

TEST(StringKernel, RandomContentStopsWhereThePortableDefinitionDoes) {
  // Pieces weighted towards what makes kernels differ: runs of backslashes, characters
  // cut by a block's end, escapes of every kind.
  const std::string pieces[] = {"a",    "b",    "\\",   "\\\\",         "\\n",      "\\u",
                                "\"",   "\xC3", "\xA9", "\xE2\x82\xAC", "\xF0\x9F", "\x98\x80",
                                "\xED", "\x1f", "\xF4", "\x90",         "/",        "t"};
  std::mt19937 rng(4242);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> plain_run(0, 3);
  for (int round = 0; round < 1000; ++round) {
    std::string text;
    while (text.size() < 300) {
      // Mostly plain, so that stops come late enough to cross blocks.
      if (plain_run(rng) != 0) {
        text += plain_run(rng) == 0 ? "\xE6\x9D\xB1" : "xyz";
      } else {
        text += pieces[pick(rng)];
      }
    }
    expect_same_stops(text, 0, text.size());
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(StringKernel, PortableKernelComesFirstAndTheFastestIsChosen) {
  const auto kernels = supported_string_kernels();
  ASSERT_FALSE(kernels.empty());
  EXPECT_EQ(kernels.front(), &kPortableStringKernel);
  EXPECT_EQ(&string_kernel(), kernels.back());
}

}  // namespace
}  // namespace tallyhook
