#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format_line.h"
#include "stream_write.h"
#include "zindle/logging.h"

namespace zindle::logging {

struct StreamHandler::Impl {
  explicit Impl(std::FILE* out) : stream(out) {
    formatters.push_back(std::make_unique<const Formatter>());
    formatter.store(formatters.back().get(), std::memory_order_release);
  }

  std::FILE* const stream;
  // The formatter is swapped whole, so a record in flight keeps the one it started with. The
  // replaced ones stay until the handler goes, so that a record takes the current one with one
  // load instead of a lock and a reference count shared by every thread that logs.
  std::atomic<const Formatter*> formatter;
  std::mutex formatters_mutex;  // serialises setFormatter
  std::vector<std::unique_ptr<const Formatter>> formatters;
  std::mutex write_mutex;
};

StreamHandler::StreamHandler() : StreamHandler(stderr) {}

StreamHandler::StreamHandler(std::FILE* stream) {
  if (stream == nullptr) throw std::invalid_argument("StreamHandler needs a stream");
  impl_ = std::make_unique<Impl>(stream);
}

StreamHandler::~StreamHandler() = default;

std::FILE* StreamHandler::stream() const noexcept { return impl_->stream; }

Formatter StreamHandler::formatter() const {
  return *impl_->formatter.load(std::memory_order_acquire);
}

void StreamHandler::setFormatter(Formatter formatter) {
  const std::lock_guard lock(impl_->formatters_mutex);
  // The same layout again changes nothing and need not keep another copy.
  if (impl_->formatters.back()->format_string() == formatter.format_string()) return;
  impl_->formatters.push_back(std::make_unique<const Formatter>(std::move(formatter)));
  impl_->formatter.store(impl_->formatters.back().get(), std::memory_order_release);
}

void StreamHandler::handle(const LogRecord& record) noexcept {
  // Formatted on the stack and outside the lock; only a line longer than the buffer allocates.
  fmt::memory_buffer line;
  try {
    const Formatter* const formatter = impl_->formatter.load(std::memory_order_acquire);
    detail::format_line(formatter->format_string(), record, line);
    line.push_back('\n');
  } catch (...) {
    return;  // out of memory: drop the record rather than fail the caller
  }
  const std::lock_guard lock(impl_->write_mutex);
  // A stream that refuses the line has nowhere left to report it to: the record is dropped.
  static_cast<void>(detail::write_line(impl_->stream, std::string_view(line.data(), line.size())));
}

}  // namespace zindle::logging
