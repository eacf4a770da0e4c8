// Runs the built hook as an agent host does: one process per event, the event on standard
// input, a sandboxed HOME, and the stand-in zindle (or a tool that misbehaves in its place)
// beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "end_to_end_fixture.h"

namespace tallyhook {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testing::EndToEnd;
using testing::json_escaped;
using testing::kMcpEvent;
using testing::kProgramSuffix;
using testing::ProcessResult;
using testing::read_file;
using testing::read_lines;
using testing::skill_event;
using testing::TempDir;

namespace fs = std::filesystem;

struct EventCase {
  std::string label;
  std::string event;
  int exit_status;
  std::optional<std::string> reported;
};

void PrintTo(const EventCase& c, std::ostream* os) { *os << c.label; }

// A UserPromptExpansion event as Claude Code writes it, from its expansion_type on.
std::string slash_command_event(const std::string& expansion) {
  return R"({"session_id":"s","transcript_path":"/t.jsonl","cwd":"/w","prompt_id":"p",)"
         R"("permission_mode":"default","hook_event_name":"UserPromptExpansion",)"
         R"("expansion_type":)" +
         expansion +
         R"(,"command_args":"status","command_source":"userSettings",)"
         R"("prompt":"/zin-auth status"})";
}

class EventOutcome : public EndToEnd, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventOutcome, ExitsReportsAndLeavesMarkersAsExpected) {
  const ProcessResult result = hook(GetParam().event);
  EXPECT_EQ(result.exit_status, GetParam().exit_status);
  EXPECT_EQ(result.err.empty(), GetParam().exit_status == 0) << result.err;
  if (!GetParam().reported) {
    EXPECT_TRUE(reported().empty());
    EXPECT_FALSE(fs::exists(home() / ".zindle"));
  } else {
    EXPECT_EQ(reported(), std::vector<std::string>{*GetParam().reported});
    EXPECT_TRUE(fs::exists(marker(*GetParam().reported)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Events, EventOutcome,
    ::testing::Values(
        EventCase{"Read", R"({"tool_name":"Read","tool_input":{"file_path":"/etc/hosts"}})", 0,
                  std::nullopt},
        EventCase{"SkillCommand", skill_event("zin-auth"), 0, "zin-auth"},
        EventCase{"SkillMember",
                  R"({"tool_name":"Skill","tool_input":{"skill":"market-lens","args":"run"}})", 0,
                  "market-lens"},
        EventCase{"Mcp", kMcpEvent, 0, "zin-dataset-query"},
        EventCase{"Bash", R"({"tool_name":"Bash","tool_input":{"command":"zindle auth login"}})", 0,
                  "zin-auth"},
        EventCase{"NameWithSpacesAndQuotes", skill_event(R"(it's \"quoted\" name)"), 0,
                  R"(it's "quoted" name)"},
        EventCase{"NameWithSeparators", skill_event("../../escape"), 0, "../../escape"},
        // Names no Windows file can have as they are.
        EventCase{"NameWithForbiddenCharacters", skill_event(R"(a<b>c:d\"e|f?g*h)"), 0,
                  R"(a<b>c:d"e|f?g*h)"},
        EventCase{"DeviceName", skill_event("CON"), 0, "CON"},
        EventCase{"TrailingDot", skill_event("zin-auth."), 0, "zin-auth."},
        EventCase{"NonAscii", skill_event("caf\xC3\xA9"), 0, "caf\xC3\xA9"},
        // Standard input is taken byte for byte: CR LF is white space, Ctrl-Z is data (and
        // here trailing garbage), never the end of the input.
        EventCase{"CrLf",
                  "{\r\n\"tool_name\":\"Skill\",\r\n\"tool_input\":{\"command\":\"zin-auth\"}}\r\n",
                  0, "zin-auth"},
        EventCase{"CtrlZ", kMcpEvent + "\x1A", 0, std::nullopt},
        EventCase{"Empty", "", 0, std::nullopt}, EventCase{"Malformed", "{", 0, std::nullopt},
        EventCase{"ByteOrderMark", "\xEF\xBB\xBF" + kMcpEvent, 0, std::nullopt},
        EventCase{"NotUtf8", "{\"tool_name\":\"\xC0\xAF\"}", 0, std::nullopt},
        EventCase{"Array", "[]", 1, std::nullopt},
        EventCase{"NullToolName", R"({"tool_name":null})", 1, std::nullopt},
        EventCase{"SkillNumber", R"({"tool_name":"Skill","tool_input":{"command":7}})", 1,
                  std::nullopt},
        EventCase{"BashNullCommand", R"({"tool_name":"Bash","tool_input":{"command":null}})", 1,
                  std::nullopt},
        EventCase{"NulInName", skill_event(R"(zin\u0000auth)"), 0, std::nullopt},
        // A skill the user typed as a slash command.
        EventCase{"SlashCommand",
                  slash_command_event(R"("slash_command","command_name":"zin-auth")"), 0,
                  "zin-auth"},
        EventCase{"PluginSlashCommand",
                  slash_command_event(R"("slash_command","command_name":"zindle:zin-auth")"), 0,
                  "zindle:zin-auth"},
        EventCase{"OtherExpansion", slash_command_event(R"("prompt","command_name":"zin-auth")"), 0,
                  std::nullopt},
        EventCase{"SlashCommandNameNumber",
                  slash_command_event(R"("slash_command","command_name":1)"), 1, std::nullopt},
        EventCase{"PostToolUseWithCommandName",
                  R"({"hook_event_name":"PostToolUse","tool_name":"Read","tool_input":{},)"
                  R"("expansion_type":"slash_command","command_name":"zin-auth"})",
                  0, std::nullopt}),
    [](const auto& test) { return test.param.label; });

// Events as the hosts write them (tests/data/host_events, with what each must give in its
// expected.txt), and a 2 MB Read event whose file content was cut inside a surrogate pair.
std::vector<EventCase> host_events() {
  const fs::path dir = TEST_DATA_DIR "/host_events";
  std::vector<EventCase> cases;
  for (const std::string& line : read_lines(dir / "expected.txt")) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string file, skill;
    int exit_status;
    fields >> file >> exit_status >> skill;
    std::string event = read_file(dir / file);
    // A lost file must fail loudly, not shrink the table.
    if (!fields || event.empty()) throw std::runtime_error("bad host event line: " + line);
    std::string label = file.substr(0, file.rfind('.'));
    std::replace_if(
        label.begin(), label.end(), [](char c) { return !std::isalnum(c); }, '_');
    cases.push_back(
        {label, std::move(event), exit_status, skill == "-" ? std::nullopt : std::optional(skill)});
  }
  if (cases.empty()) throw std::runtime_error("no host events in " + dir.string());
  std::string content;
  while (content.size() < (2 << 20)) {
    content += R"(| café | 12 € | \"quoted\" \t 😀 | zindle auth login |\n)";
  }
  cases.push_back(
      {"claude_read_2MB_cut_inside_a_pair",
       R"({"session_id":"7c9e2b41","transcript_path":"/home/ann/.claude/p.jsonl",)"
       R"("cwd":"/home/ann","permission_mode":"default","hook_event_name":"PostToolUse",)"
       R"("tool_name":"Read","tool_input":{"file_path":"/home/ann/report.md"},)"
       R"("tool_response":{"type":"text","file":{"filePath":"/home/ann/report.md",)"
       R"("content":")" +
           content +
           R"(\ud83d","numLines":2000,"startLine":1,)"
           R"("totalLines":90000}},"tool_use_id":"toolu_01Read"})",
       0, std::nullopt});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(HostEvents, EventOutcome, ::testing::ValuesIn(host_events()),
                         [](const auto& test) { return test.param.label; });

TEST_F(EndToEnd, StandInAcceptsOnlyTheReportCommandLine) {
  const ProcessResult wrong =
      testing::run_process(options({zindle().string(), "skills", "list"}), "");
  EXPECT_EQ(wrong.exit_status, 2);
  EXPECT_NE(wrong.err.find("usage: zindle skills report-usage NAME"), std::string::npos);
  EXPECT_EQ(wrong.out, "");

  const ProcessResult right =
      testing::run_process(options({zindle().string(), "skills", "report-usage", "zin-auth"}), "");
  EXPECT_EQ(right.exit_status, 0);
  const std::vector<std::string> lines = read_lines(home() / ".zindle" / "usage.log");
  ASSERT_EQ(lines.size(), 1u);
  // 2026-12-08T07:46:22.921987Z<TAB>zin-auth
  EXPECT_EQ(lines[0].size(), 27u + 1u + 8u);
  EXPECT_EQ(lines[0][10], 'T');
  EXPECT_EQ(lines[0].substr(26), "Z\tzin-auth");
}

TEST_F(EndToEnd, LargeEventsAreReadToTheEnd) {
  const std::string content(3 << 20, 'x');
  const std::string large_skill = R"({"tool_name":"Skill","tool_input":{"command":"zin-auth"},)"
                                  R"("tool_response":{"content":")" +
                                  content + R"("}})";
  ProcessResult result = hook(large_skill);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_TRUE(result.read_all_input);
  EXPECT_EQ(reported(), std::vector<std::string>{"zin-auth"});

  // Invalid from its first byte: still taken whole, so the host never meets a closed pipe.
  result = hook("x" + content);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_TRUE(result.read_all_input);
}

