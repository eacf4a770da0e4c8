#ifndef TALLYHOOK_SUBPROCESS_H_
#define TALLYHOOK_SUBPROCESS_H_

#include <chrono>
#include <string>
#include <vector>

#include "result.h"

namespace tallyhook {

// Starts the program at argv[0] (an explicit path: no shell, no search path) with the
// arguments `argv`, its standard input inherited and its standard output and error read
// through two pipes, together, and thrown away. Waits until it has exited and both pipes
// have ended, but no longer than `time_limit` from the start. The exit status is not
// looked at.
//
// Fails when the program cannot be started, when an argument holds a NUL character, or
// when the time limit passes first: the child is then killed and reaped, or, when it has
// already ended and only something it left behind holds the pipes open, left alone. No
// descriptor of this process other than the standard three reaches the child.
Status run_discarding_output(const std::vector<std::string>& argv,
                             std::chrono::milliseconds time_limit);

}  // namespace tallyhook

#endif  // TALLYHOOK_SUBPROCESS_H_
