#include "string_kernel.h"

#include <vector>

#if defined(TALLYHOOK_AVX2_KERNEL)
#include <cpuid.h>
#endif

#include "string_content.h"

namespace tallyhook {
namespace {

const unsigned char* skip_string_content_portable(const unsigned char* p,
                                                  const unsigned char* end) {
  return skip_plain_units(p, end, end);
}

#if defined(TALLYHOOK_AVX2_KERNEL)
// Asked directly, not with __builtin_cpu_supports: that links in a constructor which asks
// at every start, and each question traps to the hypervisor on a virtual machine, which cost
// small events 15% of their time.
bool processor_runs_avx2() {
  unsigned a, b, c, d;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) {
    return false;
  }
  // The system must save the 16- and 32-byte registers when it switches threads.
  unsigned saved, high;
  __asm__("xgetbv" : "=a"(saved), "=d"(high) : "c"(0));
  if ((saved & 0x6) != 0x6) return false;
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (b & bit_AVX2) != 0;
}
#endif

}  // namespace

extern const StringKernel kPortableStringKernel{"portable", skip_string_content_portable};

std::span<const StringKernel* const> supported_string_kernels() {
  static const std::vector<const StringKernel*> kernels = [] {
    std::vector<const StringKernel*> found = {&kPortableStringKernel};
#if defined(TALLYHOOK_AVX2_KERNEL)
    if (processor_runs_avx2()) found.push_back(&kAvx2StringKernel);
#endif
    return found;
  }();
  return kernels;
}

const StringKernel& string_kernel() {
  static const StringKernel& fastest = *supported_string_kernels().back();
  return fastest;
}

}  // namespace tallyhook
