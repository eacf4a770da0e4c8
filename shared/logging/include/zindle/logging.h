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
// whole line under the stream's own lock, so lines from different threads never interleave.
//
// Failure: log calls never throw and never end the process. A record that cannot be formatted
// or written (closed stream, full disk, broken pipe) is dropped; a StreamHandler leaves errno as
// it was and keeps a broken pipe from raising SIGPIPE, from whatever thread it writes, without
// changing any signal's disposition or the caller's signal mask. It looks at what its stream's
// descriptor is for every record, so standard error may be re-pointed (dup2) between records,
// though not while another thread is in the middle of writing one to it. A log call is no
// cancellation point: a thread cancelled while it logs is cancelled at its next one. Only setup
// throws: addHandler and StreamHandler on misuse, getLogger and get_logger when memory runs out.
//
// SIGPIPE on macOS: XNU raises it at the process, not at the writing thread, so blocking it in
// the writing thread (what Linux and FreeBSD need) would let any other thread take it. Instead a
// write to a pipe or socket sets the descriptor's own flag, F_SETNOSIGPIPE (SO_NOSIGPIPE for a
// socket), and puts it back as it was right after. The flag belongs to the open file, which
// every holder shares: while a record is being written, a write by another holder of the same
// pipe (another process, or this one's standard output after `2>&1`) that finds the reader gone
// gets EPIPE instead of SIGPIPE. Leaving the flag set for good would make that permanent, and
// ignoring the signal would change the whole process. A stream without a descriptor of its own
// (funopen) writes through its own functions, which the flag cannot reach: they must not write to
// a broken pipe unguarded.
#ifndef ZINDLE_LOGGING_H_
#define ZINDLE_LOGGING_H_

#include <fmt/format.h>
#include <zindle/logging_version.h>  // ZINDLE_LOGGING_VERSION, "major.minor.patch"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
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
// stream already held in its buffer, all under the stream's own lock (the one flockfile takes),
// so that neither this handler's records nor those of handlers sharing the stream split each
// other. It has no level of its own. A record that cannot be written is dropped without a word
// (there is nowhere left to report it).
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

namespace detail {

// A format string's length and, when it is made only of plain "{}" fields (no "{{", "}}",
// indexes or specifications), one per argument, and is at most 255 characters long, where each
// field starts, all in one word (top bit: plain; then 8 bits per field; low 8 bits: length).
// One word, so that the whole format string fits in two registers and a log call below the
// threshold builds nothing in memory.
inline constexpr std::size_t MAX_PLAIN_FIELDS = 6;
inline constexpr std::uint64_t PLAIN = std::uint64_t{1} << 63;

consteval std::uint64_t plan_fields(std::string_view text, std::size_t arguments) {
  const std::uint64_t not_plain = text.size();
  if (text.size() > 255) return not_plain;
  std::uint64_t plan = text.size();
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '}') return not_plain;
    if (text[i] != '{') continue;
    if (i + 1 == text.size() || text[i + 1] != '}' || count == MAX_PLAIN_FIELDS) return not_plain;
    plan |= std::uint64_t{i} << (8 + 8 * count++);
    ++i;
  }
  return count == arguments ? plan | PLAIN : not_plain;
}

// Copies the few bytes a piece of a log line usually has without a call into the C library
// for each piece: those calls were a fifth of the instructions a record took. `MaxSize` bounds
// `size` where the caller knows better than the compiler: GCC 12 at -O1 sees that a narrow
// integer's digits sit near the end of their buffer but not that they are few, and warns
// (-Wstringop-overread) about a branch that could only copy more.
template <std::size_t MaxSize = std::numeric_limits<std::size_t>::max()>
inline void copy_short(char* to, const char* from, std::size_t size) noexcept {
  if (MaxSize > 16 && size > 16) {
    std::memcpy(to, from, size);
  } else if (MaxSize >= 8 && size >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + size - 8, from + size - 8, 8);
  } else if (MaxSize >= 4 && size >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + size - 4, from + size - 4, 4);
  } else {
    for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
  }
}

template <std::size_t MaxSize = std::numeric_limits<std::size_t>::max()>
inline void append_text(fmt::memory_buffer& out, std::string_view text) {
  const std::size_t size = out.size();
  out.resize(size + text.size());  // throws only when memory runs out
  copy_short<MaxSize>(out.data() + size, text.data(), text.size());
}

// One argument as "{}" formats it: integers and strings directly, anything else through fmt.
template <typename T>
void append_argument(fmt::memory_buffer& out, const T& value) {
  using Plain = std::remove_cv_t<T>;
  constexpr bool character = std::is_same_v<Plain, char> || std::is_same_v<Plain, wchar_t> ||
                             std::is_same_v<Plain, char8_t> || std::is_same_v<Plain, char16_t> ||
                             std::is_same_v<Plain, char32_t> || std::is_same_v<Plain, bool>;
  // (Wider integers, such as __int128 where it counts as one, are left to fmt.)
  if constexpr (std::is_integral_v<Plain> && !character && sizeof(Plain) <= sizeof(long long)) {
    constexpr std::size_t most_digits = std::numeric_limits<Plain>::digits10 + 2;  // and a sign
    if constexpr (std::is_signed_v<Plain>) {
      const fmt::format_int digits(static_cast<long long>(value));
      append_text<most_digits>(out, std::string_view(digits.data(), digits.size()));
    } else {
      const fmt::format_int digits(static_cast<unsigned long long>(value));
      append_text<most_digits>(out, std::string_view(digits.data(), digits.size()));
    }
  } else if constexpr (std::is_same_v<Plain, std::string> ||
                       std::is_same_v<Plain, std::string_view>) {
    append_text(out, value);
  } else if constexpr (std::is_array_v<Plain> &&
                       std::is_same_v<std::remove_cv_t<std::remove_extent_t<Plain>>, char>) {
    append_text(out, std::string_view(value));  // up to the first NUL, as fmt takes it
  } else if constexpr (std::is_same_v<Plain, const char*> || std::is_same_v<Plain, char*>) {
    if (value == nullptr) {
      fmt::format_to(fmt::appender(out), "{}", value);  // fmt's error for a null string
    } else {
      append_text(out, std::string_view(value));
    }
  } else {
    fmt::format_to(fmt::appender(out), "{}", value);
  }
}

}  // namespace detail

