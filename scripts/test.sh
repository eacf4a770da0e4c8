#!/usr/bin/env bash
# Builds and runs every test suite: the debug build (g++) and the sanitizer build (clang).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
for preset in debug sanitize; do
  echo "== $preset"
  cmake --workflow --preset "$preset"
done