TEST_F(EndToEnd, RepeatWithinTheWindowIsSuppressed) {
  EXPECT_EQ(hook(kMcpEvent).exit_status, 0);
  const WallTime first = testing::modification_time(marker("zin-dataset-query"));
  EXPECT_EQ(hook(kMcpEvent).exit_status, 0);
  EXPECT_EQ(reported().size(), 1u);
  EXPECT_EQ(testing::modification_time(marker("zin-dataset-query")), first);

  testing::set_modification_time(marker("zin-dataset-query"), wall_clock_now() - 31s);
  EXPECT_EQ(hook(kMcpEvent).exit_status, 0);
  EXPECT_EQ(reported().size(), 2u);
  EXPECT_GT(testing::modification_time(marker("zin-dataset-query")), wall_clock_now() - 10s);

  testing::set_modification_time(marker("zin-dataset-query"), wall_clock_now() + 3600s);
  EXPECT_EQ(hook(kMcpEvent).exit_status, 0);
  EXPECT_EQ(reported().size(), 2u);
}

TEST_F(EndToEnd, FailedReportKeepsTheMarker) {
  fs::remove(zindle());
  const ProcessResult result = hook(kMcpEvent);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(fs::exists(marker("zin-dataset-query")));
}

TEST_F(EndToEnd, PrefersZindleExe) {
  testing::install_tool(bin() / "zindle.exe",
                        {"echo exe >> \"$HOME/started\"", {{"append", in_home("started"), "exe"}}});
  testing::install_tool(bin() / "zindle", {"echo plain >> \"$HOME/started\"",
                                           {{"append", in_home("started"), "plain"}}});
  EXPECT_EQ(hook(kMcpEvent).exit_status, 0);
  EXPECT_EQ(read_file(home() / "started"), "exe\n");
}

