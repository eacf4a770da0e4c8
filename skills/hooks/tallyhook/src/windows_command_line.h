#ifndef TALLYHOOK_WINDOWS_COMMAND_LINE_H_
#define TALLYHOOK_WINDOWS_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <vector>

namespace tallyhook {

// The command line from which a Windows program's C runtime rebuilds exactly `argv` as its
// argument vector: Windows passes a program one string, not a vector. argv[0] is enclosed
// in quotes, inside which the runtime takes every character literally; each other argument
// is left as it is unless it is empty or holds white space or a quote, and then enclosed in
// quotes, with each quote escaped by a backslash and the backslashes just before a quote (or
// before the closing quote) doubled. Nothing when argv is empty or argv[0] holds a quote,
// which no file name can.
std::optional<std::string> windows_command_line(const std::vector<std::string>& argv);

}  // namespace tallyhook

#endif  // TALLYHOOK_WINDOWS_COMMAND_LINE_H_
