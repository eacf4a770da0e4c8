#include "events.h"

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
