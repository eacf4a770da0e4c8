#ifndef TALLYHOOK_TESTS_CHUNKED_STREAM_H_
#define TALLYHOOK_TESTS_CHUNKED_STREAM_H_

#include <algorithm>
#include <string>
#include <utility>

#include "hook_event.h"

namespace tallyhook::testing {

// Hands out a text a few bytes at a time, so that every token meets a window boundary,
// then fails if told to.
class ChunkedStream : public ByteStream {
 public:
  ChunkedStream(std::string text, std::size_t chunk, bool fail_at_end = false)
      : text_(std::move(text)), chunk_(chunk), fail_at_end_(fail_at_end) {}

  std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
    const std::size_t n = std::min({chunk_, capacity, text_.size() - offset_});
    if (n == 0) return fail_at_end_ ? -1 : 0;
    text_.copy(buffer, n, offset_);
    offset_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  std::string text_;
  std::size_t chunk_;
  bool fail_at_end_;
  std::size_t offset_ = 0;
};

}  // namespace tallyhook::testing

#endif  // TALLYHOOK_TESTS_CHUNKED_STREAM_H_
