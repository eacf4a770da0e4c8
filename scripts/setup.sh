#!/usr/bin/env bash
# Installs the Debian packages a command needs. Safe to run again: it only calls apt-get when
# something is missing.
#   setup.sh demo   the demonstration: compilers, CMake, Ninja and fmt
#   setup.sh        everything else too: the tests, the fuzzers, the benchmarks (spdlog only for
#                   them, as the logging library's yardstick), and the release
#                   packages with their checks (mingw-w64 and wine for Windows, the arm64 cross
#                   compiler and qemu-user, dpkg-dev and lintian for the Debian packages), and
#                   Node.js, npm, Python and ripgrep (OpenCode's skill tool needs rg) for the
#                   suite that runs the real agent hosts.
# clang does not pull in its sanitizer and libFuzzer runtimes without recommended packages: they
# are named here.
set -euo pipefail

packages=(cmake ninja-build g++ libfmt-dev)
if [ "${1:-all}" != demo ]; then
  packages+=(
    clang pkg-config libclang-rt-14-dev libfuzzer-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev libspdlog-dev
    g++-mingw-w64-x86-64-posix wine wine64
    g++-aarch64-linux-gnu qemu-user-static
    dpkg-dev file lintian unzip git
    python3 nodejs ripgrep
  )
  # A nodejs package from elsewhere (NodeSource) carries its own npm and conflicts with
  # Debian's: ask for npm only where no npm is installed at all.
  command -v npm >/dev/null || packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
