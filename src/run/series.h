// Running a series of replicates without a window: the header, then per
// replicate the seed, the founding, the generations and the record.
#pragma once

#include <cstdint>
#include <functional>

#include "model/parameter_schedule.h"
#include "model/world.h"
#include "record/recorder.h"

namespace talveron {

struct SeriesOptions {
  std::uint64_t baseSeed = 0;  // replicate k is seeded with baseSeed + k - 1
  long replicates = 2;
  long generations = 5000;
  // Changes during each replicate; each starts from the world's parameters
  // as they were when the series began.
  ParameterSchedule changes;
};

// Seed of replicate k (from 1) of a series with base seed B.
inline std::uint64_t ReplicateSeed(std::uint64_t baseSeed, long replicate) {
  return baseSeed + static_cast<std::uint64_t>(replicate - 1);
}

struct SeriesCallbacks {
  std::function<void(long replicate, std::uint64_t seed)> replicateStarted;
  // After the census of every generation.
  std::function<void(long replicate, const World& world)> censusTaken;
  std::function<void(long replicate)> replicateFinished;
};

// Runs one generation in the fixed order of phases: Reproduction, Dispersal,
// Mortality, the census, the environmental change and, when a recorder is
// given, its GetData.
void RunGeneration(World& world, DataRecorder* recorder);

// Runs a whole series: header, then every replicate and its record.
void RunSeries(World& world, DataRecorder& recorder, const SeriesOptions& options,
               const SeriesCallbacks& callbacks = {});

}  // namespace talveron
