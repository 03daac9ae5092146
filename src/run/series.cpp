#include "run/series.h"

namespace talveron {

void RunGeneration(World& world, DataRecorder* recorder) {
  world.Reproduction();
  world.Dispersal();
  world.Mortality();
  world.TallyLinkedList();
  world.ChangeEnvironmentIfDue();
  if (recorder != nullptr) recorder->GetData(world.geneFrequencies, world.gGenerationNumber);
}

void RunSeries(World& world, DataRecorder& recorder, const SeriesOptions& options,
               const SeriesCallbacks& callbacks) {
  recorder.WriteInitialFields(world.params, options.replicates, options.generations);
  const Parameters settings = world.params;
  for (long replicate = 1; replicate <= options.replicates; ++replicate) {
    if (!options.changes.empty()) world.params = settings;
    const std::uint64_t seed = ReplicateSeed(options.baseSeed, replicate);
    if (callbacks.replicateStarted) callbacks.replicateStarted(replicate, seed);
    world.SeedRandom(seed);
    world.gGenerationNumber = 0;
    world.ClearIndividuals();
    world.InitPopulations();
    for (long generation = 1; generation <= options.generations; ++generation) {
      options.changes.ApplyAt(generation, world.params);
      world.gGenerationNumber = static_cast<int>(generation);
      RunGeneration(world, &recorder);
      if (callbacks.censusTaken) callbacks.censusTaken(replicate, world);
    }
    world.gGenerationNumber = static_cast<int>(options.generations + 1);
    recorder.WriteReplicateData();
    if (callbacks.replicateFinished) callbacks.replicateFinished(replicate);
  }
}

}  // namespace talveron
