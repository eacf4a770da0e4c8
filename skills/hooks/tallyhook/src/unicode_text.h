#ifndef TALLYHOOK_UNICODE_TEXT_H_
#define TALLYHOOK_UNICODE_TEXT_H_

#include <string>
#include <string_view>

namespace tallyhook {

// The 29 code points of Unicode's White_Space class as text splitting uses it: U+0009 to
// U+000D, U+001C to U+001F, U+0020, U+0085, U+00A0, U+1680, U+2000 to U+200A, U+2028,
// U+2029, U+202F, U+205F and U+3000. Nothing else (not U+200B, U+FEFF or U+180E).
bool is_unicode_space(char32_t cp);

// Lower-cases UTF-8 text for comparison with ASCII keys, independent of any locale. The
// result equals the full Unicode lower-case mapping in everything such a comparison can
// see: ASCII letters fold, U+212A KELVIN SIGN becomes "k", U+0130 becomes "i" followed by
// U+0307, and every other non-ASCII character (whose lower case is never ASCII) and any
// byte that is not valid UTF-8 is copied unchanged.
std::string fold_case_for_ascii_match(std::string_view text);

}  // namespace tallyhook

#endif  // TALLYHOOK_UNICODE_TEXT_H_
