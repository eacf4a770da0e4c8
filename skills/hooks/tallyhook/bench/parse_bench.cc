// Throughput of the event parser alone, on the two large events of the process benchmark.
#include <benchmark/benchmark.h>

#include "events.h"
#include "hook_event.h"

namespace {

void parse(benchmark::State& state, const std::string& event) {
  for (auto _ : state) {
    auto parsed = tallyhook::parse_hook_event(event);
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(event.size()));
}

void BM_ParseStrings5MB(benchmark::State& state) {
  static const std::string event = tallyhook::bench::write_event(5 << 20);
  parse(state, event);
}
void BM_ParseSmallObjects8MB(benchmark::State& state) {
  static const std::string event = tallyhook::bench::rows_event(8 << 20);
  parse(state, event);
}

BENCHMARK(BM_ParseStrings5MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseSmallObjects8MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
