#ifndef TALLYHOOK_SKILL_RESOLVER_H_
#define TALLYHOOK_SKILL_RESOLVER_H_

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "hook_event.h"
#include "result.h"

namespace tallyhook {

// Hosts name an MCP tool "mcp__" + server + "__" + the tool's own name.
inline constexpr std::string_view MCP_TOOL_PREFIX = "mcp__";

// The product's MCP tools, by their own name, and the skill each belongs to.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 38> MCP_TOOL_TO_SKILL = {
    {
        {"query_spec_must_read", "zin-dataset-query"},
        {"query_metadata", "zin-dataset-query"},
        {"query_catalog", "zin-dataset-query"},
        {"query_intent_match", "zin-dataset-query"},
        {"query_simple", "zin-dataset-query"},
        {"query_build", "zin-dataset-query"},
        {"query_run", "zin-dataset-query"},
        {"query_build_and_run", "zin-dataset-query"},
        {"query_chart", "zin-dataset-query"},
        {"query_chart_doc", "zin-dataset-query"},
        {"query_preferences", "zin-dataset-query"},
        {"auth_mcp_login", "zin-auth"},
        {"auth_login_start", "zin-auth"},
        {"auth_login_poll", "zin-auth"},
        {"auth_get_token", "zin-auth"},
        {"auth_check_token", "zin-auth"},
        {"auth_is_authenticated", "zin-auth"},
        {"auth_token_refresh", "zin-auth"},
        {"auth_system_list", "zin-auth"},
        {"auth_system_add", "zin-auth"},
        {"auth_system_remove", "zin-auth"},
        {"auth_system_sync", "zin-auth"},
        {"auth_build_request_auth", "zin-auth"},
        {"auth_logout", "zin-auth"},
        {"auth_doctor", "zin-auth"},
        {"feedback_submit", "zin-feedback"},
        {"feedback_detail", "zin-feedback"},
        {"skills_list", "zin-skills"},
        {"skills_status", "zin-skills"},
        {"skills_install", "zin-skills"},
        {"skills_upgrade", "zin-skills"},
        {"skills_marketplace_list", "zin-skills"},
        {"skills_marketplace_info", "zin-skills"},
        {"skills_record_usage", "zin-skills"},
        {"market_lens_scenarios", "market-lens"},
        {"market_lens_run", "market-lens"},
        {"market_lens_job_status", "market-lens"},
        {"market_lens_export", "market-lens"},
    }};

// The hosts' own skill tools, and the members of the tool's input that name the skill: the
// first, or the second instead when the first is falsy (kWhenFalsy) or absent (kWhenAbsent).
struct SkillTool {
  enum class Fallback { kNone, kWhenFalsy, kWhenAbsent };
  struct Member {
    std::string_view name;  // for diagnostics
    JsonField ToolCall::*field;
  };
  std::string_view tool_name;
  Member first;
  Member second = {};
  Fallback fallback = Fallback::kNone;
};
inline constexpr SkillTool SKILL_TOOLS[] = {
    // Claude Code: "command" up to 2.0.34, "skill" since.
    {"Skill",
     {"command", &ToolCall::command},
     {"skill", &ToolCall::skill},
     SkillTool::Fallback::kWhenFalsy},
    // Qwen Code and Copilot CLI: "skill"; OpenCode: "name".
    {"skill",
     {"skill", &ToolCall::skill},
     {"name", &ToolCall::name},
     SkillTool::Fallback::kWhenAbsent},
    // Gemini CLI.
    {"activate_skill", {"name", &ToolCall::name}},
};

// The hosts' shell tools, each with the command line in tool_input.command: Claude Code,
// Codex CLI and Copilot CLI's Bash, Claude Code's PowerShell on Windows, Gemini CLI's and
// Qwen Code's run_shell_command, and bash in Copilot CLI's own format and in OpenCode.
inline constexpr std::string_view SHELL_TOOLS[] = {"Bash", "PowerShell", "run_shell_command",
                                                   "bash"};

// How the hosts name a tool of the product's MCP server: a prefix, then the tool's own name,
// which for MCP_TOOL_PREFIX is the text after the last "__" (the server's name comes between).
struct McpToolNameForm {
  std::string_view prefix;
  bool own_name_after_last_separator = false;
};
inline constexpr McpToolNameForm MCP_TOOL_NAME_FORMS[] = {
    {MCP_TOOL_PREFIX, true},  // Claude Code, Codex CLI, Qwen Code: mcp__zindle__query_run
    {"mcp_zindle_"},          // Gemini CLI
    {"zindle-"},              // Copilot CLI
    {"zindle_"},              // OpenCode
};

// Where a host says a command the user typed comes from, when that is the host itself: such a
// command is no skill (Claude Code's /init). Qwen Code names no source, so its built-in
// commands cannot be told from skills.
inline constexpr std::string_view BUILT_IN_COMMAND_SOURCES[] = {"builtin"};

// The skill that the tool call of `data` used, or nothing. The call is named by tool_name and
// tool_input or, in an event without those and without hook_event_name, by toolName and
// toolArgs (Copilot CLI's own format; there a toolArgs that is no object is taken as empty).
// Three routes: one of SKILL_TOOLS names the skill in its input, taken as given; a tool of
// the product's MCP server is looked up in MCP_TOOL_TO_SKILL by its own name, which is
// mcp_context.tool_name where the event has it, else the name after one of
// MCP_TOOL_NAME_FORMS; one of SHELL_TOOLS runs the product's command-line tool (see
// _resolve_bash_zindle_command). A UserPromptExpansion event (the user typed a slash command)
// takes a fourth route instead: with expansion_type "slash_command" or none, command_name is
// the skill, taken as given, unless command_source is one of BUILT_IN_COMMAND_SOURCES. A text kept
// only in part (see kLongestSkillName) names nothing. No side effects.
//
// Fails, without a result, when `data` is not an object or a member it reads has the
// wrong kind: the tool's name not text; for the skill and shell tools, tool_input truthy but
// not an object; for a skill tool, the member naming the skill truthy but not text; for the
// shell tools, command present but not text; for a slash command, command_name truthy but
// not text.
Result<std::optional<std::string>> _resolve_skill_name(const HookEvent& data);

}  // namespace tallyhook

#endif  // TALLYHOOK_SKILL_RESOLVER_H_
