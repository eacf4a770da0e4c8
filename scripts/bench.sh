#!/usr/bin/env bash
# Measures the hook: whole-process timings against a floor program that only reads its
# input, peak memory, and the parser's throughput; then the logging library against spdlog.
# Prints Markdown tables; the figures in docs/PERFORMANCE.md come from this script. SCALE
# below 1 shortens the timing series.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
bench=build/bench/skills/hooks/tallyhook

echo "## Machine"
echo
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(uname -sr)"
echo
echo "## Whole process, hook against floor"
echo
"$bench/bench/process_bench" "$bench/tallyhook" "$bench/bench/bench_floor" \
  "$bench/bench/bench_peak_rss" "${SCALE:-1}"
echo
echo "## Parser throughput, in process"
echo
"$bench/bench/parse_bench" --benchmark_min_time=1 2>/dev/null | grep -E '^(Benchmark|BM_)'
echo
echo "## Logging library against spdlog"
echo
logging=build/bench/shared/logging/bench
"$logging/logging_bench" "$logging/logging_startup_zindle" "$logging/logging_startup_spdlog" \
  "${SCALE:-1}"
