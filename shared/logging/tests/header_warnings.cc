// Compiled by check_header_warnings.cmake at every optimisation level, warnings as errors: what a
// program that logs these arguments gets from the header. (GCC 12 at -O1 once warned about a
// narrow integer, -Wstringop-overread, in the caller's own build.)
#include <zindle/logging.h>

#include <cstdint>
#include <string>
#include <string_view>

void log_each_kind(zindle::logging::Logger& log, std::uint8_t u8, std::int8_t i8, unsigned short us,
                   short s, char c, bool b, long long ll, unsigned long long ull, double d,
                   const std::string& text, std::string_view view, const char* pointer) {
  log.warning("{}", u8);
  log.warning("{} {}", i8, us);
  log.warning("{}|{}|{}", s, c, b);
  log.warning("{} {}", ll, ull);
  log.warning("{} {} {} {}", d, text, view, pointer);
  log.warning("[{}]", "array");
  log.warning("plain text, {} braces kept");
}
