#include "skill_resolver.h"

#include <gtest/gtest.h>

#include <string>

namespace tallyhook {
namespace {

const std::optional<std::string> kNothing = "";
const std::optional<std::string> kFails;

struct ResolveCase {
  std::string event;
  std::optional<std::string> expected;  // a skill name, kNothing (""), or kFails (none)
};

void PrintTo(const ResolveCase& c, std::ostream* os) { *os << c.event.substr(0, 200); }

Result<std::optional<std::string>> resolve(const std::string& event) {
  const std::optional<HookEvent> data = parse_hook_event(event);
  if (!data) return Error{"test event is not JSON: " + event};
  return _resolve_skill_name(*data);
}

class ResolveSkill : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveSkill, GivesTheSkillNothingOrFailure) {
  const auto result = resolve(GetParam().event);
  if (!GetParam().expected) {
    EXPECT_FALSE(result.ok());
    return;
  }
  ASSERT_TRUE(result.ok()) << result.error().message;
  EXPECT_EQ(result.value().value_or(""), *GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(TopLevel, ResolveSkill,
                         ::testing::Values(ResolveCase{"[]", kFails}, ResolveCase{"null", kFails},
                                           ResolveCase{"\"Skill\"", kFails},
                                           ResolveCase{"3", kFails}, ResolveCase{"{}", kNothing},
                                           ResolveCase{R"({"tool_name":"Read"})", kNothing},
                                           ResolveCase{R"({"tool_name":""})", kNothing},
                                           ResolveCase{R"({"tool_name":null})", kFails},
                                           ResolveCase{R"({"tool_name":7})", kFails},
                                           ResolveCase{R"({"tool_name":["Skill"]})", kFails}));

INSTANTIATE_TEST_SUITE_P(
    SkillTool, ResolveSkill,
    ::testing::Values(
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":"zin-auth"}})", "zin-auth"},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":" My Skill "}})", " My Skill "},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":""}})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":null}})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":0}})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":false}})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":[]}})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":7}})", kFails},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":true}})", kFails},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":{"a":1}}})", kFails},
        ResolveCase{R"({"tool_name":"Skill"})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":null})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":false})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":""})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":[]})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{}})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":"zin-auth"})", kFails},
        ResolveCase{R"({"tool_name":"Skill","tool_input":["zin-auth"]})", kFails},
        ResolveCase{R"({"tool_name":"Skill","tool_input":true})", kFails},
        ResolveCase{R"({"tool_name":"Skill","tool_input":1})", kFails},
        ResolveCase{R"({"tool_name":"skill","tool_input":{"command":"zin-auth"}})", kNothing},
        ResolveCase{R"({"tool_name":"SKILL","tool_input":{"command":"zin-auth"}})", kNothing}));

// Newer hosts name the skill in "skill"; "command" still comes first when it is truthy.
INSTANTIATE_TEST_SUITE_P(
    SkillMember, ResolveSkill,
    ::testing::Values(
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"skill":"zin-auth","args":"login"}})",
                    "zin-auth"},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":"a","skill":"b"}})", "a"},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":"","skill":"b"}})", "b"},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":0,"skill":"b"}})", "b"},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":7,"skill":"b"}})", kFails},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"command":"a","skill":7}})", "a"},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"skill":""}})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"skill":null}})", kNothing},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"skill":["x"]}})", kFails},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"skill":1}})", kFails}));

INSTANTIATE_TEST_SUITE_P(
    McpTool, ResolveSkill,
    ::testing::Values(
        ResolveCase{R"({"tool_name":"mcp__zindle__query_run"})", "zin-dataset-query"},
        ResolveCase{R"({"tool_name":"mcp__zindle__auth_doctor","tool_input":7})", "zin-auth"},
        ResolveCase{R"({"tool_name":"mcp__zindle__feedback_submit"})", "zin-feedback"},
        ResolveCase{R"({"tool_name":"mcp__zindle__skills_record_usage"})", "zin-skills"},
        ResolveCase{R"({"tool_name":"mcp__zindle__market_lens_export"})", "market-lens"},
        ResolveCase{R"({"tool_name":"mcp__query_run"})", "zin-dataset-query"},
        ResolveCase{R"({"tool_name":"mcp__other__query_run"})", "zin-dataset-query"},
        ResolveCase{R"({"tool_name":"mcp__a__b__auth_logout"})", "zin-auth"},
        ResolveCase{R"({"tool_name":"mcp__zindle__query_unknown"})", kNothing},
        ResolveCase{R"({"tool_name":"mcp__zindle__"})", kNothing},
        ResolveCase{R"({"tool_name":"mcp__"})", kNothing},
        ResolveCase{R"({"tool_name":"mcp__zindle___query_run"})", kNothing},
        ResolveCase{R"({"tool_name":"MCP__zindle__query_run"})", kNothing},
        ResolveCase{R"({"tool_name":"mcp__zindle__Query_Run"})", kNothing}));

