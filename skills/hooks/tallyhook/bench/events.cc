#include "events.h"

#include "event_members.h"
#include "hook_event.h"

namespace tallyhook::bench {
namespace {

const std::string kSession =
    R"("session_id":"5d0c8f9e-2b1a-4c77-9a61-0f3e2d8b7c41",)"
    R"("transcript_path":"/home/dev/.claude/projects/-work-analytics/5d0c8f9e.jsonl",)"
    R"("cwd":"/work/analytics","permission_mode":"default","hook_event_name":"PostToolUse",)";

// Source code as the hosts encode it inside a JSON string (both write non-ASCII text as raw
// UTF-8 and escape only quotes, backslashes and control characters): newlines, tabs and quotes
// escaped, comments and literals in several scripts.
const std::string kLine =
    "// R\xc3\xa9sum\xc3\xa9 export \xe2\x80\x94 \xe6\x9d\xb1\xe4\xba\xac office, na\xc3\xafve "
    "totals "
    "\xf0\x9f\x98\x80\\n"
    "function total(rows) {\\n\\tlet sum = 0;\\n\\tfor (const row of rows) {\\n"
    "\\t\\tif (row.name === \\\"caf\xc3\xa9\\\" || row.path.endsWith(\\\"\\\\\\\\\\\")) "
    "sum += row.amount;\\n\\t}\\n\\treturn sum; // \xd0\xb8\xd1\x82\xd0\xbe\xd0\xb3\xd0\xbe\\n}\\n";

std::string repeat_to(const std::string& unit, std::size_t size) {
  std::string text;
  text.reserve(size + unit.size());
  while (text.size() < size) text += unit;
  return text;
}

// Every kept member of `object`, each text at the longest the parser keeps, followed by a
// comma.
std::string longest_members_of(Container object) {
  std::string members;
  for (const KeptMember& member : KEPT_MEMBERS) {
    if (member.parent != object) continue;
    members.append("\"").append(member.name).append("\":");
    if (member.members != Container::kObject) {
      std::string inner = longest_members_of(member.members);
      inner.pop_back();
      members.append("{").append(inner).append("},");
    } else {
      members.append("\"").append(member.text_limit, 'k').append("\",");
    }
  }
  return members;
}

}  // namespace

std::string read_event() {
  return "{" + kSession +
         R"("tool_name":"Read","tool_input":{"file_path":"/work/analytics/src/report.cc"},)"
         R"("tool_response":{"type":"text","file":{"filePath":"/work/analytics/src/report.cc",)"
         R"("content":")" +
         repeat_to(kLine, 1100) +
         R"(","numLines":31,"startLine":1,"totalLines":31}},"tool_use_id":"toolu_01ABCDEF"})";
}

std::string write_event(std::size_t content_size) {
  return "{" + kSession +
         R"("tool_name":"Write","tool_input":{"file_path":"/work/analytics/src/big.cc","content":")" +
         repeat_to(kLine, content_size) +
         R"("},"tool_response":{"type":"create","filePath":"/work/analytics/src/big.cc"},)"
         R"("tool_use_id":"toolu_01ABCDEF"})";
}

std::string rows_event(std::size_t size) {
  std::string rows;
  rows.reserve(size + 256);
  for (int id = 0; rows.size() < size; ++id) {
    if (id > 0) rows += ',';
    rows += R"({"id":)" + std::to_string(id) + R"(,"name":"row )" + std::to_string(id) +
            R"(","ok":true,"score":0.5,"tags":["a","b"],"parent":null})";
  }
  return "{" + kSession +
         R"("tool_name":"mcp__warehouse__query","tool_input":{"sql":"select * from t"},)"
         R"("tool_response":[)" +
         rows + R"(],"tool_use_id":"toolu_01ABCDEF"})";
}

std::string skill_event() {
  return "{" + kSession +
         R"("tool_name":"Skill","tool_input":{"command":"zin-auth"},)"
         R"("tool_response":{"success":true,"commandName":"zin-auth"},"tool_use_id":"toolu_01A"})";
}

std::string apply_patch_event(std::size_t patch_size) {
  return R"({"session_id":"019b0c1e-7f2a-7d31-9c44-2a6e8b1f0d52","turn_id":"1",)"
         R"("transcript_path":null,"cwd":"/work/analytics","hook_event_name":"PostToolUse",)"
         R"("model":"gpt-5.5","permission_mode":"bypassPermissions","tool_name":"apply_patch",)"
         R"("tool_input":{"command":"*** Begin Patch\n*** Add File: notes.md\n+Run `zindle auth status` first.\n)" +
         repeat_to(R"(+\tlet sum = 0; // cafÃ© \"quoted\"\n)", patch_size) +
         R"(*** End Patch\n"},"tool_response":"Success. Updated the following files:\nA notes.md\n",)"
         R"("tool_use_id":"call_01"})";
}

std::string long_bash_event(std::size_t size) {
  return "{" + kSession + R"("tool_input":{"command":")" + repeat_to("echo step && ", size) +
         R"(zindle auth login","description":"Log in"},"tool_name":"Bash",)"
         R"("tool_response":{"stdout":"","stderr":"","interrupted":false},"tool_use_id":"toolu_01B"})";
}

std::string longest_kept_event(std::size_t size) {
  std::string event = "{";
  event.append(longest_members_of(Container::kEvent))
      .append(R"("tool_response":")")
      .append(repeat_to(kLine, size))
      .append(R"("})");
  return event;
}

}  // namespace tallyhook::bench
