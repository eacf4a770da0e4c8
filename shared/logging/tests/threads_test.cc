#include <fmt/core.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "zindle/logging.h"

namespace zindle::logging {
namespace {

constexpr int THREADS = 8;

// Runs body(0) ... body(count - 1) on as many threads, released together. They wait at a
// spinning gate, not a std::latch: mingw's libstdc++ builds the latch's wait on a condition
// variable, and under wine, with the machine loaded, one such run once hung until its time
// limit, though nothing in the library holds two locks at once.
template <typename Body>
void run_together(int count, Body body) {
  std::atomic<int> not_yet_started{count};
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) {
    threads.emplace_back([&not_yet_started, &body, i] {
      not_yet_started.fetch_sub(1);
      while (not_yet_started.load() > 0) std::this_thread::yield();
      body(i);
    });
  }
  for (auto& thread : threads) thread.join();
}

TEST(Threads, RacingFirstCallsLeaveOneHandler) {
  // Many fresh names, so that the threads meet inside get_logger at least some of the time.
  for (int round = 0; round < 50; ++round) {
    const std::string name = "threads.race." + std::to_string(round);
    run_together(THREADS, [&](int) { get_logger(name); });
    EXPECT_EQ(getLogger(name).handlers().size(), 1u) << name;
  }
}

TEST(Threads, EveryRecordIsOneWholeLineExactlyOnce) {
  constexpr int RECORDS = 2000;
  // Lengths vary so that a torn or interleaved line cannot look whole by accident.
  const auto message = [](int t, int r) {
    return fmt::format("{} {} {}", t, r, std::string(static_cast<std::size_t>(r % 97), 'x'));
  };
  testing::TempFile file;
  Logger logger("threads.lines");
  const auto handler = std::make_shared<StreamHandler>(file.get());
  logger.addHandler(handler);
  // One thread switches the layout back and forth while the others log with it.
  const std::string layouts[] = {"%(message)s", "> %(message)s"};
  run_together(THREADS, [&](int t) {
    for (int r = 0; r < RECORDS; ++r) {
      if (t == 0) handler->setFormatter(Formatter(layouts[r % 2]));
      logger.warning(message(t, r));
    }
  });

  std::vector<std::string> expected, written;
  for (int t = 0; t < THREADS; ++t) {
    for (int r = 0; r < RECORDS; ++r) expected.push_back(message(t, r));
  }
  std::istringstream lines(file.contents());
  for (std::string line; std::getline(lines, line);) {
    written.push_back(line.starts_with("> ") ? line.substr(2) : line);
  }
  std::sort(expected.begin(), expected.end());
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written.size(), expected.size());
  EXPECT_TRUE(written == expected) << "lines torn, lost or repeated";
}

// Dispatch holds no lock, so a handler may log and add handlers itself (that would deadlock
// otherwise) while other threads log on the same logger.
TEST(Threads, HandlerMayLogAndAddHandlers) {
  struct Reentrant : Handler {
    explicit Reentrant(Logger& logger) : owner(logger) {}
    void handle(const LogRecord& record) override {
      getLogger("threads.reentrant.audit").warning("saw {}", record.message);
      if (record.message == "add") owner.addHandler(std::make_shared<testing::CountingHandler>());
    }
    Logger& owner;
  };
  Logger& logger = getLogger("threads.reentrant");
  logger.addHandler(std::make_shared<Reentrant>(logger));
  const auto audit = std::make_shared<testing::CountingHandler>();
  getLogger("threads.reentrant.audit").addHandler(audit);

  run_together(THREADS, [&](int t) {
    for (int r = 0; r < 100; ++r) logger.warning(t == 0 && r == 0 ? "add" : "plain");
  });
  EXPECT_EQ(audit->count, THREADS * 100);
  EXPECT_EQ(logger.handlers().size(), 2u);
}

}  // namespace
}  // namespace zindle::logging