INSTANTIATE_TEST_SUITE_P(
    BashTool, ResolveSkill,
    ::testing::Values(
        ResolveCase{R"({"tool_name":"Bash","tool_input":{"command":"zindle auth login"}})",
                    "zin-auth"},
        ResolveCase{R"({"tool_name":"Bash","tool_input":{"command":"git status"}})", kNothing},
        ResolveCase{R"({"tool_name":"Bash"})", kNothing},
        ResolveCase{R"({"tool_name":"Bash","tool_input":{}})", kNothing},
        ResolveCase{R"({"tool_name":"Bash","tool_input":null})", kNothing},
        ResolveCase{R"({"tool_name":"Bash","tool_input":{"command":null}})", kFails},
        ResolveCase{R"({"tool_name":"Bash","tool_input":{"command":0}})", kFails},
        ResolveCase{R"({"tool_name":"Bash","tool_input":{"command":["zindle"]}})", kFails},
        ResolveCase{R"({"tool_name":"Bash","tool_input":"zindle auth"})", kFails},
        ResolveCase{R"({"tool_name":"BASH","tool_input":{"command":"zindle auth"}})", kNothing}));

// Claude Code on Windows: PowerShell is a shell tool with the same rules as Bash.
INSTANTIATE_TEST_SUITE_P(
    PowerShellTool, ResolveSkill,
    ::testing::Values(
        ResolveCase{
            R"({"tool_name":"PowerShell","tool_input":{"command":"& \"C:\\Program Files\\zindle\\zindle.exe\" auth login"}})",
            "zin-auth"},
        ResolveCase{R"({"tool_name":"PowerShell","tool_input":{"command":"Get-ChildItem"}})",
                    kNothing},
        ResolveCase{R"({"tool_name":"PowerShell","tool_input":{}})", kNothing},
        ResolveCase{R"({"tool_name":"PowerShell","tool_input":{"command":null}})", kFails},
        ResolveCase{R"({"tool_name":"PowerShell","tool_input":["zindle auth"]})", kFails},
        ResolveCase{R"({"tool_name":"powershell","tool_input":{"command":"zindle auth"}})",
                    kNothing},
        // A tool name holding a lone surrogate is just another name.
        ResolveCase{R"({"tool_name":"PowerShell\ud800","tool_input":{"command":"zindle auth"}})",
                    kNothing}));

// The other hosts' skill tools: the Skill tool's rules, on their own members.
INSTANTIATE_TEST_SUITE_P(
    OtherSkillTools, ResolveSkill,
    ::testing::Values(
        ResolveCase{R"({"tool_name":"activate_skill","tool_input":{"name":"zin-auth"}})",
                    "zin-auth"},
        ResolveCase{R"({"tool_name":"activate_skill","tool_input":{"skill":"zin-auth"}})",
                    kNothing},
        ResolveCase{R"({"tool_name":"activate_skill","tool_input":{"name":7}})", kFails},
        ResolveCase{R"({"tool_name":"activate_skill","tool_input":"zin-auth"})", kFails},
        ResolveCase{R"({"tool_name":"skill","tool_input":{"skill":"zin-auth"}})", "zin-auth"},
        ResolveCase{R"({"tool_name":"skill","tool_input":{"name":"zin-auth"}})", "zin-auth"},
        ResolveCase{R"({"tool_name":"skill","tool_input":{"skill":"a","name":"b"}})", "a"},
        // "name" stands in only for an absent "skill".
        ResolveCase{R"({"tool_name":"skill","tool_input":{"skill":"","name":"b"}})", kNothing},
        ResolveCase{R"({"tool_name":"skill","tool_input":{"skill":null,"name":"b"}})", kNothing},
        ResolveCase{R"({"tool_name":"skill","tool_input":{"skill":[1],"name":"b"}})", kFails},
        ResolveCase{R"({"tool_name":"skill","tool_input":{"name":true}})", kFails},
        ResolveCase{R"({"tool_name":"skill","tool_input":{"command":"zin-auth"}})", kNothing},
        ResolveCase{R"({"tool_name":"skill","tool_input":{"skill":"zin-auth\ud800"}})",
                    "zin-auth\xED\xA0\x80"},
        ResolveCase{R"({"tool_name":"Activate_Skill","tool_input":{"name":"zin-auth"}})",
                    kNothing}));

