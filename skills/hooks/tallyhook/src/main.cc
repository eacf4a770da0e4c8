// tallyhook: a PostToolUse hook for agent hosts. Reads one hook event on standard input
// and reports the use of one of the product's skills; see README.md.
#include "hook.h"
#include "standard_streams.h"

int main() {
  tallyhook::prepare_standard_streams();
  tallyhook::StandardInput input;
  const std::optional<tallyhook::HookEvent> data = tallyhook::parse_hook_event(input);
  input.drain();
  const tallyhook::HookOutcome outcome = tallyhook::handle_event(data, tallyhook::system_steps());
  if (!outcome.diagnostic.empty()) {
    tallyhook::write_standard_error("tallyhook: " + outcome.diagnostic + "\n");
  }
  return outcome.exit_status;
}
