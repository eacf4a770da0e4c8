#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "stream_write.h"
#include "zindle/logging.h"

namespace zindle::logging {

struct StreamHandler::Impl {
  explicit Impl(std::FILE* out) : stream(out) {}

  std::FILE* const stream;
  // The formatter is swapped whole, so a record in flight keeps the one it started with and
  // formatting needs no lock beyond taking this pointer.
  mutable std::mutex formatter_mutex;
  std::shared_ptr<const Formatter> formatter = std::make_shared<const Formatter>();
  std::mutex write_mutex;

  std::shared_ptr<const Formatter> current_formatter() const {
    const std::lock_guard lock(formatter_mutex);
    return formatter;
  }
};

StreamHandler::StreamHandler() : StreamHandler(stderr) {}

StreamHandler::StreamHandler(std::FILE* stream) {
  if (stream == nullptr) throw std::invalid_argument("StreamHandler needs a stream");
  impl_ = std::make_unique<Impl>(stream);
}

StreamHandler::~StreamHandler() = default;

std::FILE* StreamHandler::stream() const noexcept { return impl_->stream; }

Formatter StreamHandler::formatter() const { return *impl_->current_formatter(); }

void StreamHandler::setFormatter(Formatter formatter) {
  auto replacement = std::make_shared<const Formatter>(std::move(formatter));
  const std::lock_guard lock(impl_->formatter_mutex);
  impl_->formatter = std::move(replacement);
}

void StreamHandler::handle(const LogRecord& record) noexcept {
  std::string line;
  try {
    line = impl_->current_formatter()->format(record);
    line.push_back('\n');
  } catch (...) {
    return;  // out of memory: drop the record rather than fail the caller
  }
  const std::lock_guard lock(impl_->write_mutex);
  // A stream that refuses the line has nowhere left to report it to: the record is dropped.
  static_cast<void>(detail::write_line(impl_->stream, line));
}

}  // namespace zindle::logging