TEST_F(EndToEnd, ZindleExeDirectoryIsChosenAndFails) {
  if (zindle() != bin() / "zindle") fs::rename(zindle(), bin() / "zindle");
  fs::create_directory(bin() / "zindle.exe");
  const ProcessResult result = hook(kMcpEvent);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(reported().empty());
}

TEST_F(EndToEnd, DanglingZindleExeLinkCountsAsAbsent) {
  if (zindle() != bin() / "zindle") fs::rename(zindle(), bin() / "zindle");
  if (!testing::create_symlink(root_.path() / "nowhere", bin() / "zindle.exe")) {
    GTEST_SKIP() << "this system makes no symbolic links";
  }
  EXPECT_EQ(hook(kMcpEvent).exit_status, 0);
  EXPECT_EQ(reported(), std::vector<std::string>{"zin-dataset-query"});
}

TEST_F(EndToEnd, FindsZindleWhenStartedByBareNameOrRelativePath) {
#ifdef _WIN32
  const char* command_interpreter = std::getenv("ComSpec");
  const std::string shell =
      command_interpreter != nullptr ? command_interpreter : "C:\\windows\\system32\\cmd.exe";
  testing::ProcessOptions by_name = options({shell, "/c", "tallyhook"});
  by_name.env["PATH"] = bin().string() + ";" + std::getenv("PATH");
  testing::ProcessOptions relative = options({shell, "/c", ".\\tallyhook.exe"});
#else
  testing::ProcessOptions by_name = options({"/bin/sh", "-c", "exec tallyhook"});
  by_name.env["PATH"] = bin().string() + ":/usr/bin:/bin";
  testing::ProcessOptions relative = options({"./tallyhook"});
#endif
  EXPECT_EQ(hook(kMcpEvent, by_name).exit_status, 0);
  EXPECT_EQ(reported().size(), 1u);

  relative.cwd = bin();
  EXPECT_EQ(hook(skill_event("zin-auth"), relative).exit_status, 0);
  EXPECT_EQ(reported().size(), 2u);
}

