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

// The skill that the tool call of `data` used, or nothing, by three routes: the host's
// "Skill" tool (tool_input.command, or tool_input.skill when command is falsy, taken as
// given), a tool of the product's MCP server (looked up in MCP_TOOL_TO_SKILL by the text
// after the last "__"), and the product's command-line tool run through a shell tool, "Bash"
// or "PowerShell" (see _resolve_bash_zindle_command). A UserPromptExpansion event (the
// user typed a skill's slash command) takes a fourth route instead: with expansion_type
// "slash_command", command_name is the skill, taken as given. A text kept only in part (see
// kLongestSkillName) names nothing. No side effects.
//
// Fails, without a result, when `data` is not an object or a member it reads has the
// wrong kind: tool_name not text; for Skill and the shell tools, tool_input truthy but not
// an object; for Skill, command or skill truthy but not text; for the shell tools, command
// present but not text; for a slash command, command_name truthy but not text.
Result<std::optional<std::string>> _resolve_skill_name(const HookEvent& data);

}  // namespace tallyhook

#endif  // TALLYHOOK_SKILL_RESOLVER_H_
