#include "windows_command_line.h"

#include <gtest/gtest.h>

namespace tallyhook {
namespace {

// What the Microsoft C runtime turns back into the same arguments; the cases follow its
// documented parsing rules, and under wine the end-to-end tests check them against the real
// thing.
TEST(WindowsCommandLine, QuotesWhatTheRuntimeWouldSplitOrStrip) {
  const struct {
    std::vector<std::string> argv;
    std::string line;
  } cases[] = {
      {{R"(C:\Program Files\zindle\zindle.exe)", "skills", "report-usage", "zin-auth"},
       R"("C:\Program Files\zindle\zindle.exe" skills report-usage zin-auth)"},
      // The program's name: quoted, backslashes taken as they are.
      {{R"(C:\tools\zindle)"}, R"("C:\tools\zindle")"},
      {{R"(\\host\share\zindle.exe)"}, R"("\\host\share\zindle.exe")"},
      {{"p", "a b"}, R"("p" "a b")"},
      {{"p", ""}, R"("p" "")"},
      {{"p", "tab\there"}, "\"p\" \"tab\there\""},
      {{"p", "line\nfeed"}, "\"p\" \"line\nfeed\""},
      {{"p", R"(say "hi")"}, R"("p" "say \"hi\"")"},
      {{"p", R"(")"}, R"("p" "\"")"},
      // Backslashes count only before a quote, the closing one included.
      {{"p", R"(a\"b)"}, R"("p" "a\\\"b")"},
      {{"p", R"(a\\"b)"}, R"("p" "a\\\\\"b")"},
      {{"p", R"(a\b)"}, R"("p" a\b)"},
      {{"p", R"(trailing\)"}, R"("p" trailing\)"},
      {{"p", R"(a b\)"}, R"("p" "a b\\")"},
      {{"p", R"(a b\\)"}, R"("p" "a b\\\\")"},
      {{"p", R"(\\host\share\)"}, R"("p" \\host\share\)"},
      {{"p", "caf\xC3\xA9", "-x", "%PATH%"}, "\"p\" caf\xC3\xA9 -x %PATH%"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(windows_command_line(c.argv), c.line);
  }
}

TEST(WindowsCommandLine, NothingForWhatCannotBePassed) {
  EXPECT_EQ(windows_command_line({}), std::nullopt);
  EXPECT_EQ(windows_command_line({R"(C:\a"b.exe)", "x"}), std::nullopt);
}

}  // namespace
}  // namespace tallyhook
