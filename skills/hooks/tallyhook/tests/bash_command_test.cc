#include "bash_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "unicode_text.h"
#include "utf8.h"

namespace tallyhook {
namespace {

using namespace std::string_literals;

struct CommandCase {
  std::string command;
  const char* skill;  // nullptr: nothing
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << '`' << c.command << '`'; }

class BashCommand : public ::testing::TestWithParam<CommandCase> {};

TEST_P(BashCommand, ResolvesTheSkill) {
  const std::optional<std::string_view> skill = _resolve_bash_zindle_command(GetParam().command);
  if (GetParam().skill == nullptr) {
    EXPECT_FALSE(skill.has_value()) << *skill;
  } else {
    EXPECT_EQ(skill, GetParam().skill);
  }
  // The same command a code point at a time, the finest cut the event parser makes.
  ZindleCommandScanner scanner;
  const std::string& command = GetParam().command;
  for (std::size_t at = 0; at < command.size();) {
    char32_t cp;
    const auto* p = reinterpret_cast<const unsigned char*>(command.data()) + at;
    const std::size_t n = std::max<std::size_t>(1, decode_utf8(p, p + command.size() - at, &cp));
    scanner.feed(std::string_view(command).substr(at, n));
    at += n;
  }
  EXPECT_EQ(scanner.finish(), skill);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, BashCommand,
    ::testing::Values(CommandCase{"zindle auth token status", "zin-auth"},
                      CommandCase{"zindle query metadata --dataset xxx", "zin-dataset-query"},
                      CommandCase{"zindle skills list", "zin-skills"},
                      CommandCase{R"("D:\path\to\zindle.exe" auth login)", "zin-auth"},
                      CommandCase{"python3 -m zindle auth login", "zin-auth"},
                      CommandCase{"git status", nullptr}, CommandCase{"npm install", nullptr}));

INSTANTIATE_TEST_SUITE_P(Degenerate, BashCommand,
                         ::testing::Values(CommandCase{"", nullptr}, CommandCase{" \t\n ", nullptr},
                                           CommandCase{"\"", nullptr}, CommandCase{"'", nullptr},
                                           CommandCase{"\"\"", nullptr},
                                           CommandCase{"\"\"\"", nullptr},
                                           CommandCase{"zindle", nullptr},
                                           CommandCase{"zindle   ", nullptr}));

INSTANTIATE_TEST_SUITE_P(Table, BashCommand,
                         ::testing::Values(CommandCase{"zindle mcp serve", "zin-skills"},
                                           CommandCase{"zindle feedback submit", nullptr},
                                           CommandCase{"zindle market-lens run", nullptr}));

INSTANTIATE_TEST_SUITE_P(
    Case, BashCommand,
    ::testing::Values(CommandCase{"ZINDLE AUTH status", "zin-auth"},
                      CommandCase{"Zindle.EXE Skills list", "zin-skills"},
                      CommandCase{"zindle AUTH", "zin-auth"},
                      // KELVIN SIGN lower-cases to an ASCII k.
                      CommandCase{"zindle S\u212AILLS", "zin-skills"},
                      CommandCase{"\u212A zindle auth", "zin-auth"},
                      // U+0130 lower-cases to i + U+0307 and so completes no match.
                      CommandCase{"Z\u0130NDLE auth", nullptr},
                      CommandCase{"zindle sk\u0130lls", nullptr}));

INSTANTIATE_TEST_SUITE_P(
    Paths, BashCommand,
    ::testing::Values(CommandCase{"/usr/local/bin/zindle query run", "zin-dataset-query"},
                      CommandCase{R"(C:\tools\zindle.exe skills list)", "zin-skills"},
                      CommandCase{R"(bin\zindle skills)", "zin-skills"},
                      CommandCase{R"("C:\Program Files\zindle\zindle.exe" auth login)", "zin-auth"},
                      CommandCase{"ls zindle/", nullptr}, CommandCase{R"(zindle\ auth)", nullptr},
                      CommandCase{"~/zindle/bin/tool auth", nullptr},
                      CommandCase{"cat ~/.zindle/hooks/x", nullptr}));

// As PowerShell and Codex write them: the call operator, environment paths, joined argv.
INSTANTIATE_TEST_SUITE_P(
    HostShells, BashCommand,
    ::testing::Values(
        CommandCase{R"(& "C:\Program Files\zindle\zindle.exe" auth login)", "zin-auth"},
        CommandCase{R"(& 'C:\Users\ann\AppData\Local\zindle\zindle.exe' query run)",
                    "zin-dataset-query"},
        CommandCase{R"($env:LOCALAPPDATA\Programs\zindle\zindle.exe skills list)", "zin-skills"},
        CommandCase{"zindle auth status", "zin-auth"},
        CommandCase{R"(bash -lc "zindle query run --project 'my demo'")", "zin-dataset-query"},
        CommandCase{R"(powershell.exe -Command "zindle auth login")", "zin-auth"},
        CommandCase{"ZINDLE_PROFILE=ci zindle auth status", nullptr}));

INSTANTIATE_TEST_SUITE_P(Quotes, BashCommand,
                         ::testing::Values(CommandCase{"'zindle skills list'", "zin-skills"},
                                           CommandCase{"\"  zindle auth login  \"", "zin-auth"},
                                           CommandCase{"\"zindle auth\"", "zin-auth"},
                                           CommandCase{"\"'zindle auth'\"", nullptr},
                                           CommandCase{"\"zindle auth'", nullptr},
                                           CommandCase{"\"zindle\" auth", "zin-auth"},
                                           CommandCase{"zindle \"auth\" login", nullptr},
                                           CommandCase{"\t\"zindle auth\"\n", "zin-auth"},
                                           CommandCase{"\"zindle auth\" x\"", nullptr},
                                           CommandCase{"\"zindle auth\"\"", nullptr}));

INSTANTIATE_TEST_SUITE_P(
    Position, BashCommand,
    ::testing::Values(CommandCase{"zindle --verbose auth status", nullptr},
                      CommandCase{"zindle auth login && zindle query run", "zin-auth"},
                      CommandCase{"zindle feedback submit && zindle auth login", nullptr},
                      CommandCase{"cd ~/zindle-work && zindle auth login", nullptr},
                      CommandCase{"ZINDLE_TOKEN=x zindle auth status", nullptr},
                      CommandCase{"echo x | zindle query metadata", "zin-dataset-query"},
                      CommandCase{"echo zindle auth", "zin-auth"},
                      CommandCase{"zindle auth;ls", nullptr},
                      CommandCase{"zindle auth; ls", nullptr}, CommandCase{"zindle;ls", nullptr},
                      CommandCase{"zindle auth && ls", "zin-auth"},
                      CommandCase{"zindlex auth", "zin-auth"}, CommandCase{"zindl auth", nullptr},
                      CommandCase{"zindle-dev skills", "zin-skills"},
                      CommandCase{"zindle authorization", nullptr}));

INSTANTIATE_TEST_SUITE_P(
    WhiteSpace, BashCommand,
    ::testing::Values(
        CommandCase{"zindle\tauth", "zin-auth"}, CommandCase{"zindle\nauth", "zin-auth"},
        CommandCase{"zindle\u00A0auth", "zin-auth"}, CommandCase{"zindle\u3000auth", "zin-auth"},
        CommandCase{"zindle\x1C"
                    "auth",
                    "zin-auth"},
        CommandCase{"zindle\u0085auth", "zin-auth"}, CommandCase{"zindle\u2028auth", "zin-auth"},
        CommandCase{"\u2003\t\nzindle auth\r\n\u205F", "zin-auth"},
        // Not white space: the words stay joined.
        CommandCase{"zindle\u200Bauth", nullptr}, CommandCase{"zindle\uFEFFauth", nullptr},
        CommandCase{"zindle\u180Eauth", nullptr}, CommandCase{"zindle\0auth"s, nullptr},
        // Bytes that are not UTF-8 are word characters, never space.
        CommandCase{"zindle\xA0"
                    "auth",
                    nullptr},
        CommandCase{"\xFFzindle auth", "zin-auth"},
        // A lone surrogate from the event (WTF-8) is neither space nor part of the word.
        CommandCase{"zindle\xED\xA0\xBD"
                    "auth",
                    nullptr},
        CommandCase{"zindle auth \xED\xB8\x80", "zin-auth"},
        CommandCase{"zin\xED\xA0\xBD"
                    "dle auth",
                    nullptr}));

TEST(UnicodeSpace, IsExactlyTheTwentyNineCodePoints) {
  int count = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) count += is_unicode_space(cp) ? 1 : 0;
  EXPECT_EQ(count, 29);
}

TEST(CaseFolding, FoldsOnlyWhatAnAsciiComparisonCanSee) {
  const std::tuple<char32_t, std::string, std::string> cases[] = {
      {U'Z', "Z", "z"},           {U'e', "e", "e"},
      {0x212A, "\u212A", "k"},    {0x130, "\u0130", "i\u0307"},
      {0xC9, "\u00C9", "\u00C9"},  // not ASCII either way: left as it is
  };
  for (const auto& [cp, text, folded] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(fold_for_ascii_match(cp, text), folded);
  }
}

}  // namespace
}  // namespace tallyhook
