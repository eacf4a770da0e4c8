#!/usr/bin/env bash
# Runs the built hook under the real hosts (Claude Code, Codex CLI, Gemini CLI, Qwen Code,
# GitHub Copilot CLI and OpenCode), offline against a scripted model on 127.0.0.1, with the hook
# configured as README.md says (docs/HOSTS.md).
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

# key | npm package | pinned version | program
HOSTS=(
  "claude|@anthropic-ai/claude-code|2.1.328|claude"
  "codex|@openai/codex|0.169.0|codex"
  "gemini|@google/gemini-cli|0.61.0|gemini"
  "qwen|@qwen-code/qwen-code|0.24.4|qwen"
  "copilot|@github/copilot|1.0.102|copilot"
  "opencode|opencode-ai|1.18.33|opencode"
)
# For a host whose package asks for a newer Node (its "engines" field) than the one on PATH:
# the npm registry's node package, installed into the cache like a host.
NODE_PACKAGE=node
NODE_VERSION=22.23.3
SKIPPED=77

latest=0
runner_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --latest) latest=1; runner_args+=(--latest) ;;
    --keep-events) runner_args+=(--keep-events "$(realpath -m "$2")"); shift ;;
    --only) runner_args+=(--only "$2"); shift ;;
    *) echo "host-test: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "${TALLYHOOK_SKIP_HOSTS:-}" = 1 ]; then
  echo "host-test: SKIPPED because TALLYHOOK_SKIP_HOSTS=1: the agent hosts were NOT run" >&2
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
command -v rg >/dev/null || fail "rg is missing (OpenCode's skill tool needs it): run scripts/setup.sh"

if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi
cache=${TALLYHOOK_HOST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tallyhook-hosts}
mkdir -p "$cache"
# Copilot CLI unpacks its package on first start, 235 MB: once into the cache, not per home.
export COPILOT_PKG_CACHE_HOME=$cache/copilot-packages

# An install cut short (Ctrl-C, a failure) leaves no half-made folder in the cache.
partial=
trap '[ -z "$partial" ] || rm -rf "$partial"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Installs PACKAGE@VERSION into its own folder of the cache, unless it is there already, and
# sets $installed to that folder. The folder appears only once the install is complete.
install_package() {
  local package=$1 version=$2 program=$3 log
  installed=$cache/${package##*/}-$version
  [ -x "$installed/node_modules/.bin/$program" ] && return
  partial=$(mktemp -d "$cache/.partial.XXXXXX")
  log=$cache/npm-${package##*/}-$version.log
  echo "host-test: installing $package@$version into $cache" >&2
  if ! npm install --prefix "$partial" --no-audit --no-fund --no-save --loglevel=error \
    "$package@$version" >"$log" 2>&1; then
    fail "cannot install $package@$version with npm: $(grep -m1 -i 'err' "$log" || tail -n1 "$log") (log: $log)"
  fi
  rm -rf "$installed" "$log"
  mv "$partial" "$installed"
  partial=
}

# Sets $node_dir to the directory of a Node that the installed PACKAGE's "engines" field
# accepts: the one on PATH where it does, else the npm registry's node package.
node_for() {
  local manifest="$installed/node_modules/$1/package.json" need have
  # shellcheck disable=SC2016  # JavaScript, not the shell's
  need=$(node -e 'const m = /^\s*>=\s*v?(\d+)/.exec((require(process.argv[1]).engines || {}).node || "");
                  console.log(m ? m[1] : 0)' "$manifest")
  node_dir=$(dirname "$(command -v node)")
  have=$(node -p 'process.versions.node.split(".")[0]')
  [ "$have" -ge "$need" ] && return
  local host_folder=$installed
  install_package "$NODE_PACKAGE" "$NODE_VERSION" node
  node_dir=$installed/node_modules/.bin
  installed=$host_folder
  have=$("$node_dir/node" -p 'process.versions.node.split(".")[0]')
  [ "$have" -ge "$need" ] || fail "$1 asks for Node $need: set NODE_VERSION in $0"
}

versions=()
for entry in "${HOSTS[@]}"; do
  IFS='|' read -r key package version program <<<"$entry"
  if [ $latest = 1 ]; then
    version=$(npm view "$package" version) || fail "cannot ask npm for $package's newest version"
  fi
  install_package "$package" "$version" "$program"
  node_for "$package"
  PATH="$node_dir:$PATH" "$installed/node_modules/.bin/$program" --version </dev/null >/dev/null 2>&1 ||
    fail "$package@$version is installed in $installed but does not start"
  runner_args+=(--host "$key" "$package" "$version" "$installed/node_modules/.bin/$program" "$node_dir")
  versions+=("$key $version")
done
echo "host-test: $(IFS=,; echo "${versions[*]}" | sed 's/,/, /g'); hook from $build" >&2

exec python3 skills/hooks/tallyhook/tests/hosts/run_hosts.py \
  --hook "$hook" --zindle "$zindle" --readme README.md --hosts-doc docs/HOSTS.md \
  --copilot-cache "$COPILOT_PKG_CACHE_HOME" "${runner_args[@]}"
