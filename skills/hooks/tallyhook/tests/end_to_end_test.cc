// Runs the built hook as an agent host does: one process per event, the event on standard
// input, a sandboxed HOME, and the stand-in zindle (or a script in its place) beside it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <memory>

#include "marker_name.h"
#include "test_support.h"

namespace tallyhook {
namespace {

using namespace std::chrono_literals;
using testing::ProcessResult;
using testing::read_file;
using testing::read_lines;
using testing::TempDir;
using testing::write_script;

namespace fs = std::filesystem;

std::string skill_event(const std::string& name) {
  return R"({"session_id":"s1","hook_event_name":"PostToolUse","tool_name":"Skill",)"
         R"("tool_input":{"command":")" +
         name + R"("},"tool_response":{"success":true}})";
}

const std::string kMcpEvent =
    R"({"hook_event_name":"PostToolUse","tool_name":"mcp__zindle__query_run",)"
    R"("tool_input":{"sql":"select 1"},"tool_response":[{"type":"text","text":"1"}]})";

class EndToEnd : public ::testing::Test {
 protected:
  EndToEnd() {
    fs::create_directories(bin());
    fs::create_directories(home());
    // Started through a link: the tool is looked for beside the link, not the target.
    fs::create_symlink(TALLYHOOK_BINARY, bin() / "tallyhook");
    fs::copy_file(ZINDLE_STANDIN, bin() / "zindle");
  }

  fs::path bin() const { return root_.path() / "bin"; }
  fs::path home() const { return root_.path() / "home"; }
  fs::path hooks() const { return home() / ".zindle" / "hooks"; }
  fs::path marker(const std::string& skill) const { return hooks() / marker_file_name(skill); }
  std::vector<std::string> reported() const {
    std::vector<std::string> names;
    for (const std::string& line : read_lines(home() / ".zindle" / "usage.log")) {
      names.push_back(line.substr(line.find('\t') + 1));
    }
    return names;
  }

  testing::ProcessOptions options(std::vector<std::string> argv = {}) const {
    testing::ProcessOptions o;
    o.argv = argv.empty() ? std::vector<std::string>{(bin() / "tallyhook").string()} : argv;
    o.env["HOME"] = home().string();
    o.output_dir = root_.path();
    return o;
  }

  // Runs the hook on one event; the hook never writes to standard output.
  ProcessResult hook(const std::string& event, const testing::ProcessOptions& o) const {
    ProcessResult result = testing::run_process(o, event);
    EXPECT_EQ(result.out, "");
    return result;
  }
  ProcessResult hook(const std::string& event) const { return hook(event, options()); }

  TempDir root_;
};

struct EventCase {
  const char* label;
  std::string event;
  int exit_status;
  const char* reported;  // nullptr: nothing
};

void PrintTo(const EventCase& c, std::ostream* os) { *os << c.label; }

