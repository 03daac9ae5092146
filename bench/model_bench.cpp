// Cost of a whole replicate against the cost of its own random draws.
//
// A replicate can never be cheaper than its Random() calls: the generator is
// fixed and the model fixes how many draws it makes. Its floor is the time of
// the same number of bare Randomize calls, made in a tight loop right after
// the replicate. The figure that matters is replicate time / floor time,
// measured within one run (absolute times vary from run to run and machine
// to machine). Four settings: the defaults, every cell occupied, a diverging
// setting that exercises every optional locus, and habitats filled to the
// last cell by large broods.
//
// Each setting is measured several times, with seeds 1, 2 and 3 in turn.
// Two summaries: the median of the ratios, and the ratio of the best
// replicate time per draw to the best floor time per draw. On a machine
// shared with other work, other work only ever adds time, so the best
// times are the steadier figure.
//
// Usage: talveron_bench [repetitions]   (5 when not given)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "run/series.h"

namespace talveron {
namespace {

struct Setting {
  const char* name;
  long generations;
  std::function<void(Parameters&)> set;
};

std::vector<Setting> Settings() {
  return {
      {"defaults", 5000, [](Parameters&) {}},
      {"density 8", 2000, [](Parameters& p) { p.density = 8; }},
      {"diverging", 3000,
       [](Parameters& p) {
         p.gMatingPrefTarget = 2;
         p.gIncludeSignalValue = true;
         p.gIncludeNeutralGenes = true;
         p.gIncludeGeneralViability = true;
         p.gGenerationsToEnvironmentalChange = 50;
         p.gSearchCost = 0.1f;
         p.restrictedNatalDispersal = true;
         p.natalDispersalRate = 10;
         p.density = 4;
       }},
      {"full habitats", 1000,
       [](Parameters& p) {
         p.density = 8;
         p.numberOfKids = 12;
         p.gMalesMateOnce = true;
         p.restrictedNatalDispersal = true;
         p.natalDispersalRate = 50;
       }},
  };
}

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Measurement {
  double replicateSeconds = 0;
  std::uint64_t draws = 0;
  double floorSeconds = 0;
  double Ratio() const { return replicateSeconds / floorSeconds; }
};

// One replicate as the batch command runs it (no display, data recorded to
// nowhere), then its floor.
Measurement Measure(const Setting& setting, std::uint64_t seed) {
  Measurement m;
  {
    World world;
    setting.set(world.params);
    DataRecorder recorder;
    SeriesOptions options;
    options.baseSeed = seed;
    options.replicates = 1;
    options.generations = setting.generations;
    const auto start = Clock::now();
    RunSeries(world, recorder, options);
    m.replicateSeconds = SecondsSince(start);
    m.draws = world.rng.DrawCount();
    benchmark::DoNotOptimize(recorder.gGenerationWithMatingPreference50);
  }
  Rng rng(seed);
  std::uint64_t sum = 0;
  const auto start = Clock::now();
  for (std::uint64_t i = 0; i < m.draws; ++i) sum += static_cast<std::uint64_t>(rng.Randomize(100));
  benchmark::DoNotOptimize(sum);
  m.floorSeconds = SecondsSince(start);
  return m;
}

}  // namespace
}  // namespace talveron

int main(int argc, char** argv) {
  using namespace talveron;
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::printf("%-14s %5s %11s %12s %9s %10s %7s\n", "setting", "seed", "generations", "replicate s",
              "draws", "floor s", "ratio");
  struct Summary {
    const char* name;
    double medianRatio;
    double bestReplicate;
    double bestFloor;
  };
  std::vector<Summary> summaries;
  for (const Setting& setting : Settings()) {
    std::vector<double> ratios;
    double bestReplicate = 1e300;
    double bestFloor = 1e300;
    for (int r = 0; r < repetitions; ++r) {
      const std::uint64_t seed = 1 + static_cast<std::uint64_t>(r % 3);
      const Measurement m = Measure(setting, seed);
      ratios.push_back(m.Ratio());
      // per draw, so that the three seeds' replicates compare
      bestReplicate = std::min(bestReplicate, m.replicateSeconds / static_cast<double>(m.draws));
      bestFloor = std::min(bestFloor, m.floorSeconds / static_cast<double>(m.draws));
      std::printf("%-14s %5llu %11ld %12.3f %9.3e %10.3f %7.2f\n", setting.name,
                  static_cast<unsigned long long>(seed), setting.generations, m.replicateSeconds,
                  static_cast<double>(m.draws), m.floorSeconds, m.Ratio());
      std::fflush(stdout);
    }
    std::sort(ratios.begin(), ratios.end());
    summaries.push_back({setting.name, ratios[ratios.size() / 2], bestReplicate, bestFloor});
  }
  std::printf("\nratio of replicate time to floor time\n%-14s %7s %7s\n", "setting", "median", "best");
  for (const Summary& s : summaries) {
    std::printf("%-14s %7.2f %7.2f\n", s.name, s.medianRatio, s.bestReplicate / s.bestFloor);
  }
  return 0;
}
