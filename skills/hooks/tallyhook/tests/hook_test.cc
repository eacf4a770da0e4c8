#include "hook.h"

#include <gtest/gtest.h>

#include <vector>

namespace tallyhook {
namespace {

// Records what the run asked of the outside world, and answers as told.
struct FakeWorld {
  Result<bool> duplicate = false;
  Status report = ok_status();
  std::vector<std::string> checked;
  std::vector<std::string> reported;

  HookSteps steps() {
    return HookSteps{[this](std::string_view name) {
                       checked.emplace_back(name);
                       return duplicate;
                     },
                     [this](std::string_view name) {
                       reported.emplace_back(name);
                       return report;
                     }};
  }
};

struct FlowCase {
  const char* label;
  std::string raw;
  int exit_status;
  bool checked;  // the duplicate check ran (and, not being a repeat, the report)
};

void PrintTo(const FlowCase& c, std::ostream* os) { *os << c.label; }

class HookFlow : public ::testing::TestWithParam<FlowCase> {};

TEST_P(HookFlow, EndsAsTheEventDemands) {
  FakeWorld world;
  const HookOutcome outcome = handle_event(parse_hook_event(GetParam().raw), world.steps());
  EXPECT_EQ(outcome.exit_status, GetParam().exit_status);
  EXPECT_EQ(outcome.diagnostic.empty(), GetParam().exit_status == 0) << outcome.diagnostic;
  EXPECT_EQ(world.checked.size(), GetParam().checked ? 1u : 0u);
  EXPECT_EQ(world.reported, world.checked);
}

INSTANTIATE_TEST_SUITE_P(
    Events, HookFlow,
    ::testing::Values(
        FlowCase{"Empty", "", 0, false}, FlowCase{"WhiteSpace", " \n", 0, false},
        FlowCase{"Malformed", "{", 0, false},
        FlowCase{"ByteOrderMark", "\xEF\xBB\xBF{\"tool_name\":\"mcp__zindle__query_run\"}", 0,
                 false},
        FlowCase{"NotUtf8", "{\"tool_name\":\"\xFF\"}", 0, false},
        FlowCase{"Array", "[]", 1, false}, FlowCase{"Null", "null", 1, false},
        FlowCase{"Number", "42", 1, false}, FlowCase{"String", "\"Skill\"", 1, false},
        FlowCase{"EmptyObject", "{}", 0, false},
        FlowCase{"OtherTool", R"({"tool_name":"Read","tool_input":{"file_path":"/x"}})", 0, false},
        FlowCase{"NullToolName", R"({"tool_name":null})", 1, false},
        FlowCase{"Skill", R"({"tool_name":"Skill","tool_input":{"command":"zin-auth"}})", 0, true},
        FlowCase{"SkillEmpty", R"({"tool_name":"Skill","tool_input":{"command":""}})", 0, false},
        FlowCase{"SkillNoInput", R"({"tool_name":"Skill"})", 0, false},
        FlowCase{"SkillNumber", R"({"tool_name":"Skill","tool_input":{"command":7}})", 1, false},
        FlowCase{"SkillZero", R"({"tool_name":"Skill","tool_input":{"command":0}})", 0, false},
        FlowCase{"SkillArrayInput", R"({"tool_name":"Skill","tool_input":[1]})", 1, false},
        FlowCase{"BashNull", R"({"tool_name":"Bash","tool_input":{"command":null}})", 1, false},
        FlowCase{"BashAbsent", R"({"tool_name":"Bash","tool_input":{}})", 0, false},
        FlowCase{"Bash", R"({"tool_name":"Bash","tool_input":{"command":"zindle auth login"}})", 0,
                 true},
        FlowCase{"Mcp", R"({"tool_name":"mcp__zindle__query_run","tool_input":[1]})", 0, true},
        FlowCase{"PowerShell",
                 R"({"tool_name":"PowerShell","tool_input":{"command":"zindle auth status"}})", 0,
                 true},
        // Names that can be neither a file nor an argument touch nothing.
        FlowCase{"NulInName", R"({"tool_name":"Skill","tool_input":{"skill":"zin\u0000auth"}})", 0,
                 false},
        FlowCase{"LoneSurrogateInName",
                 R"({"tool_name":"Skill","tool_input":{"skill":"zin-auth\ud83d"}})", 0, false},
        FlowCase{
            "LoneSurrogateInResponse",
            R"({"tool_name":"Skill","tool_input":{"skill":"zin-auth"},"tool_response":"\ud83d"})",
            0, true},
        FlowCase{"LoneSurrogateInToolName",
                 R"({"tool_name":"Skill\udc00","tool_input":{"skill":"x"}})", 0, false}),
    [](const auto& test) { return std::string(test.param.label); });

TEST(HookFlow, RepeatIsNotReported) {
  FakeWorld world;
  world.duplicate = true;
  const HookOutcome outcome =
      handle_event(parse_hook_event(R"({"tool_name":"mcp__zindle__query_run"})"), world.steps());
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(world.checked, std::vector<std::string>{"zin-dataset-query"});
  EXPECT_TRUE(world.reported.empty());
}

TEST(HookFlow, FailedReportIsDropped) {
  FakeWorld world;
  world.report = Error{"zindle: no such file"};
  const HookOutcome outcome =
      handle_event(parse_hook_event(R"({"tool_name":"mcp__zindle__query_run"})"), world.steps());
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_TRUE(outcome.diagnostic.empty());
  EXPECT_EQ(world.reported.size(), 1u);
}

TEST(HookFlow, UnknownHomeDirectoryFailsTheRun) {
  FakeWorld world;
  world.duplicate = Error{"cannot determine the home directory"};
  const HookOutcome outcome =
      handle_event(parse_hook_event(R"({"tool_name":"mcp__zindle__query_run"})"), world.steps());
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.diagnostic, "cannot determine the home directory");
  EXPECT_TRUE(world.reported.empty());
}

}  // namespace
}  // namespace tallyhook
