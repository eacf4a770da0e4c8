// Bytes in, as a host would write them: the parse must accept exactly what the reference
// parser accepts and keep the same members, whole or streamed; the flow (with recording
// fakes for the marker and the report) must end as the event demands.
#include <cstdint>
#include <string>
#include <vector>

#include "bash_command.h"
#include "chunked_stream.h"
#include "fuzz_check.h"
#include "hook.h"
#include "marker_name.h"
#include "reference_json.h"
#include "skill_resolver.h"
#include "string_kernel.h"

namespace {

bool is_table_skill(const std::string& name) {
  for (const auto& [tool, skill] : tallyhook::MCP_TOOL_TO_SKILL) {
    if (skill == name) return true;
  }
  return false;
}

bool is_skill_tool(const tallyhook::JsonField& tool_name) {
  for (const tallyhook::SkillTool& tool : tallyhook::SKILL_TOOLS) {
    if (tool_name.is_string() && tool_name.text == tool.tool_name) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tallyhook;
  const std::string text(reinterpret_cast<const char*>(data), size);

  testing::RefValue document;
  const testing::RefOutcome outcome = testing::reference_parse(text, &document);
  const std::optional<HookEvent> event = parse_hook_event(text);

  for (const StringKernel* kernel : supported_string_kernels()) {
    const std::optional<HookEvent> whole = parse_hook_event(text, *kernel);
    testing::ChunkedStream stream(text, 1 + size % 13);
    const std::optional<HookEvent> streamed = parse_hook_event(stream, *kernel);
    FUZZ_CHECK(whole.has_value() == event.has_value());
    FUZZ_CHECK(streamed.has_value() == event.has_value());
    if (outcome != testing::RefOutcome::kTooDeep) {
      FUZZ_CHECK(event.has_value() == (outcome == testing::RefOutcome::kValid));
    }
    if (event && outcome == testing::RefOutcome::kValid) {
      const HookEvent expected = testing::reference_event(document);
      FUZZ_CHECK(testing::describe_difference(expected, *whole).empty());
      FUZZ_CHECK(testing::describe_difference(expected, *streamed).empty());
    }
  }

  std::vector<std::string> checked;
  std::vector<std::string> reported;
  const HookSteps steps{[&](std::string_view name) {
                          checked.emplace_back(name);
                          return Result<bool>(false);
                        },
                        [&](std::string_view name) {
                          reported.emplace_back(name);
                          return ok_status();
                        }};
  const HookOutcome result = handle_event(event, steps);
  FUZZ_CHECK(result.exit_status == 0 || result.exit_status == 1);
  FUZZ_CHECK(result.diagnostic.empty() == (result.exit_status == 0));
  FUZZ_CHECK(reported == checked);
  FUZZ_CHECK(reported.size() <= 1);
  if (!event) FUZZ_CHECK(result.exit_status == 0 && reported.empty());
  if (!reported.empty()) {
    // Only the skill routes name a skill, and only the skill tools and a slash command name
    // one freely.
    FUZZ_CHECK(!reported[0].empty());
    FUZZ_CHECK(event->kind == JsonKind::kObject);
    if (event->hook_event_name.text == "UserPromptExpansion") {
      FUZZ_CHECK(event->expansion_type.kind == JsonKind::kAbsent ||
                 event->expansion_type.text == "slash_command");
      FUZZ_CHECK(reported[0] == event->command_name.text);
      FUZZ_CHECK(event->command_source.text != "builtin");
    } else {
      FUZZ_CHECK(event->tool.tool_name.is_string() || event->camel_case_tool.tool_name.is_string());
      if (!is_skill_tool(event->tool.tool_name) &&
          !is_skill_tool(event->camel_case_tool.tool_name)) {
        FUZZ_CHECK(is_table_skill(reported[0]));
      }
    }
    // What reaches the marker and the tool can be a file name and an argument.
    FUZZ_CHECK(can_name_a_file(reported[0]));
  }
  return 0;
}
