# The demonstration's agent session (Claude Code's events, some of the other hosts' among them),
# replayed by scripts/demo.sh through a freshly built hook and by scripts/check-packages.sh
# through the packaged one. Sourced, with HOME set: the events name paths under it, and the
# stand-in zindle logs to $HOME/.zindle/usage.log.

session='"session_id":"5d0c8f9e-2b1a-4c77-9a61-0f3e2d8b7c41","transcript_path":"'$HOME'/.claude/projects/demo/5d0c8f9e.jsonl","cwd":"/work/analytics","hook_event_name":"PostToolUse"'

# label | outcome (up to any colon) | event
events=(
  "Read a file|ignored|{$session,\"tool_name\":\"Read\",\"tool_input\":{\"file_path\":\"/work/analytics/README.md\"},\"tool_response\":{\"type\":\"text\",\"file\":{\"filePath\":\"/work/analytics/README.md\",\"content\":\"# Analytics\\\\n\",\"numLines\":1}},\"tool_use_id\":\"toolu_01A\"}"
  "Skill, older shape (command)|reported zin-skills|{$session,\"tool_name\":\"Skill\",\"tool_input\":{\"command\":\"zin-skills\"},\"tool_response\":{\"success\":true,\"commandName\":\"zin-skills\"},\"tool_use_id\":\"toolu_01B\"}"
  "Skill, newer shape (skill)|reported market-lens|{$session,\"tool_name\":\"Skill\",\"tool_input\":{\"skill\":\"market-lens\",\"args\":\"run --scenario churn\"},\"tool_response\":{\"success\":true},\"tool_use_id\":\"toolu_01C\"}"
  "MCP mcp__zindle__query_run|reported zin-dataset-query|{$session,\"tool_name\":\"mcp__zindle__query_run\",\"tool_input\":{\"dataset\":\"sales\",\"sql\":\"select region, sum(amount) from orders group by 1\"},\"tool_response\":[{\"type\":\"text\",\"text\":\"3 rows\"}],\"tool_use_id\":\"toolu_01D\"}"
  "Gemini: mcp_zindle_feedback_submit|reported zin-feedback|{\"session_id\":\"09afeade-d294-46fd-b7cc-d601f4cbd19d\",\"cwd\":\"/work/analytics\",\"hook_event_name\":\"AfterTool\",\"tool_name\":\"mcp_zindle_feedback_submit\",\"tool_input\":{\"rating\":5,\"text\":\"Works.\"},\"tool_response\":{\"llmContent\":[{\"text\":\"thanks\"}]},\"mcp_context\":{\"server_name\":\"zindle\",\"tool_name\":\"feedback_submit\"}}"
  "Copilot: bash zindle auth login|reported zin-auth|{\"sessionId\":\"ea6fb271-ddcf-4bfd-8160-540494307730\",\"timestamp\":1796833034213,\"cwd\":\"/work/analytics\",\"toolName\":\"bash\",\"toolArgs\":{\"command\":\"zindle auth login\"},\"toolResult\":{\"resultType\":\"success\",\"textResultForLlm\":\"Logged in.\"}}"
  "Qwen: zindle auth status (again)|suppressed (same skill within 30 s)|{$session,\"tool_name\":\"run_shell_command\",\"tool_input\":{\"command\":\"zindle auth status\"},\"tool_response\":{\"llmContent\":\"ok\"},\"tool_use_id\":\"call_01G\"}"
  "Typed /zindle:zin-auth status|reported zindle|{\"session_id\":\"5d0c8f9e-2b1a-4c77-9a61-0f3e2d8b7c41\",\"cwd\":\"/work/analytics\",\"hook_event_name\":\"UserPromptExpansion\",\"expansion_type\":\"slash_command\",\"command_name\":\"zindle:zin-auth\",\"command_args\":\"status\",\"prompt\":\"/zindle:zin-auth status\"}"
  "Typed /init (a built-in command)|ignored|{\"session_id\":\"5d0c8f9e-2b1a-4c77-9a61-0f3e2d8b7c41\",\"cwd\":\"/work/analytics\",\"hook_event_name\":\"UserPromptExpansion\",\"expansion_type\":\"slash_command\",\"command_name\":\"init\",\"command_args\":\"\",\"command_source\":\"builtin\",\"prompt\":\"/init\"}"
  "Malformed event|ignored|{\"tool_name\":\"Bash\",\"tool_input\":"
  "Not an object|rejected|[\"tool_name\",\"Skill\"]"
)

# replay_event SCRATCH EXPECTED EVENT HOOK...: runs the hook (a path, or an emulator and a path)
# on one event as a host does, and sets status and outcome: "reported NAME", "suppressed (...)",
# "ignored", "rejected: DIAGNOSTIC" or "WROTE TO STDOUT (a bug)". A run that reports nothing and
# exits 0 counts as suppressed where a skill was used (EXPECTED is not "ignored"): the two look
# the same from outside. SCRATCH takes the hook's output.
replay_event() {
  local scratch=$1 expected=$2 event=$3 before after
  shift 3
  before=$(usage_reports)
  set +e
  printf '%s' "$event" | "$@" >"$scratch/out" 2>"$scratch/err"
  status=$?
  set -e
  after=$(usage_reports)
  if [ -s "$scratch/out" ]; then outcome="WROTE TO STDOUT (a bug)"
  elif [ "$after" -gt "$before" ]; then outcome="reported $(tail -n 1 "$HOME/.zindle/usage.log" | cut -f 2)"
  elif [ "$status" -ne 0 ]; then outcome="rejected: $(cat "$scratch/err")"
  elif [ "$expected" != ignored ]; then outcome="suppressed (same skill within 30 s)"
  else outcome="ignored"
  fi
}

usage_reports() {
  if [ -f "$HOME/.zindle/usage.log" ]; then wc -l <"$HOME/.zindle/usage.log"; else echo 0; fi
}
