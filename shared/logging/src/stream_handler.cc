#include <algorithm>
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
    layouts.push_back(std::make_unique<const detail::Layout>(Formatter().format_string()));
    layout.store(layouts.back().get(), std::memory_order_release);
  }

  std::FILE* const stream;
  // The formatter's layout is swapped whole, so a record in flight keeps the one it started
  // with. Every layout the handler has had stays until it goes, so that a record takes the
  // current one with one load instead of a lock and a reference count shared by every thread
  // that logs.
  std::atomic<const detail::Layout*> layout;
  std::mutex layouts_mutex;  // serialises setFormatter
  std::vector<std::unique_ptr<const detail::Layout>> layouts;
};

StreamHandler::StreamHandler() : StreamHandler(stderr) {}

StreamHandler::StreamHandler(std::FILE* stream) {
  if (stream == nullptr) throw std::invalid_argument("StreamHandler needs a stream");
  impl_ = std::make_unique<Impl>(stream);
}

StreamHandler::~StreamHandler() = default;

std::FILE* StreamHandler::stream() const noexcept { return impl_->stream; }

Formatter StreamHandler::formatter() const {
  return Formatter(impl_->layout.load(std::memory_order_acquire)->text());
}

void StreamHandler::setFormatter(Formatter formatter) {
  const std::lock_guard lock(impl_->layouts_mutex);
  // A layout had before is taken up again rather than kept twice, so that switching between a
  // few layouts does not grow the list.
  auto& layouts = impl_->layouts;
  auto had = std::find_if(layouts.begin(), layouts.end(), [&](const auto& kept) {
    return kept->text() == formatter.format_string();
  });
  if (had == layouts.end()) {
    layouts.push_back(std::make_unique<const detail::Layout>(formatter.format_string()));
    had = layouts.end() - 1;
  }
  const detail::Layout* const chosen = had->get();
  impl_->layout.store(chosen, std::memory_order_release);
}

void StreamHandler::handle(const LogRecord& record) noexcept {
  // Laid out on the stack and outside the lock; only a line longer than the buffer allocates.
  fmt::memory_buffer line;
  try {
    impl_->layout.load(std::memory_order_acquire)->format(record, line);
    line.push_back('\n');
  } catch (...) {
    return;  // out of memory: drop the record rather than fail the caller
  }
  // A stream that refuses the line has nowhere left to report it to: the record is dropped. The
  // stream's own lock, held for the write, also keeps this handler's records apart.
  static_cast<void>(detail::write_line(impl_->stream, std::string_view(line.data(), line.size())));
}

}  // namespace zindle::logging
