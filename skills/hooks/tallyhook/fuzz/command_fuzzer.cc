// Any bytes as a shell command line: the recogniser answers nothing or a skill of its table,
// the same whether the line comes whole or in pieces, and on UTF-8 text the same as a
// literal, code-point-by-code-point reading of the rules.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bash_command.h"
#include "fuzz_check.h"
#include "unicode_text.h"
#include "utf8.h"

namespace {

using tallyhook::BASH_ZINDLE_TO_SKILL;

std::optional<std::u32string> decode(std::string_view text) {
  std::u32string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p != end) {
    char32_t cp;
    const std::size_t n = tallyhook::decode_utf8(p, end, &cp);
    if (n == 0) return std::nullopt;
    out.push_back(cp);
    p += n;
  }
  return out;
}

// Lower case as far as a comparison with ASCII can see: the two non-ASCII code points whose
// lower case holds ASCII, and ASCII itself.
std::u32string lower(const std::u32string& s) {
  std::u32string out;
  for (const char32_t c : s) {
    if (c >= U'A' && c <= U'Z') {
      out.push_back(c - U'A' + U'a');
    } else if (c == 0x212A) {
      out.push_back(U'k');
    } else if (c == 0x130) {
      out += U"i\u0307";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::optional<std::string_view> literal_reading(const std::u32string& command) {
  std::u32string cmd = command;
  while (!cmd.empty() && tallyhook::is_unicode_space(cmd.front())) cmd.erase(0, 1);
  while (!cmd.empty() && tallyhook::is_unicode_space(cmd.back())) cmd.pop_back();
  if (!cmd.empty() && (cmd.front() == U'"' || cmd.front() == U'\'') && cmd.back() == cmd.front()) {
    cmd = cmd.size() < 2 ? U"" : cmd.substr(1, cmd.size() - 2);
  }
  std::vector<std::u32string> parts;
  std::u32string word;
  for (const char32_t c : cmd + U" ") {
    if (tallyhook::is_unicode_space(c)) {
      if (!word.empty()) parts.push_back(word);
      word.clear();
    } else {
      word.push_back(c);
    }
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::u32string base = parts[i];
    for (char32_t& c : base) {
      if (c == U'\\') c = U'/';
    }
    base = base.substr(base.rfind(U'/') == std::u32string::npos ? 0 : base.rfind(U'/') + 1);
    if (lower(base).find(U"zindle") == std::u32string::npos) continue;
    if (i + 1 == parts.size()) return std::nullopt;
    const std::u32string subcommand = lower(parts[i + 1]);
    for (const auto& [key, skill] : BASH_ZINDLE_TO_SKILL) {
      if (subcommand == std::u32string(key.begin(), key.end())) return skill;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string_view> skill = tallyhook::_resolve_bash_zindle_command(text);
  if (skill) {
    bool in_table = false;
    for (const auto& [key, value] : BASH_ZINDLE_TO_SKILL) in_table |= value == *skill;
    FUZZ_CHECK(in_table);
  }
  // Fed in pieces cut between UTF-8 sequences, as the event parser feeds it: the same answer.
  tallyhook::ZindleCommandScanner scanner;
  const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t piece = 0;
  for (std::size_t at = 0; at < size;) {
    char32_t cp;
    at += std::max<std::size_t>(1, tallyhook::decode_utf8(begin + at, begin + size, &cp));
    if (at == size || data[at] % 3 == 0) {
      scanner.feed(text.substr(piece, at - piece));
      piece = at;
    }
  }
  FUZZ_CHECK(scanner.finish() == skill);
  if (const std::optional<std::u32string> code_points = decode(text)) {
    FUZZ_CHECK(literal_reading(*code_points) == skill);
  }
  return 0;
}
