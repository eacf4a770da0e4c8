#include "hook.h"

#include "dedup.h"
#include "marker_name.h"
#include "report.h"
#include "skill_resolver.h"

namespace tallyhook {

HookSteps system_steps() { return HookSteps{_is_duplicate, _report_usage}; }

HookOutcome handle_event(const std::optional<HookEvent>& data, const HookSteps& steps) {
  if (!data) return {};

  const Result<std::optional<std::string>> skill_name = _resolve_skill_name(*data);
  if (!skill_name.ok()) return {1, skill_name.error().message};
  if (!skill_name.value() || skill_name.value()->empty()) return {};
  const std::string& name = *skill_name.value();
  // A name with a NUL or a lone surrogate can be neither a marker nor the tool's argument.
  if (!can_name_a_file(name)) return {};

  const Result<bool> duplicate = steps.is_duplicate(name);
  if (!duplicate.ok()) return {1, duplicate.error().message};
  if (duplicate.value()) return {};

  // A lost report is not worth disturbing the host for.
  (void)steps.report_usage(name);
  return {};
}

}  // namespace tallyhook
