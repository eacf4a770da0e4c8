#!/usr/bin/env bash
# Builds the hook and the stand-in zindle, installs them side by side in a scratch folder,
# and replays an agent session through the installed hook exactly as a host does: one
# process per tool call, the hook event on standard input, here with a scratch HOME.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

echo "== building (release)"
cmake --preset release >/dev/null
cmake --build --preset release --target tallyhook zindle >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallyhook-demo.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"
export HOME="$scratch/home"
mkdir -p "$HOME"
cmake --install build/release --prefix "$prefix" --component tallyhook >/dev/null
cp build/release/tools/zindle/zindle "$prefix/bin/zindle"  # the product's tool sits beside the hook
echo "   installed $prefix/bin/tallyhook, with zindle beside it; HOME=$HOME"
echo

session='"session_id":"5d0c8f9e-2b1a-4c77-9a61-0f3e2d8b7c41","transcript_path":"'$HOME'/.claude/projects/demo/5d0c8f9e.jsonl","cwd":"/work/analytics","hook_event_name":"PostToolUse"'
log="$HOME/.zindle/usage.log"
reports() { if [ -f "$log" ]; then wc -l <"$log"; else echo 0; fi; }

# label | whether it uses a skill | event
events=(
  "Read a file|no|{$session,\"tool_name\":\"Read\",\"tool_input\":{\"file_path\":\"/work/analytics/README.md\"},\"tool_response\":{\"type\":\"text\",\"file\":{\"filePath\":\"/work/analytics/README.md\",\"content\":\"# Analytics\\\\n\",\"numLines\":1}},\"tool_use_id\":\"toolu_01A\"}"
  "Skill, older shape (command)|yes|{$session,\"tool_name\":\"Skill\",\"tool_input\":{\"command\":\"zin-skills\"},\"tool_response\":{\"success\":true,\"commandName\":\"zin-skills\"},\"tool_use_id\":\"toolu_01B\"}"
  "Skill, newer shape (skill)|yes|{$session,\"tool_name\":\"Skill\",\"tool_input\":{\"skill\":\"market-lens\",\"args\":\"run --scenario churn\"},\"tool_response\":{\"success\":true},\"tool_use_id\":\"toolu_01C\"}"
  "MCP mcp__zindle__query_run|yes|{$session,\"tool_name\":\"mcp__zindle__query_run\",\"tool_input\":{\"dataset\":\"sales\",\"sql\":\"select region, sum(amount) from orders group by 1\"},\"tool_response\":[{\"type\":\"text\",\"text\":\"3 rows\"}],\"tool_use_id\":\"toolu_01D\"}"
  "MCP mcp__zindle__feedback_submit|yes|{$session,\"tool_name\":\"mcp__zindle__feedback_submit\",\"tool_input\":{\"rating\":5,\"text\":\"Works.\"},\"tool_response\":[{\"type\":\"text\",\"text\":\"thanks\"}],\"tool_use_id\":\"toolu_01E\"}"
  "Bash: zindle auth login|yes|{$session,\"tool_name\":\"Bash\",\"tool_input\":{\"command\":\"zindle auth login\",\"description\":\"Log in\"},\"tool_response\":{\"stdout\":\"Logged in.\",\"stderr\":\"\",\"interrupted\":false},\"tool_use_id\":\"toolu_01F\"}"
  "Bash: zindle auth status (again)|yes|{$session,\"tool_name\":\"Bash\",\"tool_input\":{\"command\":\"zindle auth status\"},\"tool_response\":{\"stdout\":\"ok\",\"stderr\":\"\",\"interrupted\":false},\"tool_use_id\":\"toolu_01G\"}"
  "Malformed event|no|{\"tool_name\":\"Bash\",\"tool_input\":"
  "Not an object|no|[\"tool_name\",\"Skill\"]"
)

printf '%-34s %-5s %s\n' "event" "exit" "outcome"
printf '%-34s %-5s %s\n' "-----" "----" "-------"
for entry in "${events[@]}"; do
  label=${entry%%|*}; rest=${entry#*|}; skill_use=${rest%%|*}; event=${rest#*|}
  before=$(reports)
  set +e
  printf '%s' "$event" | "$prefix/bin/tallyhook" >"$scratch/out" 2>"$scratch/err"
  status=$?
  set -e
  after=$(reports)
  if [ -s "$scratch/out" ]; then outcome="WROTE TO STDOUT (a bug)"
  elif [ "$after" -gt "$before" ]; then outcome="reported $(tail -n 1 "$log" | cut -f 2)"
  elif [ "$status" -ne 0 ]; then outcome="rejected: $(cat "$scratch/err")"
  elif [ "$skill_use" = yes ]; then outcome="suppressed (same skill within 30 s)"
  else outcome="ignored"
  fi
  printf '%-34s %-5s %s\n' "$label" "$status" "$outcome"
done

echo
echo "== $log (written by the stand-in zindle)"
cat "$log"
echo
echo "== markers in $HOME/.zindle/hooks"
ls -A "$HOME/.zindle/hooks"
