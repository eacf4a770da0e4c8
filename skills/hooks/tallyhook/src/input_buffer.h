#ifndef TALLYHOOK_INPUT_BUFFER_H_
#define TALLYHOOK_INPUT_BUFFER_H_

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace tallyhook {

// A growable block of bytes read from a stream. Unlike a std::string it never writes to
// memory it has not been filled with, so a large block costs resident memory only for
// what was read: growing it by realloc lets the system map fresh pages instead of copying.
class InputBuffer {
 public:
  std::string_view view() const { return {data_.get(), size_}; }

  // Room for at least `wanted` more bytes after the filled part; nothing when memory runs
  // out.
  char* reserve(std::size_t wanted) {
    if (capacity_ - size_ >= wanted) return data_.get() + size_;
    std::size_t capacity = capacity_ < 65536 ? 65536 : capacity_;
    while (capacity - size_ < wanted) {
      if (capacity > static_cast<std::size_t>(-1) / 2) return nullptr;
      capacity *= 2;
    }
    void* grown = std::realloc(data_.get(), capacity);
    if (grown == nullptr) return nullptr;
    data_.release();
    data_.reset(static_cast<char*>(grown));
    capacity_ = capacity;
    return data_.get() + size_;
  }

  // Marks `count` bytes after the filled part, written through reserve(), as filled.
  void commit(std::size_t count) { size_ += count; }

 private:
  struct Free {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, Free> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace tallyhook

#endif  // TALLYHOOK_INPUT_BUFFER_H_
