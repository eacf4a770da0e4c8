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

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

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
      {"closed socket", closed_socket},
      {"full disk", [] { return std::fopen("/dev/full", "w"); }},
      {"read-only stream", [] { return std::fopen("/dev/null", "r"); }},
#endif
#ifdef __GLIBC__
      {"stream without a descriptor", cookie_over_broken_pipe},
#endif
  };
  // The caller's own SIGPIPE state must come out as it went in: not blocked; blocked; blocked
  // with one already pending, which is the caller's and must stay.
  const struct {
    const char* what;
    bool blocked;
    bool pending;
  } masks[] = {
      {"SIGPIPE not blocked", false, false},
#ifndef _WIN32
      {"SIGPIPE blocked", true, false},
      {"SIGPIPE blocked and pending", true, true},
#endif
  };
  for (const auto& mask : masks) {
    for (const auto& s : streams) {
      SCOPED_TRACE(std::string(s.what) + ", " + mask.what);
      std::FILE* const stream = s.open();
      ASSERT_NE(stream, nullptr);
#ifndef _WIN32
      sigset_t pipe_only;
      sigemptyset(&pipe_only);
      sigaddset(&pipe_only, SIGPIPE);
      if (mask.blocked) pthread_sigmask(SIG_BLOCK, &pipe_only, nullptr);
      if (mask.pending) pthread_kill(pthread_self(), SIGPIPE);
#endif
      Logger logger(s.what);
      logger.addHandler(std::make_shared<StreamHandler>(stream));
      errno = EINTR;
      logger.error("lost {}", 1);
      EXPECT_EQ(errno, EINTR) << "a log call must not change errno";

#ifndef _WIN32
      EXPECT_EQ(sigpipe_pending(), mask.pending) << "pending SIGPIPE";
      EXPECT_EQ(sigpipe_blocked(), mask.blocked) << "the signal mask must be restored";
      if (mask.pending) {
        const timespec no_wait{};
        sigtimedwait(&pipe_only, nullptr, &no_wait);
      }
      pthread_sigmask(SIG_UNBLOCK, &pipe_only, nullptr);
#endif
      std::fclose(stream);
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
