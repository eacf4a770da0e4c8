#ifndef TALLYHOOK_TESTS_END_TO_END_FIXTURE_H_
#define TALLYHOOK_TESTS_END_TO_END_FIXTURE_H_

// What the end-to-end tests share: a sandbox with the built hook and the stand-in zindle
// side by side, a HOME of its own, and runs of the hook as an agent host makes them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "marker_name.h"
#include "test_support.h"

namespace tallyhook::testing {

namespace fs = std::filesystem;
using namespace std::string_literals;

#ifdef _WIN32
inline constexpr const char* kProgramSuffix = ".exe";
#else
inline constexpr const char* kProgramSuffix = "";
#endif

// `text` as the content of a JSON string.
inline std::string json_escaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      escaped += '\\';
      escaped += c;
    } else if (c == '\t') {
      escaped += "\\t";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

inline std::string skill_event(const std::string& name) {
  return R"({"session_id":"s1","hook_event_name":"PostToolUse","tool_name":"Skill",)"
         R"("tool_input":{"command":")" +
         name + R"("},"tool_response":{"success":true}})";
}

inline const std::string kMcpEvent =
    R"({"hook_event_name":"PostToolUse","tool_name":"mcp__zindle__query_run",)"
    R"("tool_input":{"sql":"select 1"},"tool_response":[{"type":"text","text":"1"}]})";

// A path from UTF-8 text, whatever the platform's own encoding of paths.
inline fs::path utf8_path(const std::string& text) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

class EndToEnd : public ::testing::Test {
 protected:
  EndToEnd() {
    fs::create_directories(bin());
    fs::create_directories(home());
    install_hook_and_zindle(bin());
  }

  // The hook and the stand-in zindle, side by side in `dir`.
  void install_hook_and_zindle(const fs::path& dir) const {
#ifdef _WIN32
    // Copies, with the DLLs the stand-in needs: wine makes no symbolic links.
    fs::copy_file(TALLYHOOK_BINARY, dir / "tallyhook.exe");
    for (const auto& entry : fs::directory_iterator(fs::path(ZINDLE_STANDIN).parent_path())) {
      if (entry.path().extension() == ".dll")
        fs::copy_file(entry.path(), dir / entry.path().filename());
    }
    fs::copy_file(ZINDLE_STANDIN, dir / "zindle.exe");
#else
    // Started through a link: the tool is looked for beside the link, not the target.
    fs::create_symlink(TALLYHOOK_BINARY, dir / "tallyhook");
    fs::copy_file(ZINDLE_STANDIN, dir / "zindle");
#endif
  }

  fs::path bin() const { return root_.path() / "bin"; }
  fs::path home() const { return root_.path() / "home"; }
  fs::path hook_program() const { return bin() / ("tallyhook"s + kProgramSuffix); }
  // Where the product's tool sits: as it ships, "zindle.exe" on Windows.
  fs::path zindle() const { return bin() / ("zindle"s + kProgramSuffix); }
  std::string in_home(const char* name) const { return (home() / name).string(); }
  fs::path hooks() const { return home() / ".zindle" / "hooks"; }
  fs::path marker(const std::string& skill) const {
    return hooks() / utf8_path(marker_file_name(skill));
  }
  std::vector<std::string> reported() const {
    std::vector<std::string> names;
    for (const std::string& line : read_lines(home() / ".zindle" / "usage.log")) {
      names.push_back(line.substr(line.find('\t') + 1));
    }
    return names;
  }

  testing::ProcessOptions options(std::vector<std::string> argv = {}) const {
    testing::ProcessOptions o;
    o.argv = argv.empty() ? std::vector<std::string>{hook_program().string()} : argv;
    o.env["HOME"] = home().string();
    o.output_dir = root_.path();
    return o;
  }

  // Runs the hook on one event; the hook never writes to standard output.
  ProcessResult hook(const std::string& event, const testing::ProcessOptions& o) const {
    ProcessResult result = testing::run_process(o, event);
    EXPECT_EQ(result.out, "");
    return result;
  }
  ProcessResult hook(const std::string& event) const { return hook(event, options()); }

  TempDir root_;
};

}  // namespace tallyhook::testing

#endif  // TALLYHOOK_TESTS_END_TO_END_FIXTURE_H_
