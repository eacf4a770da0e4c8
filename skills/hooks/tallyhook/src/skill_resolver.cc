#include "skill_resolver.h"

namespace tallyhook {
namespace {

using Resolution = Result<std::optional<std::string>>;

Error wrong_kind(std::string_view what, std::string_view expected, const JsonField& found) {
  return Error{std::string(what) + " must be " + std::string(expected) + ", not " +
               std::string(kind_name(found.kind))};
}

// tool_input as the Skill and Bash routes read it: a falsy value stands for an empty
// object, any other non-object cannot be looked into.
std::optional<Error> check_tool_input(const HookEvent& data) {
  if (data.tool_input.truthy && data.tool_input.kind != JsonKind::kObject) {
    return wrong_kind("tool_input", "an object", data.tool_input);
  }
  return std::nullopt;
}

// A truthy text is the skill's name; a falsy value names none, and so does a text too long
// to be reported.
Resolution skill_from(const JsonField& value, std::string_view member) {
  if (!value.truthy) return std::optional<std::string>();
  if (!value.is_string()) return wrong_kind(member, "a string", value);
  if (value.too_long) return std::optional<std::string>();
  return std::optional<std::string>(value.text);
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

}  // namespace

Result<std::optional<std::string>> _resolve_skill_name(const HookEvent& data) {
  if (data.kind != JsonKind::kObject) {
    return Error{"data must be an object, not " + std::string(kind_name(data.kind))};
  }
  // A skill the user typed ("/zin-auth status"), expanded without any tool call.
  if (is_text(data.hook_event_name, "UserPromptExpansion")) {
    if (!is_text(data.expansion_type, "slash_command")) return std::optional<std::string>();
    return skill_from(data.command_name, "command_name");
  }
  const JsonField& tool_name = data.tool_name;
  if (tool_name.kind == JsonKind::kAbsent) return std::optional<std::string>();
  if (!tool_name.is_string()) return wrong_kind("tool_name", "a string", tool_name);
  if (tool_name.too_long) return std::optional<std::string>();
  const std::string_view name = tool_name.text;

  if (name == "Skill") {
    if (auto error = check_tool_input(data)) return *error;
    // Hosts name the skill in "command" or, in newer releases, in "skill".
    if (data.command.truthy) return skill_from(data.command, "tool_input.command");
    return skill_from(data.skill, "tool_input.skill");
  }
  if (name.starts_with(MCP_TOOL_PREFIX)) {
    const std::string_view tool = last_piece(name);
    for (const auto& [key, skill] : MCP_TOOL_TO_SKILL) {
      if (key == tool) return std::optional<std::string>(skill);
    }
    return std::optional<std::string>();
  }
  // Claude Code on Windows may run commands through PowerShell instead of Bash.
  if (name == "Bash" || name == "PowerShell") {
    if (auto error = check_tool_input(data)) return *error;
    const JsonField& command = data.command;  // absent: the empty command line
    if (command.kind != JsonKind::kAbsent && !command.is_string()) {
      return wrong_kind("tool_input.command", "a string", command);
    }
    return std::optional<std::string>(data.shell_command_skill);
  }
  return std::optional<std::string>();
}

}  // namespace tallyhook
