#include "skill_resolver.h"

#include "bash_command.h"

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

// A truthy text is the skill's name; a falsy value names none.
Resolution skill_from(const JsonField& value, std::string_view member) {
  if (!value.truthy) return std::optional<std::string>();
  if (!value.is_string()) {
    return wrong_kind("tool_input." + std::string(member), "a string", value);
  }
  return std::optional<std::string>(value.text);
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
  const JsonField& tool_name = data.tool_name;
  if (tool_name.kind == JsonKind::kAbsent) return std::optional<std::string>();
  if (!tool_name.is_string()) return wrong_kind("tool_name", "a string", tool_name);
  const std::string_view name = tool_name.text;

  if (name == "Skill") {
    if (auto error = check_tool_input(data)) return *error;
    // Hosts name the skill in "command" or, in newer releases, in "skill".
    if (data.command.truthy) return skill_from(data.command, "command");
    return skill_from(data.skill, "skill");
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
    return std::optional<std::string>(_resolve_bash_zindle_command(command.text));
  }
  return std::optional<std::string>();
}

}  // namespace tallyhook
