#!/usr/bin/env bash
# On a Mac (.github/workflows/ci.yml): checks the universal archive that scripts/package.sh made
# on Linux, where it is meant to run, with the stand-in zindle of a native build beside it.
#   check-macos-archive.sh ARCHIVE BUILD_DIR
# BUILD_DIR is a native build (cmake --preset release) holding tools/zindle/zindle.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: check-macos-archive.sh ARCHIVE BUILD_DIR" >&2; exit 2; }
archive=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
zindle=$(cd "$2" && pwd)/tools/zindle/zindle
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallyhook-macos.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { printf 'check-macos-archive: %b\n' "$*" >&2; exit 1; }
step() { echo "== $*"; }

tar -xzf "$archive" -C "$scratch"
program=$(echo "$scratch"/tallyhook-*-macos-universal/bin/tallyhook)

step "one program for both processors, signed ad hoc for Apple silicon"
archs=$(lipo -archs "$program")
[ "$(tr ' ' '\n' <<<"$archs" | sort | xargs)" = "arm64 x86_64" ] || fail "processors: $archs"
codesign --verify --verbose=2 --arch arm64 "$program"
echo "   $archs; this Mac: $(uname -m)"

# hook DIR PROGRAM EVENT: runs PROGRAM (a path, or a command run in DIR) on EVENT, with
# DIR/home as HOME; the hook must exit 0 and write nothing.
hook() {
  local dir=$1 program=$2 event=$3 out err
  mkdir -p "$dir/home"
  out=$(cd "$dir" && HOME="$dir/home" "$program" <<<"$event" 2>"$scratch/err") ||
    fail "$program exited $? on $event: $(cat "$scratch/err")"
  err=$(cat "$scratch/err")
  [ -z "$out$err" ] || fail "$program wrote: $out$err"
}
# reported DIR: the skills the stand-in recorded under DIR/home, one a line.
reported() { cut -f2 "$1/home/.zindle/usage.log" 2>/dev/null || true; }
skill() { printf '{"hook_event_name":"PostToolUse","tool_name":"Skill","tool_input":{"skill":"%s"}}' "$1"; }

step "a Skill event through the stand-in zindle beside it"
beside="$scratch/beside"
mkdir -p "$beside"
install -m 755 "$program" "$zindle" "$beside/"
hook "$beside" "$beside/tallyhook" "$(skill zin-auth)"
[ "$(reported "$beside")" = zin-auth ] || fail "reported: $(reported "$beside")"
echo "   reported zin-auth"

step "started through a symbolic link: zindle is looked for beside the link"
linked="$scratch/linked"
mkdir -p "$linked"
ln -s "$beside/tallyhook" "$linked/tallyhook"
install -m 755 "$zindle" "$linked/"
rm "$beside/zindle"
hook "$linked" "$linked/tallyhook" "$(skill zin-skills)"
[ "$(reported "$linked")" = zin-skills ] || fail "reported: $(reported "$linked")"
echo "   reported zin-skills"

step "started by a relative path"
install -m 755 "$zindle" "$beside/"
rm -rf "$beside/home"
hook "$beside" ./tallyhook "$(skill market-lens)"
[ "$(reported "$beside")" = market-lens ] || fail "reported: $(reported "$beside")"
echo "   reported market-lens"

step "two skill names that differ only in case (docs/MACOS.md)"
rm -rf "$beside/home"
hook "$beside" "$beside/tallyhook" "$(skill Zin-Auth)"
hook "$beside" "$beside/tallyhook" "$(skill zin-auth)"
markers=$(ls -A "$beside/home/.zindle/hooks" | wc -l | xargs)
if [ "$(reported "$beside" | xargs)" = "Zin-Auth" ] && [ "$markers" = 1 ]; then
  echo "   one marker for both: this volume ignores case, the second use is a repeat"
elif [ "$(reported "$beside" | xargs)" = "Zin-Auth zin-auth" ] && [ "$markers" = 2 ]; then
  echo "   a marker each: this volume tells case apart"
else
  fail "reported $(reported "$beside" | xargs), $markers markers"
fi

step "the logging library: standard error a pipe whose reader has gone"
# A FIFO opened for reading and writing, then for writing, then the first closed: what is left
# is a write end without a reader. The stand-in logs its usage error through the library there;
# SIGPIPE would end it with 141, and it must end with its usage status, 2.
mkfifo "$scratch/fifo"
exec 3<>"$scratch/fifo" 4>"$scratch/fifo"
exec 3<&-
status=0
"$zindle" 2>&4 || status=$?
exec 4>&-
[ "$status" = 2 ] || fail "the stand-in ended with $status, not 2"
echo "   the record was dropped and the program went on (status 2)"

echo "== the macOS archive passed"
