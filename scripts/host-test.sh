#!/usr/bin/env bash
# Runs the built hook under the real hosts, Claude Code and Codex CLI, offline against a scripted
# model on 127.0.0.1, with the hook configured as README.md says (docs/HOSTS.md).
#   host-test.sh                     the pinned hosts (what CI runs)
#   host-test.sh --latest            the newest releases instead: how a host change shows early
#   host-test.sh --keep-events DIR   also save each event the hosts wrote, for the replay corpus
#   host-test.sh --only TEXT         only the cases whose "host name" contains TEXT
# The hook and the stand-in zindle come from the release build (build/release, or the build
# directory in TALLYHOOK_BUILD_DIR), which scripts/test.sh builds first. The hosts are installed
# with npm into a cache outside the source tree (TALLYHOOK_HOST_CACHE, by default
# ~/.cache/tallyhook-hosts), once per version. TALLYHOOK_SKIP_HOSTS=1 skips the suite, says so,
# and exits with status 77, never 0.
set -euo pipefail
cd "$(dirname "$0")/.."

CLAUDE_PACKAGE=@anthropic-ai/claude-code
CLAUDE_VERSION=2.1.328
CODEX_PACKAGE=@openai/codex
CODEX_VERSION=0.169.0
SKIPPED=77

latest=0
runner_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --latest) latest=1 ;;
    --keep-events) runner_args+=(--keep-events "$(realpath -m "$2")"); shift ;;
    --only) runner_args+=(--only "$2"); shift ;;
    *) echo "host-test: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "${TALLYHOOK_SKIP_HOSTS:-}" = 1 ]; then
  echo "host-test: SKIPPED because TALLYHOOK_SKIP_HOSTS=1: Claude Code and Codex CLI were NOT run" >&2
  exit $SKIPPED
fi

fail() { echo "host-test: $*" >&2; exit 1; }

build=${TALLYHOOK_BUILD_DIR:-build/release}
hook=$build/skills/hooks/tallyhook/tallyhook
zindle=$build/tools/zindle/zindle
[ -x "$hook" ] && [ -x "$zindle" ] ||
  fail "no built hook in $build: build it first (cmake --preset release && cmake --build --preset release)"
command -v npm >/dev/null || fail "npm is missing: run scripts/setup.sh"
command -v python3 >/dev/null || fail "python3 is missing: run scripts/setup.sh"

if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi
cache=${TALLYHOOK_HOST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tallyhook-hosts}
mkdir -p "$cache"

# Installs PACKAGE@VERSION into its own folder of the cache, unless it is there already, and
# prints the path of its program. The folder appears only once the install is complete.
install_host() {
  local package=$1 version=$2 program=$3
  local dir=$cache/${package##*/}-$version
  if [ ! -x "$dir/node_modules/.bin/$program" ]; then
    local partial log
    partial=$(mktemp -d "$cache/.partial.XXXXXX")
    log=$cache/npm-${package##*/}-$version.log
    echo "host-test: installing $package@$version into $cache" >&2
    if ! npm install --prefix "$partial" --no-audit --no-fund --no-save --loglevel=error \
      "$package@$version" >"$log" 2>&1; then
      rm -rf "$partial"
      fail "cannot install $package@$version with npm: $(grep -m1 -i 'err' "$log" || tail -n1 "$log") (log: $log)"
    fi
    rm -rf "$dir" "$log"
    mv "$partial" "$dir"
  fi
  "$dir/node_modules/.bin/$program" --version </dev/null >/dev/null 2>&1 ||
    fail "$package@$version is installed in $dir but does not start"
  echo "$dir/node_modules/.bin/$program"
}

if [ $latest = 1 ]; then
  CLAUDE_VERSION=$(npm view "$CLAUDE_PACKAGE" version) || fail "cannot ask npm for $CLAUDE_PACKAGE's newest version"
  CODEX_VERSION=$(npm view "$CODEX_PACKAGE" version) || fail "cannot ask npm for $CODEX_PACKAGE's newest version"
fi
claude=$(install_host "$CLAUDE_PACKAGE" "$CLAUDE_VERSION" claude)
codex=$(install_host "$CODEX_PACKAGE" "$CODEX_VERSION" codex)
echo "host-test: Claude Code $CLAUDE_VERSION, Codex CLI $CODEX_VERSION, hook from $build" >&2

exec python3 skills/hooks/tallyhook/tests/hosts/run_hosts.py \
  --claude "$claude" --codex "$codex" --hook "$hook" --zindle "$zindle" --readme README.md \
  "${runner_args[@]}"
