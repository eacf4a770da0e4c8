#include "unicode_text.h"

namespace tallyhook {

bool is_unicode_space(char32_t cp) {
  if (cp <= 0x20) return (cp >= 0x09 && cp <= 0x0D) || cp >= 0x1C;
  if (cp < 0x85) return false;
  switch (cp) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

std::string_view fold_for_ascii_match(char32_t cp, std::string_view utf8) {
  constexpr std::string_view kLowerCase = "abcdefghijklmnopqrstuvwxyz";
  if (cp >= 'A' && cp <= 'Z') return kLowerCase.substr(cp - 'A', 1);
  if (cp == 0x212A) return "k";
  if (cp == 0x130) return "i\xCC\x87";
  return utf8;
}

}  // namespace tallyhook
