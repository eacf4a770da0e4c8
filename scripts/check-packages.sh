#!/usr/bin/env bash
# Checks the release artifacts in dist/ (scripts/package.sh) as users get them, not the build
# trees they came from: every artifact and checksum there, lintian, owners and build paths, a
# second build of the x86_64 and macOS artifacts under another umask and time zone, the library
# package's name, the arm64 hook under qemu-user, the amd64 packages unpacked into a scratch root
# and used, the Windows zip's hook under wine, and the macOS program as far as it can be checked
# without a Mac (its processors, system, libraries, signature and symbols).
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project([a-z_]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallyhook-packages.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
real_home=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
fail() { printf 'check-packages: %b\n' "$*" >&2; exit 1; }
step() { echo "== $*"; }
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH

step "every artifact of $version, and SHA256SUMS over them"
# The library's runtime package is named after its SONAME, libzindle-logging.so.<major.minor>
# below 1.0 (checked against the library itself below).
library_package=libzindle-logging${version%.*}
artifacts=(
  "tallyhook-$version-linux-x86_64.tar.gz" "tallyhook-$version-linux-aarch64.tar.gz"
  "tallyhook-$version-windows-x86_64.zip" "tallyhook-$version-macos-universal.tar.gz"
  "tallyhook_${version}_amd64.deb" "tallyhook_${version}_arm64.deb"
  "${library_package}_${version}_amd64.deb" "libzindle-logging-dev_${version}_amd64.deb"
)
for artifact in "${artifacts[@]}"; do [ -f "dist/$artifact" ] || fail "no dist/$artifact"; done
[ "$(wc -l <dist/SHA256SUMS)" -eq ${#artifacts[@]} ] || fail "SHA256SUMS does not list them all"
(cd dist && sha256sum --quiet -c SHA256SUMS)
for deb in dist/*.deb; do
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb: not version $version"
done

step "lintian: no errors, and no warnings but those docs/PACKAGING.md explains"
# lintian's own status decides. Run as root it says so, which is no finding.
if ! lintian_output=$(lintian --fail-on error --tag-display-limit 0 dist/*.deb 2>&1); then
  printf '%s\n' "$lintian_output" >&2
  fail "lintian found errors"
fi
lintian_output=$(grep -v 'running with root privileges' <<<"$lintian_output" || true)
[ -z "$lintian_output" ] || printf '   %s\n' "${lintian_output//$'\n'/$'\n'   }"
explained_warnings="$library_package: maintscript-calls-ldconfig
libzindle-logging-dev: pkg-config-unavailable-for-cross-compilation"
unexplained=$(awk '$1 == "W:" { print $2, $3 }' <<<"$lintian_output" | sort -u |
  grep -vxF "$explained_warnings" || true)
[ -z "$unexplained" ] || fail "lintian warnings docs/PACKAGING.md does not explain:\n$unexplained"

step "no owner but root, no path of this machine's build"
for artifact in "${artifacts[@]}"; do
  case "$artifact" in
    *.deb) listing=$(dpkg-deb --fsys-tarfile "dist/$artifact" | tar -tv --numeric-owner)
      dpkg-deb -R "dist/$artifact" "$scratch/contents/$artifact" ;;
    *.tar.gz) listing=$(tar -tvzf "dist/$artifact" --numeric-owner)
      mkdir -p "$scratch/contents/$artifact"; tar -xzf "dist/$artifact" -C "$scratch/contents/$artifact" ;;
    *.zip) listing=""  # zip entries carry no owner
      unzip -q "dist/$artifact" -d "$scratch/contents/$artifact" ;;
  esac
  owners=$(awk '$2 != "0/0"' <<<"$listing")
  [ -z "$owners" ] || fail "$artifact: files not owned by root:\n$owners"
done
if grep -rlaF "$PWD" "$scratch/contents"; then fail "the files above hold the build path $PWD"; fi

step "the OpenCode plugin in every package of the hook, as in the sources"
for artifact in "${artifacts[@]}"; do
  case "$artifact" in
    tallyhook_*.deb) plugin=usr/share/tallyhook/opencode/tallyhook.js ;;
    tallyhook-*) top=${artifact%.tar.gz}; plugin=${top%.zip}/share/tallyhook/opencode/tallyhook.js ;;
    *) continue ;;
  esac
  cmp -s skills/hooks/tallyhook/opencode/tallyhook.js "$scratch/contents/$artifact/$plugin" ||
    fail "$artifact: no $plugin, or not the one in the sources"
done

step "the x86_64 and macOS artifacts again, in other build trees, under umask 002 and UTC+9: the same bytes"
# The builder's umask reaches every directory of the packages, its time zone the zip's times;
# scripts/package.sh must make the same bytes whatever they are. (JST-9 is Tokyo's time, in a
# form that needs no time zone data.)
(umask 002 && DIST_DIR="$scratch/rebuild/dist" BUILD_ROOT="$scratch/rebuild" \
  PRESETS="release windows-release macos-x86_64 macos-arm64" TZ=JST-9 scripts/package.sh >/dev/null)
for artifact in "${artifacts[@]}"; do
  case "$artifact" in *x86_64.tar.gz | *x86_64.zip | *_amd64.deb | *macos-universal.tar.gz) ;;
    *) continue ;; esac
  cmp "dist/$artifact" "$scratch/rebuild/dist/$artifact" || fail "$artifact differs"
  echo "   $(sha256sum "dist/$artifact" | cut -c1-16)… both builds  $artifact"
done

step "the library's package is named after its SONAME; the shlibs file and -dev name it"
library="$scratch/contents/${library_package}_${version}_amd64.deb"
soname=$(objdump -p "$library"/usr/lib/libzindle-logging.so.*.*.* |
  awk '$1 == "SONAME" { print $2 }')
soversion=${soname#libzindle-logging.so.}
[ "$library_package" = "libzindle-logging$soversion" ] ||
  fail "$library_package holds the SONAME $soname"
shlibs=$(cat "$library/DEBIAN/shlibs")
[ "$shlibs" = "libzindle-logging $soversion $library_package (>= $version)" ] ||
  fail "shlibs of $library_package: $shlibs"
dev_depends=$(dpkg-deb -f "dist/libzindle-logging-dev_${version}_amd64.deb" Depends)
[[ ", $dev_depends," == *", $library_package (= $version),"* ]] ||
  fail "libzindle-logging-dev depends on: $dev_depends"
echo "   $soname in $library_package; shlibs: $shlibs"

step "arm64: the hook's unit tests under qemu-user"
cmake --build --preset aarch64 --target tallyhook_tests >/dev/null
ctest --preset aarch64 >"$scratch/ctest.log" 2>&1 || { cat "$scratch/ctest.log"; fail "arm64 unit tests"; }
grep -E 'tests passed|\*\*\*Skipped' "$scratch/ctest.log"

# replay ROOT EXPECTED... -- HOOK...: events of scripts/demo-events.sh by number, with their
# expected outcomes, through HOOK with a fresh HOME.
replay() {
  local dir=$1 home="$1/home" wanted=() want entry label expected event
  shift
  while [ "$1" != -- ]; do wanted+=("$1"); shift; done
  shift
  mkdir -p "$home"
  HOME=$home
  source scripts/demo-events.sh
  for want in "${wanted[@]}"; do
    entry=${events[${want%%=*}]}; expected=${want#*=}
    label=${entry%%|*}; event=${entry#*|}; event=${event#*|}
    replay_event "$dir" "$expected" "$event" "$@"
    printf '   %-34s %-5s %s\n' "$label" "$status" "$outcome"
    [ "${outcome%%:*}" = "$expected" ] || fail "$label: $outcome, expected $expected"
  done
  HOME=$real_home
}

step "arm64: the packaged hook under qemu-user, with a shell-script zindle beside it"
arm64="$scratch/arm64"
dpkg-deb -x "dist/tallyhook_${version}_arm64.deb" "$arm64"
cat >"$arm64/usr/bin/zindle" <<'SH'
#!/bin/sh
[ "$1 $2" = "skills report-usage" ] && [ $# -eq 3 ] || exit 2
mkdir -p "$HOME/.zindle" && printf 'now\t%s\n' "$3" >>"$HOME/.zindle/usage.log"
SH
chmod 755 "$arm64/usr/bin/zindle"
replay "$arm64" 1="reported zin-skills" 1="suppressed (same skill within 30 s)" 0=ignored \
  -- qemu-aarch64-static "$arm64/usr/bin/tallyhook"

step "amd64: the demonstration through the hook of the unpacked .deb files"
root="$scratch/root"
for deb in dist/*_amd64.deb; do dpkg-deb -x "$deb" "$root"; done
cmake --build --preset release --target zindle >/dev/null
cp build/release/tools/zindle/zindle "$root/usr/bin/zindle"
# The stand-in then loads the packaged library, not the build tree's.
export LD_LIBRARY_PATH="$root/usr/lib"
expected=()
HOME=$scratch; source scripts/demo-events.sh; HOME=$real_home
for n in "${!events[@]}"; do rest=${events[$n]#*|}; expected+=("$n=${rest%%|*}"); done
replay "$root" "${expected[@]}" -- "$root/usr/bin/tallyhook"
unset LD_LIBRARY_PATH

step "amd64: the consumer project against libzindle-logging-dev, with CMake and pkg-config"
cmake -D PREFIX="$root/usr" -D LIBDIR=lib -D VERSION="$version" -D SHARED=ON \
  -D SOVERSION="${version%.*}" -D NM=nm -D WORK_DIR="$scratch/consumer" \
  -D SOURCE_DIR="$PWD/shared/logging/tests/consumer" -D GENERATOR=Ninja \
  -D MAKE_PROGRAM="$(command -v ninja)" -D CXX_COMPILER=g++ -D BUILD_TYPE=Release \
  -P shared/logging/tests/consumer/check_consumer.cmake
echo "   consumer_cmake and consumer_pkgconfig built and ran"

step "Windows: the zip's tallyhook.exe under wine reports a Skill event"
windows="$scratch/contents/tallyhook-$version-windows-x86_64.zip/tallyhook-$version-windows-x86_64/bin"
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release --target zindle >/dev/null
cp build/windows-release/bin/zindle.exe build/windows-release/bin/libzindle-logging.dll "$windows/"
# Wine keeps its prefix under the real home, and does not hand HOME on to Windows programs: cmd
# sets it, to the scratch home as Windows sees it (drive Z: is the root directory).
export WINEPREFIX=${WINEPREFIX:-$real_home/.wine}
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
replay "$scratch/windows" 1="reported zin-skills" -- /bin/sh cmake/wine-run.sh cmd /c \
  "set HOME=$(windows_path "$scratch/windows/home")&& $(windows_path "$windows/tallyhook.exe")"
step "macOS: the universal program from the archive, as far as it can be checked without a Mac"
name=tallyhook-$version-macos-universal
macos="$scratch/contents/$name.tar.gz/$name"
llvm=$(llvm-config --bindir)
archs=$("$llvm/llvm-lipo" -archs "$macos/bin/tallyhook")
[ "$(tr ' ' '\n' <<<"$archs" | sort | xargs)" = "arm64 x86_64" ] || fail "processors: $archs"
for arch in arm64 x86_64; do
  thin="$scratch/tallyhook.$arch"
  "$llvm/llvm-lipo" "$macos/bin/tallyhook" -thin "$arch" -output "$thin"
  minos=$("$llvm/llvm-otool" -l "$thin" | awk '$1 == "minos" { print $2 }')
  [ "$minos" = 11.0 ] || fail "$arch: minimum macOS $minos, not 11.0"
  libraries=$("$llvm/llvm-otool" -L "$thin" | awk 'NR > 1 { print $1 }')
  [ "$libraries" = /usr/lib/libSystem.B.dylib ] || fail "$arch loads:\n$libraries"
  # Stripped: no debugging or local symbols (lower case, or "-" for debugging), only what the
  # program takes from libSystem and what it exports.
  kept=$("$llvm/llvm-nm" --debug-syms "$thin" | awk '$(NF-1) ~ /^[a-z-]$/')
  [ -z "$kept" ] || fail "$arch is not stripped:\n$(head -5 <<<"$kept")"
  echo "   $arch: macOS $minos and later, loads $libraries, stripped"
done
# zig's description of what libSystem exports; the zig that built the program.
zig=$(sed -n 's/^ZINDLE_ZIG:FILEPATH=//p' build/macos-arm64/CMakeCache.txt)
libsystem="$(dirname "$(realpath "$zig")")/lib/libc/darwin/libSystem.tbd"
python3 scripts/macho_check.py undefined "$macos/bin/tallyhook" "$libsystem" | sed 's/^/   /'
signatures=$(python3 scripts/macho_check.py signature "$macos/bin/tallyhook")
grep -q '^arm64 adhoc ' <<<"$signatures" || fail "no ad-hoc signature on arm64:\n$signatures"
echo "   signature, page hashes recomputed: ${signatures//$'\n'/; }"
if grep -qaF "$(dirname "$(realpath "$zig")")" "$macos/bin/tallyhook"; then
  fail "the macOS program holds the path of zig's files"
fi
# The same notes as the Linux archives (which also carry lintian's override file).
linux="$scratch/contents/tallyhook-$version-linux-x86_64.tar.gz/tallyhook-$version-linux-x86_64"
(cd "$linux" && find . -type f ! -path ./bin/tallyhook ! -path './share/lintian/*' | sort) \
  >"$scratch/linux-notes"
(cd "$macos" && find . -type f ! -path ./bin/tallyhook | sort) >"$scratch/macos-notes"
diff "$scratch/linux-notes" "$scratch/macos-notes" || fail "the macOS archive's notes differ"
while read -r note; do
  cmp -s "$linux/$note" "$macos/$note" || fail "$note differs from the Linux archive's"
done <"$scratch/macos-notes"
echo "   the Linux archives' notes: $(xargs <"$scratch/macos-notes")"

echo "== all package checks passed"
