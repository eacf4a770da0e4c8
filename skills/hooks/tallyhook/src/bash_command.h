#ifndef TALLYHOOK_BASH_COMMAND_H_
#define TALLYHOOK_BASH_COMMAND_H_

#include <array>
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

}  // namespace tallyhook

#endif  // TALLYHOOK_BASH_COMMAND_H_
