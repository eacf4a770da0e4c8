#ifndef TALLYHOOK_STRING_KERNEL_H_
#define TALLYHOOK_STRING_KERNEL_H_

#include <span>
#include <string_view>

namespace tallyhook {

// A way of validating the content of JSON strings that the hook does not keep, which is
// most of any event. Each kernel returns exactly what skip_plain_units(p, end, end) returns
// (string_content.h): the first unit in [p, end) that is not plain, or the start of one
// cut by `end`, or `end`. `p` must be where a unit starts.
struct StringKernel {
  std::string_view name;
  const unsigned char* (*skip_string_content)(const unsigned char* p, const unsigned char* end);
};

// The kernels. The portable one needs no question to the processor, so small events use it;
// SSE2, which has no byte shuffle to check UTF-8 with, did not beat it. The AVX2 one is built
// for x86-64 only, and not for Windows, whose GCC does not keep 32-byte values aligned on
// the stack.
extern const StringKernel kPortableStringKernel;
extern const StringKernel kAvx2StringKernel;

// The fastest kernel this processor runs, chosen once, at the first call, which asks the
// processor what it has. On a virtual machine each such question traps to the hypervisor and
// costs more than parsing a small event, so small events do without.
const StringKernel& string_kernel();

// Every kernel this processor runs, the portable one first; for tests and benchmarks.
std::span<const StringKernel* const> supported_string_kernels();

}  // namespace tallyhook

#endif  // TALLYHOOK_STRING_KERNEL_H_
