// Time of whole replicates in the batch setting (no display): 5000
// generations with the default parameters, and with every cell occupied.
#include <benchmark/benchmark.h>

#include "core/series.h"

namespace talveron {
namespace {

void RunReplicate(benchmark::State& state, int density) {
  std::uint64_t seed = 1;
  for (auto _ : state) {
    World world;
    world.params.density = static_cast<std::int16_t>(density);
    DataRecorder recorder;  // records, writes nowhere
    SeriesOptions options;
    options.baseSeed = seed++;
    options.replicates = 1;
    options.generations = 5000;
    RunSeries(world, recorder, options);
    benchmark::DoNotOptimize(recorder.gGenerationWithMatingPreference50);
  }
  state.counters["generations/s"] =
      benchmark::Counter(5000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Replicate5000Defaults(benchmark::State& state) { RunReplicate(state, 1); }
void BM_Replicate5000Density8(benchmark::State& state) { RunReplicate(state, 8); }

BENCHMARK(BM_Replicate5000Defaults)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Replicate5000Density8)->Unit(benchmark::kMillisecond)->MinTime(5.0);

}  // namespace
}  // namespace talveron

BENCHMARK_MAIN();
