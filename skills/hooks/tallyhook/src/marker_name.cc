#include "marker_name.h"

#include "utf8.h"

namespace tallyhook {
namespace {

constexpr std::string_view kPrefix = ".dedup_";

void append_percent_encoded(std::string& name, char c) {
  constexpr char kHex[] = "0123456789ABCDEF";
  const auto byte = static_cast<unsigned char>(c);
  name += '%';
  name += kHex[byte >> 4];
  name += kHex[byte & 0xF];
}

bool unsafe_on_windows(char c) {
  return static_cast<unsigned char>(c) < 0x20 ||
         std::string_view("<>:\"|?*/\\").find(c) != std::string_view::npos;
}

}  // namespace

bool can_name_a_file(std::string_view skill_name) {
  const auto* p = reinterpret_cast<const unsigned char*>(skill_name.data());
  const auto* end = p + skill_name.size();
  while (p != end) {
    char32_t cp;
    const std::size_t n = decode_utf8(p, end, &cp);
    if (n == 0 || cp == 0) return false;
    p += n;
  }
  return true;
}

std::string marker_file_name(std::string_view skill_name) {
#ifdef _WIN32
  return windows_marker_file_name(skill_name);
#else
  return posix_marker_file_name(skill_name);
#endif
}

std::string posix_marker_file_name(std::string_view skill_name) {
  std::string name(kPrefix);
  if (skill_name.find_first_of("/\\") == std::string_view::npos) {
    name += skill_name;
    return name;
  }
  for (const char c : skill_name) {
    switch (c) {
      case '%':
        name += "%25";
        break;
      case '/':
        name += "%2F";
        break;
      case '\\':
        name += "%5C";
        break;
      default:
        name += c;
    }
  }
  return name;
}

std::string windows_marker_file_name(std::string_view skill_name) {
  std::string name(kPrefix);
  const bool trailing_dot_or_space =
      !skill_name.empty() && (skill_name.back() == '.' || skill_name.back() == ' ');
  bool unsafe = trailing_dot_or_space;
  for (const char c : skill_name) unsafe = unsafe || unsafe_on_windows(c);
  if (!unsafe) {
    name += skill_name;
    return name;
  }
  for (std::size_t i = 0; i < skill_name.size(); ++i) {
    const char c = skill_name[i];
    const bool last = i + 1 == skill_name.size();
    if (c == '%' || unsafe_on_windows(c) || (last && trailing_dot_or_space)) {
      append_percent_encoded(name, c);
    } else {
      name += c;
    }
  }
  return name;
}

}  // namespace tallyhook
