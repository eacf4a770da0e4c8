#ifndef TALLYHOOK_EVENT_MEMBERS_H_
#define TALLYHOOK_EVENT_MEMBERS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "hook_event.h"

namespace tallyhook {

// The containers of an event as the parser tells them apart: the objects whose members the
// hook reads, and every other container, which is only validated.
enum class Container : std::uint8_t {
  kArray,
  kObject,  // an object none of whose members is read
  kEvent,   // the document itself
  kToolInput,
  kToolArgs,
  kMcpContext,
};

// Hosts name a tool call in one of two spellings. The camelCase one counts only in an event
// that has none of the usual members, so the parser drops it as soon as it meets one of them
// and keeps the texts of one spelling at a time.
enum class Spelling : std::uint8_t { kAny, kUsual, kCamelCase };

// A member of the event that the parser keeps: the object it belongs to, its name, where its
// value goes and how much of its text is kept (0: only its kind and truthiness). When the
// value is an object whose own members are read, `members` says which rows they are; a
// repeated member then replaces the earlier one together with them. A member read as a shell
// command line is also recognised as it streams, into `shell_command_skill`.
struct KeptMember {
  Container parent;
  std::string_view name;
  JsonField* (*field)(HookEvent&);
  std::size_t text_limit;
  Container members = Container::kObject;
  std::optional<std::string_view>* (*shell_command_skill)(HookEvent&) = nullptr;
  Spelling spelling = Spelling::kAny;
};

// Every member the hook reads. A host that spells the event its own way adds rows here.
inline constexpr KeptMember KEPT_MEMBERS[] = {
    {Container::kEvent, "hook_event_name", [](HookEvent& e) { return &e.hook_event_name; },
     kLongestName, Container::kObject, nullptr, Spelling::kUsual},
    {Container::kEvent, "tool_name", [](HookEvent& e) { return &e.tool.tool_name; }, kLongestName,
     Container::kObject, nullptr, Spelling::kUsual},
    {Container::kEvent, "tool_input", [](HookEvent& e) { return &e.tool.tool_input; }, 0,
     Container::kToolInput, nullptr, Spelling::kUsual},
    {Container::kToolInput, "command", [](HookEvent& e) { return &e.tool.command; },
     kLongestSkillName, Container::kObject,
     [](HookEvent& e) { return &e.tool.shell_command_skill; }},
    {Container::kToolInput, "skill", [](HookEvent& e) { return &e.tool.skill; }, kLongestSkillName},
    {Container::kToolInput, "name", [](HookEvent& e) { return &e.tool.name; }, kLongestSkillName},
    // Copilot CLI's own hook format: camelCase, and no event name.
    {Container::kEvent, "toolName", [](HookEvent& e) { return &e.camel_case_tool.tool_name; },
     kLongestName, Container::kObject, nullptr, Spelling::kCamelCase},
    {Container::kEvent, "toolArgs", [](HookEvent& e) { return &e.camel_case_tool.tool_input; }, 0,
     Container::kToolArgs, nullptr, Spelling::kCamelCase},
    {Container::kToolArgs, "command", [](HookEvent& e) { return &e.camel_case_tool.command; },
     kLongestSkillName, Container::kObject,
     [](HookEvent& e) { return &e.camel_case_tool.shell_command_skill; }},
    {Container::kToolArgs, "skill", [](HookEvent& e) { return &e.camel_case_tool.skill; },
     kLongestSkillName},
    {Container::kToolArgs, "name", [](HookEvent& e) { return &e.camel_case_tool.name; },
     kLongestSkillName},
    // Gemini CLI describes an MCP call apart from the tool's name.
    {Container::kEvent, "mcp_context", [](HookEvent& e) { return &e.mcp_context; }, 0,
     Container::kMcpContext},
    {Container::kMcpContext, "tool_name", [](HookEvent& e) { return &e.mcp_tool_name; },
     kLongestName},
    // A skill the user typed.
    {Container::kEvent, "expansion_type", [](HookEvent& e) { return &e.expansion_type; },
     kLongestName},
    {Container::kEvent, "command_name", [](HookEvent& e) { return &e.command_name; },
     kLongestSkillName},
    {Container::kEvent, "command_source", [](HookEvent& e) { return &e.command_source; },
     kLongestName},
};

}  // namespace tallyhook

#endif  // TALLYHOOK_EVENT_MEMBERS_H_
