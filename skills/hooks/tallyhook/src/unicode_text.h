#ifndef TALLYHOOK_UNICODE_TEXT_H_
#define TALLYHOOK_UNICODE_TEXT_H_

#include <string_view>

namespace tallyhook {

// The 29 code points of Unicode's White_Space class as text splitting uses it: U+0009 to
// U+000D, U+001C to U+001F, U+0020, U+0085, U+00A0, U+1680, U+2000 to U+200A, U+2028,
// U+2029, U+202F, U+205F and U+3000. Nothing else (not U+200B, U+FEFF or U+180E).
bool is_unicode_space(char32_t cp);

// The lower case of the code point `cp`, whose UTF-8 encoding is `utf8`, for comparison
// with ASCII keys, independent of any locale. It equals the full Unicode lower-case mapping
// in everything such a comparison can see: ASCII letters fold, U+212A KELVIN SIGN becomes
// "k", U+0130 becomes "i" followed by U+0307, and every other character (whose lower case
// is never ASCII) stays `utf8`. The result is `utf8` or static text.
std::string_view fold_for_ascii_match(char32_t cp, std::string_view utf8);

}  // namespace tallyhook

#endif  // TALLYHOOK_UNICODE_TEXT_H_
