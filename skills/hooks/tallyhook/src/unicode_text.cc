#include "unicode_text.h"

#include "utf8.h"

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

std::string fold_case_for_ascii_match(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p != end) {
    char32_t cp;
    std::size_t n = decode_utf8(p, end, &cp);
    if (n == 0) {  // not UTF-8: the byte stays as it is
      n = 1;
      cp = 0xFFFD;
    }
    if (cp >= 'A' && cp <= 'Z' && n == 1) {
      folded.push_back(static_cast<char>(cp - 'A' + 'a'));
    } else if (cp == 0x212A && n == 3) {
      folded.push_back('k');
    } else if (cp == 0x130 && n == 2) {
      folded += "i\xCC\x87";
    } else {
      folded.append(reinterpret_cast<const char*>(p), n);
    }
    p += n;
  }
  return folded;
}

}  // namespace tallyhook
