#include "bash_command.h"

#include <string>

#include "unicode_text.h"
#include "utf8.h"

namespace tallyhook {
namespace {

constexpr std::string_view kProductWord = "zindle";

// Walks through text by code point, telling white space from the rest.
class CodePoints {
 public:
  explicit CodePoints(std::string_view text)
      : begin_(reinterpret_cast<const unsigned char*>(text.data())),
        p_(begin_),
        end_(begin_ + text.size()) {}

  bool done() const { return p_ == end_; }
  std::size_t offset() const { return static_cast<std::size_t>(p_ - begin_); }

  // Steps over one code point (or one byte that is not UTF-8, which is never white space)
  // and says whether it was white space.
  bool next_is_space() {
    char32_t cp;
    std::size_t n = decode_utf8(p_, end_, &cp);
    const bool space = n != 0 && is_unicode_space(cp);
    p_ += n == 0 ? 1 : n;
    return space;
  }

 private:
  const unsigned char* begin_;
  const unsigned char* p_;
  const unsigned char* end_;
};

std::string_view trim(std::string_view text) {
  std::size_t first = text.size();
  std::size_t last = 0;
  CodePoints cps(text);
  while (!cps.done()) {
    const std::size_t start = cps.offset();
    if (!cps.next_is_space()) {
      if (first == text.size()) first = start;
      last = cps.offset();
    }
  }
  return first == text.size() ? std::string_view() : text.substr(first, last - first);
}

std::string_view unwrap_quotes(std::string_view cmd) {
  if (cmd.empty()) return cmd;
  const char q = cmd.front();
  if ((q != '"' && q != '\'') || cmd.back() != q) return cmd;
  return cmd.size() < 2 ? std::string_view() : cmd.substr(1, cmd.size() - 2);
}

// Hands out the words of a text one by one: maximal runs of non-white-space.
class Words {
 public:
  explicit Words(std::string_view text) : text_(text), cps_(text) {}

  std::optional<std::string_view> next() {
    std::size_t start;
    do {
      if (cps_.done()) return std::nullopt;
      start = cps_.offset();
    } while (cps_.next_is_space());
    while (!cps_.done()) {
      const std::size_t before = cps_.offset();
      if (cps_.next_is_space()) return text_.substr(start, before - start);
    }
    return text_.substr(start);
  }

 private:
  std::string_view text_;
  CodePoints cps_;
};

bool names_product(std::string_view word) {
  const std::size_t slash = word.find_last_of("/\\");
  const std::string_view base = slash == std::string_view::npos ? word : word.substr(slash + 1);
  return fold_case_for_ascii_match(base).find(kProductWord) != std::string::npos;
}

}  // namespace

std::optional<std::string_view> _resolve_bash_zindle_command(std::string_view command) {
  Words words(unwrap_quotes(trim(command)));
  while (std::optional<std::string_view> word = words.next()) {
    if (!names_product(*word)) continue;
    const std::optional<std::string_view> subcommand = words.next();
    if (!subcommand) return std::nullopt;
    const std::string key = fold_case_for_ascii_match(*subcommand);
    for (const auto& [word_key, skill] : BASH_ZINDLE_TO_SKILL) {
      if (key == word_key) return skill;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace tallyhook
