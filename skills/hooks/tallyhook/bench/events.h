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
// Codex's apply_patch: the whole patch in tool_input.command, which mentions the product's
// tool without running it.
std::string apply_patch_event(std::size_t patch_size);
// A Bash command line of about `size` bytes that runs `zindle auth login` at its end, with
// tool_input written before tool_name.
std::string long_bash_event(std::size_t size);
// Every member whose text the hook keeps at the longest it keeps, around a tool_response of
// `size` bytes: the most memory an event can make the hook hold.
std::string longest_kept_event(std::size_t size);

}  // namespace tallyhook::bench

#endif  // TALLYHOOK_BENCH_EVENTS_H_