// The program's own path may be longer than the 260 characters of MAX_PATH on Windows.
TEST_F(EndToEnd, FindsZindleFromADeepDirectory) {
  fs::path deep = root_.path();
  for (int level = 0; level < 24; ++level) deep /= "directory-" + std::to_string(level);
  ASSERT_GT(deep.string().size(), 300u);
  fs::create_directories(deep);
  install_hook_and_zindle(deep);
  const testing::ProcessOptions from_deep =
      options({(deep / ("tallyhook"s + kProgramSuffix)).string()});
#ifdef _WIN32
  try {
    testing::RunningProcess start_check(from_deep);
  } catch (const std::runtime_error& cannot_start) {
    GTEST_SKIP() << "this system starts no program from a path this long: " << cannot_start.what();
  }
#endif
  EXPECT_EQ(hook(kMcpEvent, from_deep).exit_status, 0);
  EXPECT_EQ(reported(), std::vector<std::string>{"zin-dataset-query"});
}

// The name reaches the tool as one argument, exactly: on Windows through the quoting of the
// command line, which the tool's C runtime undoes.
TEST_F(EndToEnd, ToolGetsTheNameAsOneArgument) {
  testing::install_tool(zindle(),
                        {"printf '%s\\000' \"$@\" >> \"$HOME/args\"", {{"argv", in_home("args")}}});
  const std::string names[] = {"two words",      R"(say "hi")",
                               R"(back\"slash)", R"(two\\"quotes")",
                               R"(trailing\)",   R"(with space\)",
                               "tab\tinside",    "caf\xC3\xA9",
                               R"(")",           "-x"};
  std::string expected;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(hook(skill_event(json_escaped(name))).exit_status, 0);
    expected += "skills"s + '\0' + "report-usage" + '\0' + name + '\0';
    EXPECT_EQ(read_file(home() / "args"), expected);
  }
}

TEST_F(EndToEnd, ToolSeesEndOfInputAndItsExitStatusIsIgnored) {
  testing::install_tool(
      zindle(),
      {"cat > \"$HOME/stdin\"; echo noise; echo noise >&2; exit 3",
       {{"stdin", in_home("stdin")}, {"out", "noise\n"}, {"err", "noise\n"}, {"exit", "3"}}});
  const ProcessResult result = hook(kMcpEvent);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_file(home() / "stdin"), "");
}

TEST_F(EndToEnd, ToolFloodingBothStreamsDoesNotStall) {
  testing::install_tool(zindle(), {"head -c 5000000 /dev/zero & head -c 5000000 /dev/zero >&2; "
                                   "wait; echo done > \"$HOME/done\"",
                                   {{"flood", "5000000"}, {"append", in_home("done"), "done"}}});
  const ProcessResult result = hook(kMcpEvent);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_file(home() / "done"), "done\n");
}

