// A plain, deliberately literal second implementation of the model and its
// data file. It exists only so that the tests can check the production code
// against it: one global-style state, a heap-allocated doubly linked list of
// individuals walked with a shared cursor, 16-bit counters, single-precision
// chances. It is written for clarity, not speed, and shares no code with the
// production model.
#pragma once

#include <cstdint>
#include <string>

namespace talveron::reference {

// The model parameters with their start-up values.
struct ReferenceParameters {
  std::int16_t numberOfKids = 4;
  std::int16_t mutationRate = 100;
  float selectionFactor = 0.5f;
  std::int16_t density = 1;
  bool initiallyOneHabitat = false;
  bool restrictedNatalDispersal = false;
  bool asymmetricalNatalDispersal = false;
  std::int16_t natalDispersalRate = 0;
  bool restrictedMatingDispersal = false;
  std::int16_t matingDispersalRate = 0;
  std::int16_t gMatingPrefTarget = 0;
  bool gMalesMateOnce = false;
  float gSearchCost = 0.0f;
  bool gIncludeSignalValue = false;
  bool gIncludeGeneralViability = false;
  bool gIncludeNeutralGenes = false;
  std::int16_t gFalseAlarmRate = 0;
  std::int16_t gMissedDetectionRate = 0;
  std::int16_t gFalseAlarmPayoff = 1;
  float gViabilityFactor = 1.0f;
  std::int32_t gGenerationsToEnvironmentalChange = 10000;
  bool noMigration = true;
  bool asymmetricalMatingDispersal = false;
};

// What a series records: the timed criteria, or the averaged variables.
struct ReferenceRecording {
  bool gGetTimedCriteria = true;
  bool gGetAverageLeftHabitatTotal = false;
  bool gGetAveragedLeftHabitatPreference = false;
  bool gGetAverageLeftHabitatSpecialization = false;
  bool gGetAverageLeftHabitatMatingPreference = false;
  std::int32_t gAveragingSpan = 10;
};

struct ReferenceSeries {
  std::uint64_t baseSeed = 0;  // replicate k is seeded with baseSeed + k - 1
  std::int32_t replicates = 2;
  std::int32_t generations = 5000;
};

// The bytes of the data file and of the per-generation trace (with its
// header line) of one series.
struct ReferenceOutput {
  std::string dataFile;
  std::string trace;
};

// Runs one whole series from a fresh start: environment state 2, no
// unfinished averaging span, all criteria at 0.
ReferenceOutput RunReferenceSeries(const ReferenceParameters& parameters, const ReferenceRecording& recording,
                                   const ReferenceSeries& series);

}  // namespace talveron::reference
