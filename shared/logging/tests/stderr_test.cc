#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "zindle/logging.h"

namespace zindle::logging {
namespace {

TEST(Stderr, WarningOnDefaultLoggerIsOneLineOnStderrOnly) {
  testing::FdCapture out(1);
  testing::FdCapture err(2);
  Logger& logger = get_logger();
  logger.info("below WARNING");
  logger.warning("abc");
  logger.debug("below {}", "WARNING");
  const std::string written_err = err.release();
  const std::string written_out = out.release();
  EXPECT_EQ(written_err, "[zindle] WARNING: abc\n");
  EXPECT_EQ(written_out, "");
}

}  // namespace
}  // namespace zindle::logging
