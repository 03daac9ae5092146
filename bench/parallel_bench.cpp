// A series of 8 replicates (density 4, 2000 generations) with one job and
// with one job per core: the times and their ratio, measured in one run.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include <unistd.h>

#include "run/parallel_series.h"

namespace {

double RunSeries(int jobs, const std::string& path) {
  talveron::SeriesPlan plan;
  plan.baseSeed = 2024;
  plan.replicates = 8;
  plan.generations = 2000;
  plan.params.density = 4;
  const auto start = std::chrono::steady_clock::now();
  talveron::SeriesWriter writer(plan, path, "");
  talveron::RunOptions options;
  options.jobs = jobs;
  talveron::RunSeriesInParallel({&writer}, options);
  writer.Commit();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const std::string path =
      (std::filesystem::temp_directory_path() / ("talveron_parallel_bench_" + std::to_string(::getpid()))).string();
  const double one = RunSeries(1, path);
  const double all = RunSeries(cores, path);
  std::filesystem::remove(path);
  std::printf("series of 8 replicates, density 4, 2000 generations\n");
  std::printf("  --jobs 1: %.2f s\n  --jobs %d: %.2f s\n  speed-up: %.2f\n", one, cores, all, one / all);
  return 0;
}
