#!/usr/bin/env bash
# Builds every release artifact into dist/, with SHA256SUMS over them: the archives and Debian
# packages of the hook for Linux x86_64 and arm64, the Windows zip, and the logging library's
# Debian packages. Each build tree is one CMake preset, packed by CPack; only the targets that
# are shipped are built. Dates inside come from the commit (SOURCE_DATE_EPOCH), so that two
# builds of one commit are identical.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH

# preset | targets | CPack generators
builds=(
  "release|tallyhook zindle_logging|TGZ;DEB"
  "aarch64|tallyhook|TGZ;DEB"
  "windows-release|tallyhook|ZIP"
)

rm -rf dist
mkdir dist
for build in "${builds[@]}"; do
  IFS='|' read -r preset targets generators <<<"$build"
  echo "== $preset: $generators"
  cmake --preset "$preset" >/dev/null
  # shellcheck disable=SC2086  # a list of targets
  cmake --build --preset "$preset" --target $targets
  out="build/$preset/packages"
  rm -rf "$out"
  (cd "build/$preset" && cpack -G "$generators" -B "$PWD/packages" >/dev/null)
  find "$out" -maxdepth 1 -type f \( -name '*.tar.gz' -o -name '*.zip' -o -name '*.deb' \) \
    -exec mv -t dist {} +
done
(cd dist && sha256sum -- * >SHA256SUMS)
ls -l dist