// The other hosts' shell tools take the Bash route.
INSTANTIATE_TEST_SUITE_P(
    OtherShellTools, ResolveSkill,
    ::testing::Values(
        ResolveCase{R"({"tool_name":"run_shell_command","tool_input":{"command":"zindle auth"}})",
                    "zin-auth"},
        ResolveCase{R"({"tool_name":"bash","tool_input":{"command":"zindle query run"}})",
                    "zin-dataset-query"},
        ResolveCase{R"({"tool_name":"run_shell_command","tool_input":{"command":null}})", kFails},
        ResolveCase{R"({"tool_name":"bash","tool_input":["zindle auth"]})", kFails},
        ResolveCase{R"({"tool_name":"run_shell_command","tool_input":{}})", kNothing}));

// Each host's name for an MCP tool of the product's server, and Gemini CLI's mcp_context.
#define CONTEXT(tool_name) R"(,"mcp_context":{"server_name":"zindle","tool_name":)" tool_name "}}"
INSTANTIATE_TEST_SUITE_P(
    McpNameForms, ResolveSkill,
    ::testing::Values(
        ResolveCase{R"({"tool_name":"mcp_zindle_query_run"})", "zin-dataset-query"},
        ResolveCase{R"({"tool_name":"zindle-auth_doctor"})", "zin-auth"},
        ResolveCase{R"({"tool_name":"zindle_skills_list"})", "zin-skills"},
        ResolveCase{R"({"tool_name":"zindle-query_unknown"})", kNothing},
        ResolveCase{R"({"tool_name":"zindle-"})", kNothing},
        ResolveCase{R"({"tool_name":"other-query_run"})", kNothing},
        ResolveCase{R"({"tool_name":"mcp_other_query_run"})", kNothing},
        ResolveCase{R"({"tool_name":"Zindle-query_run"})", kNothing},
        ResolveCase{R"({"tool_name":"mcp_zindle_query_run")" CONTEXT(R"("auth_doctor")"),
                    "zin-auth"},
        ResolveCase{R"({"tool_name":"query_run")" CONTEXT(R"("query_run")"), "zin-dataset-query"},
        ResolveCase{R"({"tool_name":"mcp_zindle_query_run")" CONTEXT(R"("other")"), kNothing},
        ResolveCase{R"({"tool_name":"mcp_zindle_query_run")" CONTEXT("7"), "zin-dataset-query"},
        ResolveCase{R"({"tool_name":"mcp_zindle_query_run","mcp_context":"query_run"})",
                    "zin-dataset-query"},
        ResolveCase{R"({"tool_name":"run_shell_command","tool_input":{"command":"zindle auth"})"
                    R"(,"mcp_context":null})",
                    "zin-auth"}));

// Copilot CLI's own format: camelCase members, and no event name.
INSTANTIATE_TEST_SUITE_P(
    CamelCase, ResolveSkill,
    ::testing::Values(
        ResolveCase{R"({"toolName":"bash","toolArgs":{"command":"zindle auth status"}})",
                    "zin-auth"},
        ResolveCase{R"({"toolName":"skill","toolArgs":{"skill":"zin-auth"},"toolResult":{}})",
                    "zin-auth"},
        ResolveCase{R"({"toolName":"zindle-query_run","toolArgs":{}})", "zin-dataset-query"},
        ResolveCase{R"({"toolName":"bash","toolArgs":{"command":null}})", kFails},
        ResolveCase{R"({"toolName":7})", kFails},
        // Older releases documented toolArgs as a JSON text, which is not looked into.
        ResolveCase{R"({"toolName":"bash","toolArgs":"{\"command\":\"zindle auth\"}"})", kNothing},
        // Where the event has any of the usual members, those count.
        ResolveCase{R"({"tool_name":"Read","toolName":"skill","toolArgs":{"skill":"a"}})",
                    kNothing},
        ResolveCase{R"({"tool_input":{},"toolName":"skill","toolArgs":{"skill":"a"}})", kNothing},
        ResolveCase{R"({"hook_event_name":"x","toolName":"skill","toolArgs":{"skill":"a"}})",
                    kNothing},
        ResolveCase{R"({"toolArgs":{"skill":"a"}})", kNothing}));

