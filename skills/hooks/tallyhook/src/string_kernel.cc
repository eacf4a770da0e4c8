#include "string_kernel.h"

#include <vector>

#include "string_content.h"

namespace tallyhook {
namespace {

const unsigned char* skip_string_content_portable(const unsigned char* p,
                                                  const unsigned char* end) {
  return skip_plain_units(p, end, end);
}

std::span<const StringKernel* const> supported() {
  static const std::vector<const StringKernel*> kernels = [] {
    std::vector<const StringKernel*> found = {&kPortableStringKernel};
#if defined(TALLYHOOK_SSE2_KERNEL)
    found.push_back(&kSse2StringKernel);
#endif
#if defined(TALLYHOOK_AVX2_KERNEL)
    // Also tells whether the system saves the 32-byte registers.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) found.push_back(&kAvx2StringKernel);
#endif
    return found;
  }();
  return kernels;
}

}  // namespace

extern const StringKernel kPortableStringKernel{"portable", skip_string_content_portable};

const StringKernel& string_kernel() {
  static const StringKernel& fastest = *supported().back();
  return fastest;
}

std::span<const StringKernel* const> supported_string_kernels() { return supported(); }

}  // namespace tallyhook
