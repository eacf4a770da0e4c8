#include "events.h"

namespace tallyhook::bench {
namespace {

const std::string kSession =
    R"("session_id":"5d0c8f9e-2b1a-4c77-9a61-0f3e2d8b7c41",)"
    R"("transcript_path":"/home/dev/.claude/projects/-work-analytics/5d0c8f9e.jsonl",)"
    R"("cwd":"/work/analytics","permission_mode":"default","hook_event_name":"PostToolUse",)";

// Source text as it appears inside a JSON string: escaped quotes, newlines, tabs, and some
// non-ASCII prose.
const std::string kLine =
    R"(    if (row.name == \"caf\u00e9\") {\n\t  total += row.amount; // na\u00efve sum \u2014 )"
    "\xe6\x9d\xb1\xe4\xba\xac \xf0\x9f\x98\x80 "
    R"(r\u00e9sum\u00e9\n    }\n)";

std::string repeat_to(const std::string& unit, std::size_t size) {
  std::string text;
  text.reserve(size + unit.size());
  while (text.size() < size) text += unit;
  return text;
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

}  // namespace tallyhook::bench
