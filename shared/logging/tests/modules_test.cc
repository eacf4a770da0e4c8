#include <gtest/gtest.h>

#include "zindle/logging.h"

extern "C" zindle::logging::Logger* module_a_logger();
extern "C" zindle::logging::Logger* module_b_logger();

namespace zindle::logging {
namespace {

TEST(Modules, OneRegistryPerProcess) {
  Logger* from_a = module_a_logger();
  EXPECT_EQ(from_a, module_b_logger());
  EXPECT_EQ(from_a, &get_logger("modules.shared"));
  EXPECT_EQ(from_a->handlers().size(), 1u);
}

}  // namespace
}  // namespace zindle::logging
