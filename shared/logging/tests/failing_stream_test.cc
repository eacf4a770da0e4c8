#include <gtest/gtest.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "test_support.h"
#include "zindle/logging.h"

namespace zindle::logging {
namespace {

// The writing end of a pipe whose reader is gone: a write fails (on POSIX with EPIPE, after
// raising SIGPIPE).
int broken_pipe_fd() {
  int ends[2];
#ifdef _WIN32
  if (_pipe(ends, 4096, _O_BINARY) != 0) return -1;
#else
  if (pipe(ends) != 0) return -1;
#endif
  close(ends[0]);
  return ends[1];
}

std::FILE* broken_pipe() {
  const int fd = broken_pipe_fd();
  return fd < 0 ? nullptr : fdopen(fd, "w");
}

#ifndef _WIN32
// A stream socket whose peer is gone: like a broken pipe, a write raises SIGPIPE.
std::FILE* closed_socket() {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return nullptr;
  close(ends[1]);
  return fdopen(ends[0], "w");
}

bool sigpipe_blocked() {
  sigset_t blocked;
  pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
  return sigismember(&blocked, SIGPIPE) == 1;
}

bool sigpipe_pending() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGPIPE) == 1;
}
#endif

#ifdef __GLIBC__
// A stream with no descriptor of its own whose writes go to a broken pipe.
std::FILE* cookie_over_broken_pipe() {
  static const int fd = broken_pipe_fd();
  cookie_io_functions_t io{};
  io.write = [](void*, const char* data, std::size_t size) -> ssize_t {
    return write(fd, data, size);
  };
  return fopencookie(nullptr, "w", io);
}
#endif

#ifndef _WIN32
// A pipe whose reader is gone, with text of the caller's still in the stream's buffer: the
// flush before the record meets the broken pipe first.
std::FILE* broken_pipe_with_buffered_text() {
  std::FILE* const stream = broken_pipe();
  if (stream != nullptr) std::fputs("caller's text ", stream);
  return stream;
}

// A thread that does not block SIGPIPE, running while it lives: macOS raises SIGPIPE at the
// process, and any such thread may take it.
class UnblockedThread {
 public:
  UnblockedThread()
      : thread_([this] {
          pthread_sigmask(SIG_UNBLOCK, &pipe_only_, nullptr);
          started_ = true;
          while (!done_) std::this_thread::yield();
        }) {
    while (!started_) std::this_thread::yield();
  }
  ~UnblockedThread() {
    done_ = true;
    thread_.join();
  }

 private:
  sigset_t pipe_only_ = [] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
  }();
  std::atomic<bool> started_{false};
  std::atomic<bool> done_{false};
  std::thread thread_;
};
#endif

// Who logs: SIGPIPE blocked in the calling thread, and one pending already (the caller's, which
// must stay); another thread that does not block it running meanwhile; a cancellation pending
// in the calling thread, which must still be pending after the call.
struct Caller {
  const char* what;
  bool blocked = false;
  bool pending = false;
  bool other_thread = false;
  bool cancel_pending = false;
};

// What one log call left behind, as the calling thread saw it.
struct Outcome {
  bool returned = false;
  int errno_after = 0;
  bool pending_after = false;
  bool blocked_after = false;
};

Outcome log_one(Logger& logger, [[maybe_unused]] const Caller& caller) {
  Outcome outcome;
#ifndef _WIN32
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  if (caller.blocked) pthread_sigmask(SIG_BLOCK, &pipe_only, nullptr);
  if (caller.pending) pthread_kill(pthread_self(), SIGPIPE);
  if (caller.cancel_pending) pthread_cancel(pthread_self());
#endif
  errno = EINTR;
  logger.error("lost {}", 1);
  outcome.errno_after = errno;
  outcome.returned = true;
#ifndef _WIN32
  outcome.pending_after = sigpipe_pending();
  outcome.blocked_after = sigpipe_blocked();
  int taken;
  if (caller.pending) sigwait(&pipe_only, &taken);
  pthread_sigmask(SIG_UNBLOCK, &pipe_only, nullptr);
#endif
  return outcome;
}

Outcome log_as(Logger& logger, const Caller& caller) {
#ifndef _WIN32
  if (caller.cancel_pending) {  // in a thread of its own, which the cancellation ends
    struct Call {
      Logger& logger;
      const Caller& caller;
      Outcome outcome;
    } call{logger, caller, {}};
    pthread_t thread;
    void* result = nullptr;
    const auto run = [](void* c) -> void* {
      auto& made = *static_cast<Call*>(c);
      made.outcome = log_one(made.logger, made.caller);
      pthread_testcancel();  // ends the thread
      return nullptr;
    };
    if (pthread_create(&thread, nullptr, run, &call) != 0 || pthread_join(thread, &result) != 0) {
      ADD_FAILURE() << "no thread";
    }
    EXPECT_EQ(result, PTHREAD_CANCELED) << "the cancellation must still be pending";
    return call.outcome;
  }
  if (caller.other_thread) {
    const UnblockedThread other;
    return log_one(logger, caller);
  }
#endif
  return log_one(logger, caller);
}