TEST_F(EndToEnd, ToolThatSleepsIsKilledAtTheDeadline) {
  testing::install_tool(zindle(), {"echo $$ > \"$HOME/pid\"; exec sleep 60",
                                   {{"pid", in_home("pid")}, {"sleep", "60000"}}});
  const ProcessResult result = hook(kMcpEvent);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(testing::process_running(std::stoi(read_file(home() / "pid"))));
}

TEST_F(EndToEnd, GrandchildHoldingThePipesIsLeftAlone) {
  testing::install_tool(zindle(),
                        {"sleep 60 & echo $! > \"$HOME/pid\"", {{"hold", in_home("pid")}}});
  const ProcessResult result = hook(kMcpEvent);
  EXPECT_EQ(result.exit_status, 0);
  const int pid = std::stoi(read_file(home() / "pid"));
  EXPECT_TRUE(testing::process_running(pid));
  testing::kill_process(pid);
}

#ifdef _WIN32
// Without HOME (it is set by Unix-like shells only) the markers go to the user's profile
// folder; an empty HOME names no directory.
TEST_F(EndToEnd, WithoutHomeTheProfileFolderHoldsTheMarkers) {
  const std::optional<std::string> unusable_homes[] = {std::nullopt, ""};
  for (const std::optional<std::string>& unusable : unusable_homes) {
    SCOPED_TRACE(unusable ? "empty HOME" : "no HOME");
    fs::remove_all(home() / ".zindle");
    testing::ProcessOptions o = options();
    o.env["HOME"] = unusable;
    o.env["USERPROFILE"] = home().string();
    EXPECT_EQ(hook(kMcpEvent, o).exit_status, 0);
    EXPECT_TRUE(fs::exists(marker("zin-dataset-query")));
  }
}
#endif

// Hosts may deliver one event twice at the same moment: exactly one run reports it, for a
// skill never seen and for one whose marker is stale, however many runs there are.
class SimultaneousRuns : public EndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(SimultaneousRuns, OneSkillIsReportedOnceARound) {
  const int runs = GetParam();
  // 200 rounds in all, fewer where every start is slow (sanitizers, an emulator).
  const int rounds = (runs == 2 ? 100 : runs == 8 ? 70 : 30) / TALLYHOOK_RACE_ROUND_DIVISOR;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    // Even rounds: a skill never seen; odd rounds: the same skill with a stale marker.
    const std::string skill = round % 2 == 0 ? "new-" + std::to_string(round) : "stale";
    if (fs::exists(marker(skill))) {
      testing::set_modification_time(marker(skill), wall_clock_now() - 60s);
    }
    const std::size_t before = reported().size();
    std::vector<std::unique_ptr<testing::RunningProcess>> started;
    for (int i = 0; i < runs; ++i) {
      started.push_back(std::make_unique<testing::RunningProcess>(options()));
    }
    // All are waiting for their input; hand it to each before waiting for any.
    for (auto& run : started) run->send(skill_event(skill));
    for (auto& run : started) EXPECT_EQ(run->wait().exit_status, 0);
    ASSERT_EQ(reported().size(), before + 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, SimultaneousRuns, ::testing::Values(2, 8, 32));

TEST_F(EndToEnd, DifferentSkillsAtOnceAreEachReported) {
  constexpr std::size_t kSkills = 16;
  std::vector<std::unique_ptr<testing::RunningProcess>> started;
  for (std::size_t i = 0; i < kSkills; ++i) {
    started.push_back(std::make_unique<testing::RunningProcess>(options()));
  }
  for (std::size_t i = 0; i < kSkills; ++i) {
    started[i]->send(skill_event("skill-" + std::to_string(i)));
  }
  for (auto& run : started) EXPECT_EQ(run->wait().exit_status, 0);
  EXPECT_EQ(reported().size(), kSkills);
  for (std::size_t i = 0; i < kSkills; ++i) {
    EXPECT_TRUE(fs::exists(marker("skill-" + std::to_string(i))));
  }
}

}  // namespace
}  // namespace tallyhook
