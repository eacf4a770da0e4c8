// Throughput of the event parser alone, on the two large events of the process benchmark,
// with each string kernel the processor runs (the last is the one the hook uses).
#include <benchmark/benchmark.h>

#include <string>

#include "events.h"
#include "hook_event.h"
#include "string_kernel.h"

namespace {

void parse(benchmark::State& state, const std::string& event,
           const tallyhook::StringKernel& kernel) {
  for (auto _ : state) {
    auto parsed = tallyhook::parse_hook_event(event, kernel);
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(event.size()));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string strings = tallyhook::bench::write_event(5 << 20);
  const std::string small_objects = tallyhook::bench::rows_event(8 << 20);
  for (const tallyhook::StringKernel* kernel : tallyhook::supported_string_kernels()) {
    const std::string name(kernel->name);
    benchmark::RegisterBenchmark(("BM_ParseStrings5MB/" + name).c_str(), parse, strings, *kernel)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_ParseSmallObjects8MB/" + name).c_str(), parse, small_objects,
                                 *kernel)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
