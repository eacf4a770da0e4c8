#ifndef TALLYHOOK_HOOK_H_
#define TALLYHOOK_HOOK_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "hook_event.h"
#include "result.h"

namespace tallyhook {

// The two steps of a run that reach outside the process, replaceable for tests.
struct HookSteps {
  std::function<Result<bool>(std::string_view skill_name)> is_duplicate;
  std::function<Status(std::string_view skill_name)> report_usage;
};

// The real steps: the marker files under the home directory and the product's tool.
HookSteps system_steps();

struct HookOutcome {
  int exit_status = 0;
  std::string diagnostic;  // for standard error; empty on every status-0 path
};

// One run of the hook on one parsed event (nothing when the input was no JSON text):
// resolve the skill, skip a repeat, report. Input that was no JSON text, an event without a
// skill, a name that can name no file (see can_name_a_file), a repeat and any failure of the
// report all end quietly with status 0. A document
// that is not an object, a member of the wrong kind, and an unknown home directory end
// with status 1 and a diagnostic.
HookOutcome handle_event(const std::optional<HookEvent>& data, const HookSteps& steps);

}  // namespace tallyhook

#endif  // TALLYHOOK_HOOK_H_
