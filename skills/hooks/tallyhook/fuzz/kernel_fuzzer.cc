// One input through the portable string kernel and every vector kernel the processor runs:
// each must stop at the same byte of the input taken as string content, whole and cut, and
// the parse of the input as an event must come out the same, member for member, whole and
// streamed.
#include <cstdint>
#include <string>

#include "chunked_stream.h"
#include "fuzz_check.h"
#include "hook_event.h"
#include "reference_json.h"
#include "string_content.h"
#include "string_kernel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tallyhook;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
  const StringKernel& portable = kPortableStringKernel;
  const std::optional<HookEvent> expected = parse_hook_event(text, portable);

  for (const StringKernel* kernel : supported_string_kernels()) {
    // Whole, and cut where a block of 64 or a character or escape near it may end.
    for (const std::size_t cut : {size, size / 2, size > 64 ? size - 64 : 0, size % 67}) {
      const unsigned char* end = begin + cut;
      FUZZ_CHECK(kernel->skip_string_content(begin, end) == skip_plain_units(begin, end, end));
    }
    const std::optional<HookEvent> whole = parse_hook_event(text, *kernel);
    testing::ChunkedStream stream(text, 1 + size % 97);
    const std::optional<HookEvent> streamed = parse_hook_event(stream, *kernel);
    FUZZ_CHECK(whole.has_value() == expected.has_value());
    FUZZ_CHECK(streamed.has_value() == expected.has_value());
    if (expected) {
      FUZZ_CHECK(testing::describe_difference(*expected, *whole).empty());
      FUZZ_CHECK(testing::describe_difference(*expected, *streamed).empty());
    }
  }
  return 0;
}
