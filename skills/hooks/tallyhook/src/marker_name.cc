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

// "%" is encoded in every name, not only in those that need encoding otherwise: then every
// "%" of a marker starts an escape, the marker decodes back to exactly one name, and no name
// can be written as another's marker is (`x%2Fy` and `x/y`).
std::string posix_marker_file_name(std::string_view skill_name) {
  std::string name(kPrefix);
  for (const char c : skill_name) {
    if (c == '%' || c == '/' || c == '\\') {
      append_percent_encoded(name, c);
    } else {
      name += c;
    }
  }
  return name;
}

std::string windows_marker_file_name(std::string_view skill_name) {
  std::string name(kPrefix);
  for (std::size_t i = 0; i < skill_name.size(); ++i) {
    const char c = skill_name[i];
    const bool dropped_at_the_end = i + 1 == skill_name.size() && (c == '.' || c == ' ');
    if (c == '%' || unsafe_on_windows(c) || dropped_at_the_end) {
      append_percent_encoded(name, c);
    } else {
      name += c;
    }
  }
  return name;
}

}  // namespace tallyhook
