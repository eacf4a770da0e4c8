// Named loggers for the zindle modules: one layout, one destination.
//
//   auto& log = zindle::logging::get_logger("zindle.auth");
//   log.warning("token for {} expired", user);   // [zindle.auth] WARNING: token for ann expired
//   log.info("not shown");                        // below the WARNING threshold
//
// Model
//   - A process-wide registry maps each name to exactly one Logger. Loggers are never removed
//     and never destroyed, so a reference from get_logger/getLogger stays valid until the
//     process ends, also inside static destructors and in threads still running at exit.
//     Built as a shared library (the default), it keeps one registry per process however many
//     modules link it; a static copy inside several shared objects would give each its own.
//   - The hierarchy is flat: a record logged on "zindle.auth" goes to the handlers of
//     "zindle.auth" only, never to those of "zindle". A dotted name is just a name, and the
//     empty name is an ordinary name too (there is no root logger).
//   - get_logger(name) configures a logger the first time it sees it without handlers: one
//     StreamHandler on standard error with the layout LINE_LAYOUT, and the threshold WARNING.
//     A logger that already has a handler is returned untouched, so a level or handler that a
//     caller sets afterwards stays in force. Nothing is ever written to standard output.
//   - A logger that get_logger has not configured has no handlers and the threshold WARNING.
//
// Threading: every function and member here may be called from any thread at the same time.
// Records are formatted without holding a lock; a StreamHandler writes each record as one
// whole line under its own lock, so lines from different threads never interleave.
//
// Failure: log calls never throw and never end the process. A record that cannot be formatted
// or written (closed stream, full disk, broken pipe) is dropped; a StreamHandler leaves errno as
// it was and keeps a broken pipe from raising SIGPIPE. It looks at what its stream's descriptor
// is for every record, so standard error may be re-pointed (dup2) between records, though not
// while another thread is in the middle of writing one to it. Only setup throws: addHandler and
// StreamHandler on misuse, getLogger and get_logger when memory runs out.
#ifndef ZINDLE_LOGGING_H_
#define ZINDLE_LOGGING_H_

#include <fmt/format.h>
#include <zindle/logging_version.h>  // ZINDLE_LOGGING_VERSION, "major.minor.patch"

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(_WIN32)
#if defined(ZINDLE_LOGGING_BUILDING)
#define ZINDLE_LOGGING_EXPORT __declspec(dllexport)
#elif defined(ZINDLE_LOGGING_STATIC)
#define ZINDLE_LOGGING_EXPORT
#else
#define ZINDLE_LOGGING_EXPORT __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define ZINDLE_LOGGING_EXPORT __attribute__((visibility("default")))
#else
#define ZINDLE_LOGGING_EXPORT
#endif

// <windows.h> defines ERROR, and many builds define DEBUG; either would break the level
// constants below. They are hidden here and restored at the end of this header. A file that has
// such a macro can still use the member functions (log.error(...)) or the numbers.
#pragma push_macro("DEBUG")
#pragma push_macro("INFO")
#pragma push_macro("WARNING")
#pragma push_macro("ERROR")
#pragma push_macro("CRITICAL")
#undef DEBUG
#undef INFO
#undef WARNING
#undef ERROR
#undef CRITICAL

namespace zindle::logging {

// Levels. Any int is a level; these five have names.
inline constexpr int DEBUG = 10;
inline constexpr int INFO = 20;
inline constexpr int WARNING = 30;
inline constexpr int ERROR = 40;
inline constexpr int CRITICAL = 50;

// The layout get_logger gives its handler.
inline constexpr std::string_view LINE_LAYOUT = "[%(name)s] %(levelname)s: %(message)s";

// "DEBUG", "INFO", "WARNING", "ERROR", "CRITICAL" for the five levels above, "Level N" for any
// other N.
ZINDLE_LOGGING_EXPORT std::string level_name(int level);

// One record on its way to the handlers. The views point into the caller's data and are valid
// only for the duration of Handler::handle; a handler that keeps a record must copy them.
struct LogRecord {
  std::string_view name;  // the logger's name
  int level;
  std::string_view message;  // fully formatted, without a line feed
};

// Turns a record into text: "%(name)s", "%(levelname)s" and "%(message)s" are replaced, every
// other character (a lone '%', an unknown "%(x)s") is copied unchanged. A value type.
class ZINDLE_LOGGING_EXPORT Formatter {
 public:
  Formatter();  // "%(message)s"
  explicit Formatter(std::string layout);

  const std::string& format_string() const noexcept { return format_; }
  std::string format(const LogRecord& record) const;

 private:
  std::string format_;
};

// Receives every record that passes a logger's threshold. Derive from it to send records
// elsewhere. handle() may be called from several threads at once and should not throw; if it
// does, the exception is dropped and the logger's next handler still gets the record.
class ZINDLE_LOGGING_EXPORT Handler {
 public:
  virtual ~Handler();
  Handler(const Handler&) = delete;
  Handler& operator=(const Handler&) = delete;

  virtual void handle(const LogRecord& record) = 0;

 protected:
  Handler() = default;
};

// Writes each record as its formatted text plus a line feed with one write, after what the
// stream already held in its buffer, all under the stream's own lock (flockfile), so that
// neither this handler's records nor those of handlers sharing the stream split each other. It has
// no level of its own. A record that cannot be written is dropped without a word (there is nowhere
// left to report it).
class ZINDLE_LOGGING_EXPORT StreamHandler final : public Handler {
 public:
  StreamHandler();  // standard error
  // Does not take ownership: the stream must stay open as long as the handler may write to it.
  // Throws std::invalid_argument for a null stream.
  explicit StreamHandler(std::FILE* stream);
  ~StreamHandler() override;

