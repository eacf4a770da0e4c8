#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "test_support.h"
#include "zindle/logging.h"

namespace zindle::logging {
namespace {

TEST(Registry, OneLoggerPerNameForLife) {
  Logger& by_default = get_logger();
  EXPECT_EQ(by_default.name(), "zindle");
  EXPECT_EQ(&by_default, &get_logger("zindle"));
  EXPECT_EQ(&by_default, &getLogger(std::string("zindle")));
  // Names are compared whole; the empty name is a name like any other.
  EXPECT_NE(&by_default, &getLogger("zindle.auth"));
  EXPECT_NE(&by_default, &getLogger("zindl"));
  EXPECT_EQ(getLogger("").name(), "");
  EXPECT_EQ(&getLogger(""), &get_logger(""));
}

TEST(Registry, UnconfiguredLoggerHasWarningThresholdAndNoHandlers) {
  Logger standalone("registry.standalone");
  for (Logger* logger : {&getLogger("registry.unconfigured"), &standalone}) {
    SCOPED_TRACE(logger->name());
    EXPECT_TRUE(logger->handlers().empty());
    EXPECT_FALSE(logger->isEnabledFor(INFO));
    EXPECT_TRUE(logger->isEnabledFor(WARNING));
  }
}

TEST(Registry, HierarchyIsFlat) {
  auto parent = std::make_shared<testing::CountingHandler>();
  auto child = std::make_shared<testing::CountingHandler>();
  getLogger("flat").addHandler(parent);
  getLogger("flat.child").addHandler(child);
  getLogger("flat.child").error("only for the child");
  EXPECT_EQ(child->count, 1);
  EXPECT_EQ(parent->count, 0);
}

}  // namespace
}  // namespace zindle::logging
