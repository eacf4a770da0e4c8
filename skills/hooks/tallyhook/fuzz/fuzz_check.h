#ifndef TALLYHOOK_FUZZ_FUZZ_CHECK_H_
#define TALLYHOOK_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

// A property that must hold for every input; libFuzzer keeps the input that breaks it.
#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

#endif  // TALLYHOOK_FUZZ_FUZZ_CHECK_H_