class EventOutcome : public EndToEnd, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventOutcome, ExitsReportsAndLeavesMarkersAsExpected) {
  const ProcessResult result = hook(GetParam().event);
  EXPECT_EQ(result.exit_status, GetParam().exit_status);
  EXPECT_EQ(result.err.empty(), GetParam().exit_status == 0) << result.err;
  if (GetParam().reported == nullptr) {
    EXPECT_TRUE(reported().empty());
    EXPECT_FALSE(fs::exists(home() / ".zindle"));
  } else {
    EXPECT_EQ(reported(), std::vector<std::string>{GetParam().reported});
    EXPECT_TRUE(fs::exists(marker(GetParam().reported)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Events, EventOutcome,
    ::testing::Values(
        EventCase{"Read", R"({"tool_name":"Read","tool_input":{"file_path":"/etc/hosts"}})", 0,
                  nullptr},
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
        EventCase{"Empty", "", 0, nullptr}, EventCase{"Malformed", "{", 0, nullptr},
        EventCase{"ByteOrderMark", "\xEF\xBB\xBF" + kMcpEvent, 0, nullptr},
        EventCase{"NotUtf8", "{\"tool_name\":\"\xC0\xAF\"}", 0, nullptr},
        EventCase{"Array", "[]", 1, nullptr},
        EventCase{"NullToolName", R"({"tool_name":null})", 1, nullptr},
        EventCase{"SkillNumber", R"({"tool_name":"Skill","tool_input":{"command":7}})", 1, nullptr},
        EventCase{"BashNullCommand", R"({"tool_name":"Bash","tool_input":{"command":null}})", 1,
                  nullptr},
        EventCase{"NulInName", skill_event(R"(zin\u0000auth)"), 0, nullptr}),
    [](const auto& test) { return std::string(test.param.label); });

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
  fs::remove(bin() / "zindle");
  const ProcessResult result = hook(kMcpEvent);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(fs::exists(marker("zin-dataset-query")));
}

TEST_F(EndToEnd, PrefersZindleExe) {
  write_script(bin() / "zindle.exe", "echo exe >> \"$HOME/started\"");
  write_script(bin() / "zindle", "echo plain >> \"$HOME/started\"");
  EXPECT_EQ(hook(kMcpEvent).exit_status, 0);
  EXPECT_EQ(read_file(home() / "started"), "exe\n");
}

TEST_F(EndToEnd, ZindleExeDirectoryIsChosenAndFails) {
  fs::create_directory(bin() / "zindle.exe");
  const ProcessResult result = hook(kMcpEvent);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(reported().empty());
}

TEST_F(EndToEnd, DanglingZindleExeLinkCountsAsAbsent) {
  fs::create_symlink(root_.path() / "nowhere", bin() / "zindle.exe");
  EXPECT_EQ(hook(kMcpEvent).exit_status, 0);
  EXPECT_EQ(reported(), std::vector<std::string>{"zin-dataset-query"});
}

TEST_F(EndToEnd, FindsZindleWhenStartedByBareNameOrRelativePath) {
  testing::ProcessOptions by_name = options({"/bin/sh", "-c", "exec tallyhook"});
  by_name.env["PATH"] = bin().string() + ":/usr/bin:/bin";
  EXPECT_EQ(hook(kMcpEvent, by_name).exit_status, 0);
  EXPECT_EQ(reported().size(), 1u);

  testing::ProcessOptions relative = options({"./tallyhook"});
  relative.cwd = bin();
  EXPECT_EQ(hook(skill_event("zin-auth"), relative).exit_status, 0);
  EXPECT_EQ(reported().size(), 2u);
}

TEST_F(EndToEnd, ToolSeesEndOfInputAndItsExitStatusIsIgnored) {
  write_script(bin() / "zindle", "cat > \"$HOME/stdin\"; echo noise; echo noise >&2; exit 3");
  const ProcessResult result = hook(kMcpEvent);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_file(home() / "stdin"), "");
}

TEST_F(EndToEnd, ToolFloodingBothStreamsDoesNotStall) {
  write_script(bin() / "zindle",
               "head -c 5000000 /dev/zero & head -c 5000000 /dev/zero >&2; wait; "
               "echo done > \"$HOME/done\"");
  const ProcessResult result = hook(kMcpEvent);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_file(home() / "done"), "done\n");
}

TEST_F(EndToEnd, ToolThatSleepsIsKilledAtTheDeadline) {
  write_script(bin() / "zindle", "echo $$ > \"$HOME/pid\"; exec sleep 60");
  const ProcessResult result = hook(kMcpEvent);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  const int pid = std::stoi(read_file(home() / "pid"));
  EXPECT_TRUE(kill(pid, 0) != 0 && errno == ESRCH);
}

TEST_F(EndToEnd, GrandchildHoldingThePipesIsLeftAlone) {
  write_script(bin() / "zindle", "sleep 60 & echo $! > \"$HOME/pid\"");
  const ProcessResult result = hook(kMcpEvent);
  EXPECT_EQ(result.exit_status, 0);
  const int pid = std::stoi(read_file(home() / "pid"));
  EXPECT_EQ(kill(pid, 0), 0);
  kill(pid, SIGKILL);
}

// Hosts may deliver one event twice at the same moment: exactly one run reports it.
TEST_F(EndToEnd, SimultaneousRunsReportOnce) {
  constexpr int kRuns = 8;
  constexpr int kRounds = 10;
  for (int round = 0; round < 2 * kRounds; ++round) {
    SCOPED_TRACE(round);
    // First rounds: a new skill each time; later rounds: a stale marker of one skill.
    const bool fresh_skill = round < kRounds;
    const std::string skill = fresh_skill ? "race-" + std::to_string(round) : "race-stale";
    if (!fresh_skill && fs::exists(marker(skill))) {
      testing::set_modification_time(marker(skill), wall_clock_now() - 60s);
    }
    const std::size_t before = reported().size();
    std::vector<std::unique_ptr<testing::RunningProcess>> runs;
    for (int i = 0; i < kRuns; ++i) {
      runs.push_back(std::make_unique<testing::RunningProcess>(options()));
    }
    // All are waiting for their input; hand it over as close together as possible.
    for (auto& run : runs) EXPECT_EQ(run->finish(skill_event(skill)).exit_status, 0);
    EXPECT_EQ(reported().size(), before + 1);
  }
}

}  // namespace
}  // namespace tallyhook