  std::FILE* stream() const noexcept;
  Formatter formatter() const;
  // Takes effect for the records handled after it returns. The default is Formatter(). The
  // handler keeps one copy of each distinct layout it has had until it is destroyed (a record
  // in flight may still be using one), so it is meant for setting up, not for every record.
  void setFormatter(Formatter formatter);

  void handle(const LogRecord& record) noexcept override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A named source of records: a threshold and an ordered list of handlers.
class ZINDLE_LOGGING_EXPORT Logger {
 public:
  // Loggers normally come from get_logger or getLogger; one made here is not registered.
  // Starts with no handlers and the threshold WARNING.
  explicit Logger(std::string name);
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  const std::string& name() const noexcept;

  // The threshold: records below it are dropped. Checked inline, so that a record below it
  // costs the caller one load and one comparison.
  int level() const noexcept { return level_.load(std::memory_order_relaxed); }
  void setLevel(int level) noexcept { level_.store(level, std::memory_order_relaxed); }
  bool isEnabledFor(int level) const noexcept { return level >= this->level(); }

  // A snapshot of the handlers in the order they are called.
  std::vector<std::shared_ptr<Handler>> handlers() const;
  // Appends; the logger shares ownership and keeps the handler for good. Throws
  // std::invalid_argument for a null handler.
  void addHandler(std::shared_ptr<Handler> handler);

  // Hands the record to every handler in order if `level` passes the threshold. A message
  // without arguments is written as it stands, braces included; with arguments, the message
  // is a format string checked at compile time ("{}" per argument) and is only formatted
  // when the record passes the threshold.
  void log(int level, std::string_view message) noexcept {
    if (isEnabledFor(level)) dispatch(level, message);
  }
  template <typename Arg, typename... Args>
  void log(int level, fmt::format_string<Arg, Args...> format, Arg&& arg, Args&&... args) noexcept {
    if (isEnabledFor(level)) {
      format_and_dispatch(level, format, std::forward<Arg>(arg), std::forward<Args>(args)...);
    }
  }

  void debug(std::string_view message) noexcept { log(DEBUG, message); }
  void info(std::string_view message) noexcept { log(INFO, message); }
  void warning(std::string_view message) noexcept { log(WARNING, message); }
  void error(std::string_view message) noexcept { log(ERROR, message); }
  void critical(std::string_view message) noexcept { log(CRITICAL, message); }

  template <typename Arg, typename... Args>
  void debug(fmt::format_string<Arg, Args...> format, Arg&& arg, Args&&... args) noexcept {
    log(DEBUG, format, std::forward<Arg>(arg), std::forward<Args>(args)...);
  }
  template <typename Arg, typename... Args>
  void info(fmt::format_string<Arg, Args...> format, Arg&& arg, Args&&... args) noexcept {
    log(INFO, format, std::forward<Arg>(arg), std::forward<Args>(args)...);
  }
  template <typename Arg, typename... Args>
  void warning(fmt::format_string<Arg, Args...> format, Arg&& arg, Args&&... args) noexcept {
    log(WARNING, format, std::forward<Arg>(arg), std::forward<Args>(args)...);
  }
  template <typename Arg, typename... Args>
  void error(fmt::format_string<Arg, Args...> format, Arg&& arg, Args&&... args) noexcept {
    log(ERROR, format, std::forward<Arg>(arg), std::forward<Args>(args)...);
  }
  template <typename Arg, typename... Args>
  void critical(fmt::format_string<Arg, Args...> format, Arg&& arg, Args&&... args) noexcept {
    log(CRITICAL, format, std::forward<Arg>(arg), std::forward<Args>(args)...);
  }

 private:
  // Hands a record that passed the threshold to the handlers.
  void dispatch(int level, std::string_view message) noexcept;

  // Kept apart from log() so that log() stays small enough to be inlined into every caller,
  // and a record below the threshold costs no call.
  template <typename... Args>
  void format_and_dispatch(int level, fmt::format_string<Args...> format, Args&&... args) noexcept {
    // Formatted on the stack; only a message longer than the buffer allocates.
    fmt::memory_buffer message;
    try {
      fmt::format_to(fmt::appender(message), format, std::forward<Args>(args)...);
    } catch (...) {
      return;  // e.g. out of memory, or a width argument that fails at run time
    }
    dispatch(level, std::string_view(message.data(), message.size()));
  }

  std::atomic<int> level_{WARNING};
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The registry's logger for `name`, created (without handlers, threshold WARNING) on the first
// request. Never configures anything.
ZINDLE_LOGGING_EXPORT Logger& getLogger(std::string_view name);

// getLogger(name), configured as described at the top of this file if it has no handler yet.
// Concurrent first calls for one name leave exactly one handler.
ZINDLE_LOGGING_EXPORT Logger& get_logger(std::string_view name = "zindle");

}  // namespace zindle::logging

#pragma pop_macro("CRITICAL")
#pragma pop_macro("ERROR")
#pragma pop_macro("WARNING")
#pragma pop_macro("INFO")
#pragma pop_macro("DEBUG")

#endif  // ZINDLE_LOGGING_H_
