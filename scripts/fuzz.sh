#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) and runs each for FUZZ_SECONDS
# (default 30) on a scratch copy of its seed corpus. A failed property or a crash stops the
# run with the input that caused it in the scratch folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
seconds=${FUZZ_SECONDS:-30}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallyhook-fuzz.XXXXXX")
for target in event kernel command marker_name; do
  mkdir -p "$scratch/$target"
  # The kernel fuzzer starts from the events.
  cp skills/hooks/tallyhook/fuzz/corpus/${target/kernel/event}/* "$scratch/$target/"
  echo "== ${target}_fuzzer, ${seconds} s"
  (cd "$scratch" && "$OLDPWD/build/fuzz/skills/hooks/tallyhook/fuzz/${target}_fuzzer" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "$scratch/$target" 2>&1 | grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==|SUMMARY|.*property failed)' || true)
  # libFuzzer leaves crash-* or timeout-* files for any input that broke a property.
  if ls "$scratch"/crash-* "$scratch"/timeout-* "$scratch"/oom-* >/dev/null 2>&1; then
    echo "fuzz: ${target}_fuzzer found a failing input in $scratch" >&2
    exit 1
  fi
done
rm -rf "$scratch"
