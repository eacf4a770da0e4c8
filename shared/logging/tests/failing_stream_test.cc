#include <gtest/gtest.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "test_support.h"
#include "zindle/logging.h"

namespace zindle::logging {
namespace {

std::FILE* broken_pipe() {
  int ends[2];
#ifdef _WIN32
  if (_pipe(ends, 4096, _O_BINARY) != 0) return nullptr;
#else
  if (pipe(ends) != 0) return nullptr;
#endif
  close(ends[0]);  // no reader: a write fails (on POSIX with EPIPE, after raising SIGPIPE)
  return fdopen(ends[1], "w");
}

TEST(FailingStream, RecordIsDroppedQuietly) {
#ifndef _WIN32
  // SIGPIPE must really be fatal here, whatever the test runner inherited.
  const auto inherited = std::signal(SIGPIPE, SIG_DFL);
#endif
  const struct {
    const char* what;
    std::FILE* stream;
  } cases[] = {
      {"broken pipe", broken_pipe()},
#ifdef _WIN32
      {"read-only stream", std::fopen("NUL", "r")},
#else
      {"full disk", std::fopen("/dev/full", "w")},
      {"read-only stream", std::fopen("/dev/null", "r")},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NE(c.stream, nullptr);
    Logger logger(c.what);
    logger.addHandler(std::make_shared<StreamHandler>(c.stream));
    errno = EINTR;
    logger.error("lost {}", 1);
    EXPECT_EQ(errno, EINTR) << "a log call must not change errno";

#ifndef _WIN32
    sigset_t pending, blocked;
    sigpending(&pending);
    pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    EXPECT_FALSE(sigismember(&blocked, SIGPIPE)) << "the signal mask must be restored";
#endif
    std::fclose(c.stream);
  }
#ifndef _WIN32
  std::signal(SIGPIPE, inherited);
#endif
}

TEST(FailingStream, ClosedStderrDropsAndRecovers) {
  Logger& logger = get_logger("failing.stderr");
  const int saved = dup(2);
  close(2);
  logger.error("lost while stderr is closed");
  dup2(saved, 2);
  close(saved);

  testing::FdCapture err(2);
  logger.error("back");
  EXPECT_EQ(err.release(), "[failing.stderr] ERROR: back\n");
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
