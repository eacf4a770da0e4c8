#ifndef TALLYHOOK_HOOK_EVENT_H_
#define TALLYHOOK_HOOK_EVENT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyhook {

enum class JsonKind : std::uint8_t {
  kAbsent,  // the member does not occur
  kNull,
  kFalse,
  kTrue,
  kNumber,
  kString,
  kArray,
  kObject,
};

// "array", "null", ...: for diagnostics.
std::string_view kind_name(JsonKind kind);

// One JSON value of the event, reduced to what the hook can ask of it.
struct JsonField {
  JsonKind kind = JsonKind::kAbsent;
  // False for absent, null, false, a numeric zero, "", [] and {}; true otherwise.
  bool truthy = false;
  // The decoded text when kind is kString (it may hold NUL characters and, as WTF-8, lone
  // surrogates); empty otherwise.
  // Kept only for the members whose text the hook reads, and only up to that member's
  // limit (below): a longer text is dropped, `text` left empty and `too_long` set.
  std::string text;
  bool too_long = false;

  bool is_string() const { return kind == JsonKind::kString; }
};

// The most of a kept text that the parser holds, so that memory stays bounded whatever the
// event holds. A text that becomes a skill name is kept as long as a program argument can
// be on Linux (MAX_ARG_STRLEN, less its NUL): a longer name could not be reported anyway.
// Every other kept text (tool names, hook_event_name, expansion_type) is compared only with
// short names; hosts cap tool names at 64 characters.
inline constexpr std::size_t kLongestSkillName = 128 * 1024 - 1;
inline constexpr std::size_t kLongestName = 4096;

// Containers nested deeper than this make the text invalid, so that the parse stack stays
// small (RFC 8259 lets a parser limit nesting; no host nests an event nearly this deep).
inline constexpr std::size_t kDeepestNesting = 100000;

// A tool call as the event names it: the tool and the members of its input that can name a
// skill. Where a member name repeats, the last occurrence wins; the input's members belong
// to the last input.
struct ToolCall {
  JsonField tool_name;   // text up to kLongestName
  JsonField tool_input;  // kind and truthiness only
  JsonField command;     // tool_input.command, when tool_input is an object
  JsonField skill;       // tool_input.skill, likewise
  JsonField name;        // tool_input.name, likewise
  // What `command`, when it is text, names as a shell command line
  // (_resolve_bash_zindle_command), read as the text streams: a command of any length is
  // recognised, though at most kLongestSkillName of its text is kept.
  std::optional<std::string_view> shell_command_skill;
};

// The parts of a hook event that the hook reads (event_members.h lists them).
struct HookEvent {
  JsonKind kind = JsonKind::kAbsent;  // of the whole document
  ToolCall tool;                      // tool_name and tool_input
  // toolName and toolArgs, kept only in an event without hook_event_name, tool_name and
  // tool_input (Copilot CLI's own format).
  ToolCall camel_case_tool;
  // The MCP call a host describes apart from the tool's name: mcp_context, kind only, and its
  // tool_name, the tool's own name on its server (text up to kLongestName).
  JsonField mcp_context;
  JsonField mcp_tool_name;
  // The members of a UserPromptExpansion event, which announces a skill the user typed.
  JsonField hook_event_name;  // text up to kLongestName
  JsonField expansion_type;   // text up to kLongestName
  JsonField command_name;
  JsonField command_source;  // text up to kLongestName
};

// Supplies the bytes of an event piece by piece.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Reads up to `capacity` bytes into `buffer`: the count, 0 at the end, -1 on failure.
  virtual std::ptrdiff_t read(char* buffer, std::size_t capacity) = 0;
};

// Parses `text` as exactly one strict RFC 8259 JSON text in UTF-8: no byte-order mark,
// no comments, no NaN or Infinity, no raw control characters or NUL bytes, no invalid
// UTF-8 (encoded surrogates included), only space, tab, LF and CR as white space,
// nesting no deeper than kDeepestNesting, and nothing after the value. An escaped surrogate without
// its partner ("\ud83d") is valid, as the grammar has it; a kept text holds it as WTF-8 (the bytes
// ED A0 BD), so that such a text is not valid UTF-8. Every byte is validated; only the members
// above are kept, each within its limit, so memory use is bounded whatever the size of the text,
// the number of its values and their order. Returns nothing when the text is not valid.
std::optional<HookEvent> parse_hook_event(std::string_view text);

// The same for a text read from `input` as the parse goes, through a small fixed window,
// so that the text is never held whole. Stops reading at the first byte that makes the
// text invalid, and returns nothing then or when reading fails.
std::optional<HookEvent> parse_hook_event(ByteStream& input);

// The same with a chosen way of validating string content (string_kernel.h) instead of the
// fastest this processor has: for tests and benchmarks, which hold every kernel to the same
// results.
struct StringKernel;
std::optional<HookEvent> parse_hook_event(std::string_view text, const StringKernel& kernel);
std::optional<HookEvent> parse_hook_event(ByteStream& input, const StringKernel& kernel);

}  // namespace tallyhook

#endif  // TALLYHOOK_HOOK_EVENT_H_
