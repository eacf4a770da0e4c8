#ifndef TALLYHOOK_BASH_COMMAND_H_
#define TALLYHOOK_BASH_COMMAND_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace tallyhook {

// Subcommands of the product's command-line tool that belong to a skill. Keys are lower
// case; "feedback" and "market-lens" are deliberately absent.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 4> BASH_ZINDLE_TO_SKILL =
    {{
        {"auth", "zin-auth"},
        {"query", "zin-dataset-query"},
        {"skills", "zin-skills"},
        {"mcp", "zin-skills"},
    }};

// Recognises a run of the product's command-line tool in a shell command line and returns
// the skill its subcommand belongs to, or nothing. Purely lexical: the first word whose
// last path component contains "zindle" (any case) names the tool, and the word right
// after it must be a key of BASH_ZINDLE_TO_SKILL (any case). The command is trimmed of
// Unicode white space and of one enclosing pair of matching quotes first, then split at
// runs of Unicode white space; quotes and shell operators have no special meaning.
// Accepts any bytes; text that is not UTF-8 simply matches nothing it should not.
std::optional<std::string_view> _resolve_bash_zindle_command(std::string_view command);

// The same reading of a command line that arrives piece by piece, as a long one does from
// the event: it keeps a few bytes of state, never the text, and stops looking once the
// first word naming the tool has decided.
class ZindleCommandScanner {
 public:
  // The next piece of the command line. A piece ends only where a UTF-8 sequence ends (or
  // after a byte that starts none), as the event parser cuts a string's text.
  void feed(std::string_view piece);
  // What the whole command line names, once every piece has been fed.
  std::optional<std::string_view> finish();
  // Whether the answer is fixed, whatever more is fed.
  bool decided() const { return state_ == State::kDecided; }

 private:
  enum class State : std::uint8_t {
    kBeforeFirstWord,
    kSeekingTool,   // in or between words, none of them naming the tool yet
    kAfterTool,     // the tool's word has ended; its subcommand is due
    kInSubcommand,  // the word after the tool's
    kClosingQuote,  // the subcommand matched with the opening quote after it: it must be last
    kDecided,
  };

  void take(bool space, std::string_view folded);
  void end_subcommand();

  State state_ = State::kBeforeFirstWord;
  bool in_word_ = false;
  unsigned char opening_quote_ = 0;  // the command's first character, when it is a quote
  // The current path component, folded, holds "zindle": its first `matched_` letters are
  // the last ones seen.
  bool names_tool_ = false;
  std::uint8_t matched_ = 0;
  // The subcommand, folded; longer than any key and a quote, it matches none.
  std::array<char, 8> subcommand_{};
  std::size_t subcommand_size_ = 0;
  std::optional<std::string_view> skill_;
};

}  // namespace tallyhook

#endif  // TALLYHOOK_BASH_COMMAND_H_
