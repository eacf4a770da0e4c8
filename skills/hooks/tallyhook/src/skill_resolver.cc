#include "skill_resolver.h"

namespace tallyhook {
namespace {

using Resolution = Result<std::optional<std::string>>;

// The diagnostic for `what` (a member of `in`, where that is given), which is of the wrong kind.
Error wrong_kind(std::string_view what, std::string_view expected, const JsonField& found,
                 std::string_view in = {}) {
  const std::string member =
      in.empty() ? std::string(what) : std::string(in) + "." + std::string(what);
  return Error{member + " must be " + std::string(expected) + ", not " +
               std::string(kind_name(found.kind))};
}

// How an event spells the members of its tool call, for diagnostics; and whether an input
// that is no object makes the event malformed or is taken as empty.
struct Spelling {
  const ToolCall& call;
  std::string_view tool_name;
  std::string_view tool_input;
  bool input_must_be_object;
};

// Copilot CLI's own format names the call in camelCase and names no event. Its toolArgs was
// once documented as a JSON text, which is not looked into.
Spelling spelling_of(const HookEvent& data) {
  const bool camel_case = data.hook_event_name.kind == JsonKind::kAbsent &&
                          data.tool.tool_name.kind == JsonKind::kAbsent &&
                          data.tool.tool_input.kind == JsonKind::kAbsent &&
                          (data.camel_case_tool.tool_name.kind != JsonKind::kAbsent ||
                           data.camel_case_tool.tool_input.kind != JsonKind::kAbsent);
  if (camel_case) return {data.camel_case_tool, "toolName", "toolArgs", false};
  return {data.tool, "tool_name", "tool_input", true};
}

// The tool's input as the skill and shell routes read it: a falsy value stands for an empty
// object; any other non-object cannot be looked into.
std::optional<Error> check_tool_input(const Spelling& spelling) {
  const JsonField& input = spelling.call.tool_input;
  if (spelling.input_must_be_object && input.truthy && input.kind != JsonKind::kObject) {
    return wrong_kind(spelling.tool_input, "an object", input);
  }
  return std::nullopt;
}

// A truthy text is the skill's name; a falsy value names none, and so does a text too long
// to be reported.
Resolution skill_from(const JsonField& value, std::string_view member, std::string_view in = {}) {
  if (!value.truthy) return std::optional<std::string>();
  if (!value.is_string()) return wrong_kind(member, "a string", value, in);
  if (value.too_long) return std::optional<std::string>();
  return std::optional<std::string>(value.text);
}

Resolution skill_from(const Spelling& spelling, const SkillTool::Member& member) {
  return skill_from(spelling.call.*member.field, member.name, spelling.tool_input);
}

Resolution skill_tool_skill(const Spelling& spelling, const SkillTool& tool) {
  if (auto error = check_tool_input(spelling)) return *error;
  const JsonField& first = spelling.call.*tool.first.field;
  const bool second =
      (tool.fallback == SkillTool::Fallback::kWhenFalsy && !first.truthy) ||
      (tool.fallback == SkillTool::Fallback::kWhenAbsent && first.kind == JsonKind::kAbsent);
  return skill_from(spelling, second ? tool.second : tool.first);
}

bool is_text(const JsonField& value, std::string_view text) {
  return value.is_string() && !value.too_long && value.text == text;
}

// The text after the last "__", where the separators are found from the left without
// overlapping ("a___b" gives "_b").
std::string_view last_piece(std::string_view name) {
  std::size_t piece = 0;
  for (std::size_t at; (at = name.find("__", piece)) != std::string_view::npos;) piece = at + 2;
  return name.substr(piece);
}

// The own name of the MCP tool that `tool_name` names, if it names one: the host's
// mcp_context where there is one, else what follows a known form of the name.
std::optional<std::string_view> mcp_own_name(const HookEvent& data, std::string_view tool_name) {
  if (data.mcp_tool_name.is_string()) {
    if (data.mcp_tool_name.too_long) return std::string_view();
    return data.mcp_tool_name.text;
  }
  for (const McpToolNameForm& form : MCP_TOOL_NAME_FORMS) {
    if (!tool_name.starts_with(form.prefix)) continue;
    return form.own_name_after_last_separator ? last_piece(tool_name)
                                              : tool_name.substr(form.prefix.size());
  }
  return std::nullopt;
}

Resolution mcp_tool_skill(std::string_view own_name) {
  for (const auto& [key, skill] : MCP_TOOL_TO_SKILL) {
    if (key == own_name) return std::optional<std::string>(skill);
  }
  return std::optional<std::string>();
}

}  // namespace

Result<std::optional<std::string>> _resolve_skill_name(const HookEvent& data) {
  if (data.kind != JsonKind::kObject) {
    return Error{"data must be an object, not " + std::string(kind_name(data.kind))};
  }
  // A command the user typed ("/zin-auth status"), expanded without any tool call. Claude Code
  // says it is a slash command; Qwen Code says nothing.
  if (is_text(data.hook_event_name, "UserPromptExpansion")) {
    if (data.expansion_type.kind != JsonKind::kAbsent &&
        !is_text(data.expansion_type, "slash_command")) {
      return std::optional<std::string>();
    }
    for (const std::string_view source : BUILT_IN_COMMAND_SOURCES) {
      if (is_text(data.command_source, source)) return std::optional<std::string>();
    }
    return skill_from(data.command_name, "command_name");
  }
  const Spelling spelling = spelling_of(data);
  const JsonField& tool_name = spelling.call.tool_name;
  if (tool_name.kind == JsonKind::kAbsent) return std::optional<std::string>();
  if (!tool_name.is_string()) return wrong_kind(spelling.tool_name, "a string", tool_name);
  if (tool_name.too_long) return std::optional<std::string>();
  const std::string_view name = tool_name.text;

  for (const SkillTool& tool : SKILL_TOOLS) {
    if (name == tool.tool_name) return skill_tool_skill(spelling, tool);
  }
  if (const auto own_name = mcp_own_name(data, name)) return mcp_tool_skill(*own_name);
  for (const std::string_view shell : SHELL_TOOLS) {
    if (name != shell) continue;
    if (auto error = check_tool_input(spelling)) return *error;
    const JsonField& command = spelling.call.command;  // absent: the empty command line
    if (command.kind != JsonKind::kAbsent && !command.is_string()) {
      return wrong_kind("command", "a string", command, spelling.tool_input);
    }
    return std::optional<std::string>(spelling.call.shell_command_skill);
  }
  return std::optional<std::string>();
}

}  // namespace tallyhook