// What the members of Logger that take arguments accept as their message: a format string
// checked at compile time against the arguments, as fmt::format_string is (it converts
// implicitly from a string literal, and from fmt::runtime(...) unchecked). A string made only
// of plain "{}" fields is also taken apart at compile time, so that the message is put together
// without parsing it again for every record.
template <typename... Args>
class FormatString {
 public:
  template <typename S>
  requires std::is_convertible_v<const S&, std::string_view>
  consteval FormatString(const S& text)  // implicit, as fmt's
      : data_(std::string_view(text).data()),
        plan_(detail::plan_fields(std::string_view(text), sizeof...(Args))) {
    static_cast<void>(fmt::format_string<Args...>(text));  // the compile-time check
  }
  // fmt::runtime(...) and the like: checked and parsed when formatted.
  template <typename S,
            std::enable_if_t<!std::is_convertible_v<const S&, std::string_view> &&
                                 std::is_constructible_v<fmt::format_string<Args...>, S>,
                             int> = 0>
  FormatString(S text) {  // implicit, as fmt's
    const fmt::string_view checked = fmt::format_string<Args...>(text);
    data_ = checked.data();
    plan_ = checked.size();
  }

  std::string_view text() const noexcept {
    return {data_, plain() ? static_cast<std::size_t>(plan_ & 0xFF) : plan_};
  }
  bool plain() const noexcept { return (plan_ & detail::PLAIN) != 0; }
  // Where the plain field `field` starts.
  std::size_t offset(std::size_t field) const noexcept {
    return static_cast<std::size_t>((plan_ >> (8 + 8 * field)) & 0xFF);
  }
  fmt::format_string<Args...> get() const { return fmt::runtime(text()); }

 private:
  const char* data_;
  std::uint64_t plan_;
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
  void log(int level, FormatString<std::type_identity_t<Arg>, std::type_identity_t<Args>...> format,
           Arg&& arg, Args&&... args) noexcept {
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
  void debug(FormatString<std::type_identity_t<Arg>, std::type_identity_t<Args>...> format,
             Arg&& arg, Args&&... args) noexcept {
    log(DEBUG, format, std::forward<Arg>(arg), std::forward<Args>(args)...);
  }
  template <typename Arg, typename... Args>
  void info(FormatString<std::type_identity_t<Arg>, std::type_identity_t<Args>...> format,
            Arg&& arg, Args&&... args) noexcept {
    log(INFO, format, std::forward<Arg>(arg), std::forward<Args>(args)...);
  }
  template <typename Arg, typename... Args>
  void warning(FormatString<std::type_identity_t<Arg>, std::type_identity_t<Args>...> format,
               Arg&& arg, Args&&... args) noexcept {
    log(WARNING, format, std::forward<Arg>(arg), std::forward<Args>(args)...);
  }
  template <typename Arg, typename... Args>
  void error(FormatString<std::type_identity_t<Arg>, std::type_identity_t<Args>...> format,
             Arg&& arg, Args&&... args) noexcept {
    log(ERROR, format, std::forward<Arg>(arg), std::forward<Args>(args)...);
  }
  template <typename Arg, typename... Args>
  void critical(FormatString<std::type_identity_t<Arg>, std::type_identity_t<Args>...> format,
                Arg&& arg, Args&&... args) noexcept {
    log(CRITICAL, format, std::forward<Arg>(arg), std::forward<Args>(args)...);
  }

 private:
  // Hands a record that passed the threshold to the handlers.
  void dispatch(int level, std::string_view message) noexcept;

  // Kept apart from log() so that log() stays small enough to be inlined into every caller,
  // and a record below the threshold costs no call.
  template <typename... Args>
  void format_and_dispatch(int level, FormatString<std::type_identity_t<Args>...> format,
                           Args&&... args) noexcept {
    // Formatted on the stack; only a message longer than the buffer allocates.
    fmt::memory_buffer message;
    try {
      if (format.plain()) {
        const std::string_view text = format.text();
        std::size_t at = 0;
        std::size_t field = 0;
        const auto put = [&](const auto& arg) {
          const std::size_t start = format.offset(field++);
          detail::append_text(message, std::string_view(text.data() + at, start - at));
          detail::append_argument(message, arg);
          at = start + 2;
        };
        (put(args), ...);
        detail::append_text(message, std::string_view(text.data() + at, text.size() - at));
      } else {
        fmt::format_to(fmt::appender(message), format.get(), std::forward<Args>(args)...);
      }
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
