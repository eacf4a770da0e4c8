#!/usr/bin/env bash
# Builds every release artifact into dist/, with SHA256SUMS over them: the archives and Debian
# packages of the hook for Linux x86_64 and arm64, the Windows zip, the macOS archive (one
# universal program for arm64 and x86_64), and the logging library's Debian packages. Each build
# tree is one CMake preset, packed by CPack; only the targets that are shipped are built. Dates inside come from the commit (SOURCE_DATE_EPOCH), so that two
# builds of one commit are identical, whatever the builder's umask, time zone and locale.
#   DIST_DIR     where the artifacts go (default dist)
#   BUILD_ROOT   where the build trees are, one per preset (default build)
#   PRESETS      which builds to make (default all below)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
# The umask reaches every directory CPack makes, the time zone the zip's DOS times (local time
# by definition), the locale the order of SHA256SUMS.
umask 022
export TZ=UTC LC_ALL=C
dist=${DIST_DIR:-dist}
build_root=${BUILD_ROOT:-build}

# preset | targets | CPack generators (none: only built) | configure options
# The macOS arm64 tree packs the universal program, made with the x86_64 tree's.
builds=(
  "release|tallyhook zindle_logging|TGZ;DEB|"
  "aarch64|tallyhook|TGZ;DEB|"
  "windows-release|tallyhook|ZIP|"
  "macos-x86_64|tallyhook||"
  "macos-arm64|tallyhook_universal|TGZ|-DTALLYHOOK_OTHER_SLICE=$(realpath -m "$build_root/macos-x86_64/skills/hooks/tallyhook/tallyhook")"
)

rm -rf "$dist"
mkdir -p "$dist"
for build in "${builds[@]}"; do
  IFS='|' read -r preset targets generators options <<<"$build"
  case " ${PRESETS:-$preset} " in *" $preset "*) ;; *) continue ;; esac
  echo "== $preset: ${generators:-built only}"
  tree="$build_root/$preset"
  # shellcheck disable=SC2086  # a list of options, a list of targets
  cmake --preset "$preset" -B "$tree" $options >/dev/null
  # shellcheck disable=SC2086
  cmake --build "$tree" --target $targets
  [ -n "$generators" ] || continue
  out="$tree/packages"
  rm -rf "$out"
  (cd "$tree" && cpack -G "$generators" -B "$PWD/packages" >/dev/null)
  find "$out" -maxdepth 1 -type f \( -name '*.tar.gz' -o -name '*.zip' -o -name '*.deb' \) \
    -exec mv -t "$dist" {} +
done
(cd "$dist" && sha256sum -- * >SHA256SUMS)
ls -l "$dist"