// A skill the user typed: the UserPromptExpansion event replaces the three routes.
#define EXPANSION(members) R"({"hook_event_name":"UserPromptExpansion",)" members "}"
INSTANTIATE_TEST_SUITE_P(
    SlashCommand, ResolveSkill,
    ::testing::Values(
        ResolveCase{EXPANSION(R"("expansion_type":"slash_command","command_name":"zin-auth",)"
                              R"("command_args":"status","prompt":"/zin-auth status")"),
                    "zin-auth"},
        ResolveCase{
            EXPANSION(R"("expansion_type":"slash_command","command_name":"zindle:zin-auth")"),
            "zindle:zin-auth"},
        ResolveCase{EXPANSION(R"("expansion_type":"prompt","command_name":"zin-auth")"), kNothing},
        ResolveCase{EXPANSION(R"("expansion_type":7,"command_name":"zin-auth")"), kNothing},
        // Qwen Code names no expansion_type.
        ResolveCase{EXPANSION(R"("command_name":"zin-auth","command_args":"status")"), "zin-auth"},
        ResolveCase{EXPANSION(R"("expansion_type":null,"command_name":"zin-auth")"), kNothing},
        // A command of the host's own is no skill; a bundled or plugin skill is one.
        ResolveCase{EXPANSION(R"("expansion_type":"slash_command","command_name":"init",)"
                              R"("command_source":"builtin")"),
                    kNothing},
        ResolveCase{EXPANSION(R"("command_name":"init","command_source":"builtin")"), kNothing},
        ResolveCase{EXPANSION(R"("expansion_type":"slash_command","command_name":"code-review",)"
                              R"("command_source":"bundled")"),
                    "code-review"},
        ResolveCase{EXPANSION(R"("expansion_type":"slash_command","command_name":"zin-auth",)"
                              R"("command_source":"Builtin")"),
                    "zin-auth"},
        ResolveCase{EXPANSION(R"("expansion_type":"slash_command")"), kNothing},
        ResolveCase{EXPANSION(R"("expansion_type":"slash_command","command_name":"")"), kNothing},
        ResolveCase{EXPANSION(R"("expansion_type":"slash_command","command_name":null)"), kNothing},
        ResolveCase{EXPANSION(R"("expansion_type":"slash_command","command_name":7)"), kFails},
        ResolveCase{EXPANSION(R"("expansion_type":"slash_command","command_name":["a"])"), kFails},
        ResolveCase{EXPANSION(R"("expansion_type":"slash_command","tool_name":7)"), kNothing},
        ResolveCase{EXPANSION(R"("tool_name":"Skill","tool_input":{"command":"zin-auth"})"),
                    kNothing},
        // Any other event reads as before, whatever it carries.
        ResolveCase{R"({"hook_event_name":"PostToolUse","tool_name":"Read",)"
                    R"("expansion_type":"slash_command","command_name":"zin-auth"})",
                    kNothing},
        ResolveCase{R"({"hook_event_name":"userpromptexpansion","expansion_type":"slash_command",)"
                    R"("command_name":"zin-auth"})",
                    kNothing},
        ResolveCase{R"({"hook_event_name":7,"tool_name":"Skill","tool_input":{"skill":"a"}})",
                    "a"}));

// Texts longer than the parser keeps name nothing; a command line is read whole all the same.
INSTANTIATE_TEST_SUITE_P(
    LongTexts, ResolveSkill,
    ::testing::Values(
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"skill":")" +
                        std::string(kLongestSkillName, 'n') + "\"}}",
                    std::string(kLongestSkillName, 'n')},
        ResolveCase{R"({"tool_name":"Skill","tool_input":{"skill":")" +
                        std::string(kLongestSkillName + 1, 'n') + "\"}}",
                    kNothing},
        ResolveCase{R"({"tool_name":"mcp__)" + std::string(kLongestName, 'x') + "__query_run\"}",
                    kNothing},
        ResolveCase{R"({"tool_input":{"command":")" + std::string(kLongestSkillName, ' ') +
                        R"(zindle auth"},"tool_name":"Bash"})",
                    "zin-auth"}));

TEST(McpToolTable, EveryToolResolvesToItsSkill) {
  for (const auto& [tool, skill] : MCP_TOOL_TO_SKILL) {
    SCOPED_TRACE(tool);
    const auto result = resolve(R"({"tool_name":"mcp__zindle__)" + std::string(tool) + "\"}");
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), std::string(skill));
  }
}

TEST(ResolveSkill, NamesTheOffendingMember) {
  EXPECT_EQ(resolve("[]").error().message, "data must be an object, not array");
  EXPECT_EQ(resolve(R"({"tool_name":null})").error().message,
            "tool_name must be a string, not null");
  EXPECT_EQ(
      resolve(EXPANSION(R"("expansion_type":"slash_command","command_name":true)")).error().message,
      "command_name must be a string, not boolean");
  EXPECT_EQ(resolve(R"({"toolName":"skill","toolArgs":{"skill":1}})").error().message,
            "toolArgs.skill must be a string, not number");
}

}  // namespace
}  // namespace tallyhook
