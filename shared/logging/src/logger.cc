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
  explicit Impl(std::string logger_name) : name(std::move(logger_name)) {}

  const std::string name;
  std::atomic<int> level{WARNING};
  // Copy-on-write: addHandler publishes a new list, and a record is dispatched on the list it
  // found, with no lock held while handlers write. A handler may therefore log or add handlers
  // itself without deadlocking.
  mutable std::mutex handlers_mutex;
  std::shared_ptr<const HandlerList> handlers = std::make_shared<const HandlerList>();

  std::shared_ptr<const HandlerList> current_handlers() const {
    const std::lock_guard lock(handlers_mutex);
    return handlers;
  }
};

Logger::Logger(std::string name) : impl_(std::make_unique<Impl>(std::move(name))) {}

Logger::~Logger() = default;

const std::string& Logger::name() const noexcept { return impl_->name; }

int Logger::level() const noexcept { return impl_->level.load(std::memory_order_relaxed); }

void Logger::setLevel(int level) noexcept { impl_->level.store(level, std::memory_order_relaxed); }

bool Logger::isEnabledFor(int level) const noexcept { return level >= this->level(); }

std::vector<std::shared_ptr<Handler>> Logger::handlers() const {
  return *impl_->current_handlers();
}

void Logger::addHandler(std::shared_ptr<Handler> handler) {
  // A null handler would only fail later, inside some unrelated log call.
  if (handler == nullptr) throw std::invalid_argument("addHandler needs a handler");
  const std::lock_guard lock(impl_->handlers_mutex);
  auto extended = std::make_shared<HandlerList>(*impl_->handlers);
  extended->push_back(std::move(handler));
  impl_->handlers = std::move(extended);
}

void Logger::log(int level, std::string_view message) noexcept {
  if (!isEnabledFor(level)) return;
  const LogRecord record{impl_->name, level, message};
  const auto handlers = impl_->current_handlers();
  for (const auto& handler : *handlers) {
    try {
      handler->handle(record);
    } catch (...) {
      // A handler's failure must neither reach the caller nor starve the handlers after it.
    }
  }
}

}  // namespace zindle::logging
