#include <gtest/gtest.h>

// What <windows.h> (ERROR) and many debug builds (DEBUG) define before our header is seen.
#define DEBUG 1
#define INFO 2
#define WARNING 3
#define ERROR 0
#define CRITICAL 4

#include "zindle/logging.h"

static_assert(DEBUG == 1 && INFO == 2 && WARNING == 3 && ERROR == 0 && CRITICAL == 4,
              "the header must leave the includer's macros as they were");

#include <memory>

#include "test_support.h"

TEST(WindowsMacros, HeaderWorksUnderLevelMacros) {
  zindle::logging::testing::TempFile file;
  zindle::logging::Logger logger("macros");
  logger.addHandler(std::make_shared<zindle::logging::StreamHandler>(file.get()));
  logger.error("error {}", 40);
  EXPECT_EQ(file.contents(), "error 40\n");
}
