#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "test_support.h"
#include "zindle/logging.h"

namespace zindle::logging {
namespace {

// The handler get_logger adds, or null when the logger has anything else.
std::shared_ptr<StreamHandler> only_stderr_handler(const Logger& logger) {
  const auto handlers = logger.handlers();
  if (handlers.size() != 1) return nullptr;
  auto handler = std::dynamic_pointer_cast<StreamHandler>(handlers.front());
  return handler != nullptr && handler->stream() == stderr ? handler : nullptr;
}

TEST(Configure, FirstCallConfiguresLaterCallsDoNot) {
  Logger& logger = get_logger("configure.first");
  const auto handler = only_stderr_handler(logger);
  ASSERT_NE(handler, nullptr);
  EXPECT_EQ(handler->formatter().format_string(), LINE_LAYOUT);
  EXPECT_EQ(logger.level(), WARNING);

  logger.setLevel(ERROR);
  EXPECT_EQ(&get_logger("configure.first"), &logger);
  EXPECT_EQ(only_stderr_handler(logger), handler);
  EXPECT_EQ(logger.level(), ERROR) << "a level set afterwards stays";
  EXPECT_NE(only_stderr_handler(get_logger("configure.other")), handler);
}

TEST(Configure, OnlyTheHandlerListDecides) {
  Logger& with_handler = getLogger("configure.with_handler");
  with_handler.setLevel(DEBUG);
  const auto own = std::make_shared<testing::CountingHandler>();
  with_handler.addHandler(own);
  get_logger("configure.with_handler");
  EXPECT_EQ(with_handler.handlers(), std::vector<std::shared_ptr<Handler>>{own});
  EXPECT_EQ(with_handler.level(), DEBUG);

  // A level alone is no configuration.
  getLogger("configure.level_only").setLevel(DEBUG);
  Logger& level_only = get_logger("configure.level_only");
  EXPECT_NE(only_stderr_handler(level_only), nullptr);
  EXPECT_EQ(level_only.level(), WARNING);
}

TEST(Configure, MissingHandlerOrStreamIsRefusedAtSetup) {
  Logger logger("configure.null");
  EXPECT_THROW(logger.addHandler(nullptr), std::invalid_argument);
  EXPECT_TRUE(logger.handlers().empty());
  EXPECT_THROW(StreamHandler{nullptr}, std::invalid_argument);
}

}  // namespace
}  // namespace zindle::logging