TEST(FailingStream, RecordIsDroppedQuietly) {
#ifndef _WIN32
  // SIGPIPE must really be fatal here, whatever the test runner inherited.
  const auto inherited = std::signal(SIGPIPE, SIG_DFL);
#endif
  const struct {
    const char* what;
    std::FILE* (*open)();
  } streams[] = {
      {"broken pipe", broken_pipe},
#ifdef _WIN32
      {"read-only stream", [] { return std::fopen("NUL", "r"); }},
#else
      {"broken pipe behind buffered text", broken_pipe_with_buffered_text},
      {"closed socket", closed_socket},
      {"read-only stream", [] { return std::fopen("/dev/null", "r"); }},
#endif
#ifdef __linux__
      {"full disk", [] { return std::fopen("/dev/full", "w"); }},  // no /dev/full on macOS
#endif
#ifdef __GLIBC__
      {"stream without a descriptor", cookie_over_broken_pipe},
#endif
  };
  // The caller's own state must come out as it went in, whatever it was.
  const Caller callers[] = {
      {"SIGPIPE not blocked"},
#ifndef _WIN32
      {"SIGPIPE blocked", true},
      {"SIGPIPE blocked and pending", true, true},
      {"SIGPIPE blocked here, not in another thread", true, false, true},
      {"SIGPIPE not blocked, nor in another thread", false, false, true},
      {"a cancellation pending", false, false, false, true},
#endif
  };
  for (const Caller& caller : callers) {
    for (const auto& s : streams) {
      SCOPED_TRACE(std::string(s.what) + ", " + caller.what);
      std::FILE* const stream = s.open();
      ASSERT_NE(stream, nullptr);
      Logger logger(s.what);
      logger.addHandler(std::make_shared<StreamHandler>(stream));
      const Outcome outcome = log_as(logger, caller);
      EXPECT_TRUE(outcome.returned);
      EXPECT_EQ(outcome.errno_after, EINTR) << "a log call must not change errno";
      EXPECT_EQ(outcome.pending_after, caller.pending) << "pending SIGPIPE";
      EXPECT_EQ(outcome.blocked_after, caller.blocked) << "the signal mask must be restored";
#ifndef _WIN32
      std::signal(SIGPIPE, SIG_IGN);  // the caller's text may still be in the buffer
#endif
      std::fclose(stream);
#ifndef _WIN32
      std::signal(SIGPIPE, SIG_DFL);
#endif
    }
  }
#ifndef _WIN32
  std::signal(SIGPIPE, inherited);
#endif
}

// Standard error re-pointed between two records, from a file to something that refuses the
// record: that record is dropped, the process lives on, and once standard error is back the
// next record goes out. Whether the write needs guarding is decided anew for every record.
TEST(FailingStream, StderrRepointedBetweenRecordsDropsAndRecovers) {
#ifndef _WIN32
  const auto inherited = std::signal(SIGPIPE, SIG_DFL);
#endif
  const struct {
    const char* what;
    int fd;  // dup2'ed over standard error; -1 closes it
  } cases[] = {
      {"closed", -1},
      {"pipe without a reader", broken_pipe_fd()},
  };
  Logger& logger = get_logger("failing.stderr");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::FdCapture err(2);
    logger.error("before");
    const int saved = dup(2);
    if (c.fd < 0) {
      close(2);
    } else {
      dup2(c.fd, 2);
      close(c.fd);
    }
    errno = EINTR;
    logger.error("lost");
    EXPECT_EQ(errno, EINTR);
    dup2(saved, 2);
    close(saved);
    logger.error("back");
    EXPECT_EQ(err.release(), "[failing.stderr] ERROR: before\n[failing.stderr] ERROR: back\n");
  }
#ifndef _WIN32
  std::signal(SIGPIPE, inherited);
#endif
}

TEST(FailingStream, ThrowingHandlerNeitherThrowsNorStopsTheOthers) {
  struct Throwing : Handler {
    void handle(const LogRecord&) override { throw std::runtime_error("handler failed"); }
  };
  Logger logger("failing.handler");
  logger.addHandler(std::make_shared<Throwing>());
  const auto after = std::make_shared<testing::CountingHandler>();
  logger.addHandler(after);
  logger.warning("still delivered");
  EXPECT_EQ(after->count, 1);
}

}  // namespace
}  // namespace zindle::logging
