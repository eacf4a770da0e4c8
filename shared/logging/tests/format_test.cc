#include <fmt/format.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "test_support.h"
#include "zindle/logging.h"

namespace zindle::logging {
namespace {

TEST(Format, LevelNames) {
  const struct {
    int level;
    const char* name;
  } cases[] = {
      {DEBUG, "DEBUG"},       {INFO, "INFO"},   {WARNING, "WARNING"}, {ERROR, "ERROR"},
      {CRITICAL, "CRITICAL"}, {35, "Level 35"}, {0, "Level 0"},       {-5, "Level -5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    EXPECT_EQ(level_name(c.level), c.name);
  }
}

TEST(Format, PlaceholdersReplacedEverythingElseCopied) {
  const struct {
    std::string_view layout;
    std::string_view expected;
  } cases[] = {
      {LINE_LAYOUT, "[zindle.auth] WARNING: a %(name)s {} b"},
      {"%(name)s%(name)s", "zindle.authzindle.auth"},
      {"%(levelname)s", "WARNING"},
      {"%%(name)s", "%zindle.auth"},
      {"%(%(message)s", "%(a %(name)s {} b"},
      {"%(asctime)s %(name) %(name s 100%", "%(asctime)s %(name) %(name s 100%"},
      {"%", "%"},
      {"", ""},
      {"x%y%(name)s%", "x%yzindle.auth%"},
      {"%(message)s%(levelname)s%(name)", "a %(name)s {} bWARNING%(name)"},
  };
  // The message contains a placeholder itself; it must come out as text, not be expanded.
  const LogRecord record{"zindle.auth", WARNING, "a %(name)s {} b"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    EXPECT_EQ(Formatter(std::string(c.layout)).format(record), c.expected);
  }
  EXPECT_EQ(Formatter().format(record), record.message);
}

TEST(Format, LoggerWritesOneLinePerPassingRecord) {
  testing::TempFile file;
  auto handler = std::make_shared<StreamHandler>(file.get());
  handler->setFormatter(Formatter(std::string(LINE_LAYOUT)));
  Logger logger("format.lines");
  logger.addHandler(handler);
  logger.setLevel(INFO);

  logger.debug("below the threshold");
  logger.log(INFO - 1, "just below the threshold");
  logger.info("disk {} is {}% full", "/var", 93);
  logger.warning("braces {} and {:d} kept without arguments");
  logger.error("{}", "%(name)s stays text");
  logger.critical("{:>4}|{:.2f}", 7, 0.5);
  logger.log(35, "level {}", std::string("without a name"));
  logger.warning("{:{}}", "x", -1);        // fails at run time (negative width): dropped, no throw
  const std::string long_text(1000, 'y');  // longer than the buffers on the stack
  logger.error("{}|{}", long_text, long_text.size());

  EXPECT_EQ(file.contents(),
            "[format.lines] INFO: disk /var is 93% full\n"
            "[format.lines] WARNING: braces {} and {:d} kept without arguments\n"
            "[format.lines] ERROR: %(name)s stays text\n"
            "[format.lines] CRITICAL:    7|0.50\n"
            "[format.lines] Level 35: level without a name\n"
            "[format.lines] ERROR: " +
                long_text + "|1000\n");
}

// Messages with arguments come out as fmt::format makes them, whether the format string was
// taken apart at compile time (plain "{}" fields) or is left to fmt.
TEST(Format, ArgumentsComeOutAsFmtFormatsThem) {
  testing::TempFile file;
  Logger logger("format.arguments");
  logger.addHandler(std::make_shared<StreamHandler>(file.get()));
  std::string expected;
#define CASE(...)              \
  logger.warning(__VA_ARGS__); \
  expected += fmt::format(__VA_ARGS__) + "\n"
  CASE("{}", -9223372036854775807LL - 1);
  CASE("{}{}", 18446744073709551615ULL, static_cast<short>(-7));
  CASE("[{}] [{}] [{}]", static_cast<unsigned char>(200), 'c', true);
  CASE("{} {} {}", std::string("str"), std::string_view("view"), "arr\0ay");
  CASE("{} {}", 0.5, static_cast<const char*>("pointer"));
  CASE("{}{}{}{}{}{}", 1, 2, 3, 4, 5, 6);       // as many fields as are taken apart
  CASE("{}{}{}{}{}{}{}", 1, 2, 3, 4, 5, 6, 7);  // one more: left to fmt
  CASE("{{{}}} {:>3}", 1, 2);                   // escapes and specifications: left to fmt
  CASE(
      "{}-"  // longer than 255 characters: left to fmt
      "0123456789012345678901234567890123456789012345678901234567890123456789"
      "0123456789012345678901234567890123456789012345678901234567890123456789"
      "0123456789012345678901234567890123456789012345678901234567890123456789"
      "0123456789012345678901234567890123456789012345678901234567890123456789",
      "x");
  CASE(fmt::runtime("{} and {:>2}"), 1, 2);  // checked only when formatted
#undef CASE
  const char* const null_text = nullptr;
  logger.warning("{}", null_text);       // fmt refuses a null string: dropped, no throw
  logger.warning(fmt::runtime("{"), 1);  // and a broken format string
  EXPECT_EQ(file.contents(), expected);
}

}  // namespace
}  // namespace zindle::logging
