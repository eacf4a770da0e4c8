#!/usr/bin/env bash
# Builds the hook and the stand-in zindle, installs them side by side in a scratch folder,
# and replays an agent session through the installed hook exactly as a host does: one
# process per tool call, the hook event on standard input, here with a scratch HOME.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh demo

echo "== building (release, without the tests)"
cmake --preset demo >/dev/null
cmake --build --preset demo --target tallyhook zindle >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallyhook-demo.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"
export HOME="$scratch/home"
mkdir -p "$HOME"
cmake --install build/demo --prefix "$prefix" --component tallyhook >/dev/null
cp build/demo/tools/zindle/zindle "$prefix/bin/zindle"  # the product's tool sits beside the hook
echo "   installed $prefix/bin/tallyhook, with zindle beside it; HOME=$HOME"
echo

source scripts/demo-events.sh
log="$HOME/.zindle/usage.log"

printf '%-34s %-5s %s\n' "event" "exit" "outcome"
printf '%-34s %-5s %s\n' "-----" "----" "-------"
for entry in "${events[@]}"; do
  label=${entry%%|*}; rest=${entry#*|}; expected=${rest%%|*}; event=${rest#*|}
  replay_event "$scratch" "$expected" "$event" "$prefix/bin/tallyhook"
  printf '%-34s %-5s %s\n' "$label" "$status" "$outcome"
done

echo
echo "== $log (written by the stand-in zindle)"
cat "$log"
echo
echo "== markers in $HOME/.zindle/hooks"
ls -A "$HOME/.zindle/hooks"
