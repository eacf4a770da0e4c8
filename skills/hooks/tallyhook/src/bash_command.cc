#include "bash_command.h"

#include "unicode_text.h"
#include "utf8.h"

namespace tallyhook {
namespace {

constexpr std::string_view kProductWord = "zindle";

std::optional<std::string_view> skill_of(std::string_view subcommand) {
  for (const auto& [key, skill] : BASH_ZINDLE_TO_SKILL) {
    if (subcommand == key) return skill;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string_view> _resolve_bash_zindle_command(std::string_view command) {
  ZindleCommandScanner scanner;
  scanner.feed(command);
  return scanner.finish();
}

void ZindleCommandScanner::feed(std::string_view piece) {
  const auto* p = reinterpret_cast<const unsigned char*>(piece.data());
  const auto* end = p + piece.size();
  while (p != end && state_ != State::kDecided) {
    if (state_ == State::kSeekingTool && matched_ == 0 && !names_tool_) {
      // Until a "z" (no other character folds to it) no word can name the tool, and the
      // words passed over leave nothing to remember: skip them without decoding.
      while (p != end && (*p | 0x20) != 'z') ++p;
      if (p == end) break;
    }
    char32_t cp = *p;
    std::size_t n = *p < 0x80 ? 1 : decode_utf8(p, end, &cp);
    const bool utf8 = n != 0;
    if (!utf8) n = 1;  // a byte that is not UTF-8: a word character, as it is
    const std::string_view bytes(reinterpret_cast<const char*>(p), n);
    take(utf8 && is_unicode_space(cp), utf8 ? fold_for_ascii_match(cp, bytes) : bytes);
    p += n;
  }
}

void ZindleCommandScanner::take(bool space, std::string_view folded) {
  switch (state_) {
    case State::kBeforeFirstWord:
      if (space) return;
      // One pair of quotes around the whole command is taken off: only the subcommand's
      // reading can change by it, when it is the last word (see end_subcommand).
      if (folded[0] == '"' || folded[0] == '\'')
        opening_quote_ = static_cast<unsigned char>(folded[0]);
      state_ = State::kSeekingTool;
      [[fallthrough]];
    case State::kSeekingTool:
      if (space) {
        if (in_word_ && names_tool_) state_ = State::kAfterTool;
        in_word_ = false;
        return;
      }
      if (!in_word_) {
        in_word_ = true;
        names_tool_ = false;
        matched_ = 0;
      }
      for (const char c : folded) {
        if (c == '/' || c == '\\') {  // a new path component
          names_tool_ = false;
          matched_ = 0;
        } else if (!names_tool_) {
          // No prefix of "zindle" recurs inside it, so a mismatch restarts the match.
          matched_ = c == kProductWord[matched_] ? matched_ + 1 : (c == kProductWord[0] ? 1 : 0);
          names_tool_ = matched_ == kProductWord.size();
        }
      }
      return;
    case State::kAfterTool:
      if (space) return;
      state_ = State::kInSubcommand;
      [[fallthrough]];
    case State::kInSubcommand:
      if (space) return end_subcommand();
      for (const char c : folded) {
        if (subcommand_size_ < subcommand_.size()) subcommand_[subcommand_size_] = c;
        ++subcommand_size_;
      }
      return;
    case State::kClosingQuote:
      if (!space) {  // a later word: the quote was the subcommand's own
        skill_.reset();
        state_ = State::kDecided;
      }
      return;
    case State::kDecided:
      return;
  }
}

void ZindleCommandScanner::end_subcommand() {
  state_ = State::kDecided;
  if (subcommand_size_ > subcommand_.size()) return;
  const std::string_view word(subcommand_.data(), subcommand_size_);
  skill_ = skill_of(word);
  // `auth"` in `"zindle auth"`: the quote closes the command if nothing follows it.
  if (!skill_ && opening_quote_ != 0 && !word.empty() &&
      static_cast<unsigned char>(word.back()) == opening_quote_) {
    skill_ = skill_of(word.substr(0, word.size() - 1));
    if (skill_) state_ = State::kClosingQuote;
  }
}

std::optional<std::string_view> ZindleCommandScanner::finish() {
  if (state_ == State::kInSubcommand) end_subcommand();
  return state_ == State::kAfterTool ? std::nullopt : skill_;
}

}  // namespace tallyhook
