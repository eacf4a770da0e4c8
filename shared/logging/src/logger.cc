#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "zindle/logging.h"

namespace zindle::logging {

using HandlerList = std::vector<std::shared_ptr<Handler>>;

struct Logger::Impl {
  explicit Impl(std::string logger_name) : name(std::move(logger_name)) {
    lists.push_back(std::make_unique<const HandlerList>());
    handlers.store(lists.back().get(), std::memory_order_release);
  }

  const std::string name;
  // Copy-on-write: addHandler publishes a new list, and a record is dispatched on the list it
  // found, with no lock held while handlers write. A handler may therefore log or add handlers
  // itself without deadlocking. Handlers are only ever added, so every list published stays
  // until the logger goes: a record may still be walking an older one, and a record takes the
  // current list with one load instead of a lock and a reference count shared by all threads.
  std::atomic<const HandlerList*> handlers;
  std::mutex lists_mutex;  // serialises addHandler
  std::vector<std::unique_ptr<const HandlerList>> lists;
};

Logger::Logger(std::string name) : impl_(std::make_unique<Impl>(std::move(name))) {}

Logger::~Logger() = default;

const std::string& Logger::name() const noexcept { return impl_->name; }

std::vector<std::shared_ptr<Handler>> Logger::handlers() const {
  return *impl_->handlers.load(std::memory_order_acquire);
}

void Logger::addHandler(std::shared_ptr<Handler> handler) {
  // A null handler would only fail later, inside some unrelated log call.
  if (handler == nullptr) throw std::invalid_argument("addHandler needs a handler");
  const std::lock_guard lock(impl_->lists_mutex);
  auto extended = std::make_unique<HandlerList>(*impl_->lists.back());
  extended->push_back(std::move(handler));
  const HandlerList* const published = extended.get();
  impl_->lists.push_back(std::move(extended));
  impl_->handlers.store(published, std::memory_order_release);
}

void Logger::dispatch(int level, std::string_view message) noexcept {
  const LogRecord record{impl_->name, level, message};
  for (const auto& handler : *impl_->handlers.load(std::memory_order_acquire)) {
    try {
      handler->handle(record);
    } catch (...) {
      // A handler's failure must neither reach the caller nor starve the handlers after it.
    }
  }
}

}  // namespace zindle::logging
