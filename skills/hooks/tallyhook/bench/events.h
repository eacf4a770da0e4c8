#ifndef TALLYHOOK_BENCH_EVENTS_H_
#define TALLYHOOK_BENCH_EVENTS_H_

#include <cstddef>
#include <string>

namespace tallyhook::bench {

// Realistic hook events of a given size, none of them a skill use unless said.
std::string read_event();                           // a Read tool call, about 1.5 KB
std::string write_event(std::size_t content_size);  // a Write tool call: mostly one long string
                                                    // with escapes and non-ASCII text
std::string rows_event(std::size_t size);           // tool_response: an array of small objects
std::string skill_event();                          // a Skill tool call of zin-auth

}  // namespace tallyhook::bench

#endif  // TALLYHOOK_BENCH_EVENTS_H_
