// The model parameters, their defaults and the ranges in which they mean
// something. The batch command, the settings dialog and the tests all fill
// this one struct.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace talveron {

struct Parameters {
  std::int16_t numberOfKids = 4;          // offspring per successful mating, 0..12
  std::int16_t mutationRate = 100;        // 1/probability of a mutation per locus, 1..32767
  float selectionFactor = 0.5f;           // strength of habitat selection, 0..1
  std::int16_t density = 1;               // eighths of the cells occupied at founding; capacity density*80, 1..8
  bool initiallyOneHabitat = false;       // found in habitat 0 only
  bool restrictedNatalDispersal = false;  // young stay in the natal habitat unless they migrate
  bool asymmetricalNatalDispersal = false;// with restricted natal dispersal: only 0 -> 1 moves
  std::int16_t natalDispersalRate = 0;    // per cent, 0..100
  bool restrictedMatingDispersal = false; // females accept only males of the habitat they search
  std::int16_t matingDispersalRate = 0;   // per cent, 0..100
  std::int16_t gMatingPrefTarget = 0;     // judged male trait: 0 matingPrefType, 1 habitatSpec, 2 signalType
  bool gMalesMateOnce = false;            // a male leaves the adult list after mating
  float gSearchCost = 0.0f;               // chance of dying at each male met, 0..1
  bool gIncludeSignalValue = false;       // matingPrefValue and signalValue mutate
  bool gIncludeGeneralViability = false;  // generalViability mutates and counts in the search
  bool gIncludeNeutralGenes = false;      // the ten neutral genes mutate
  std::int16_t gFalseAlarmRate = 0;       // per cent, 0..100
  std::int16_t gMissedDetectionRate = 0;  // per cent, 0..100
  std::int16_t gFalseAlarmPayoff = 1;     // brood divisor after a false alarm, 1..32767
  float gViabilityFactor = 1.0f;          // viability factor of a matching individual, 0..10
  std::int32_t gGenerationsToEnvironmentalChange = 10000;  // period in generations, >= 1
  bool noMigration = true;                // recorded in the data file only
  bool asymmetricalMatingDispersal = false;  // set by the settings, read by no phase
};

enum class ParameterKind { Boolean, Integer, Decimal };

// One settable parameter: its name, kind, allowed range and a short meaning.
struct ParameterInfo {
  std::string_view name;
  ParameterKind kind;
  double minimum;
  double maximum;
  std::string_view meaning;
};

// Every parameter that can be set by name, in the order users see them.
std::span<const ParameterInfo> ParameterTable();

const ParameterInfo* FindParameter(std::string_view name);

// Sets `name` from its text form. Booleans take 0, 1, true or false;
// decimals are read as single precision. Returns an error message naming the
// parameter, the value and what is allowed, or nothing on success.
std::optional<std::string> SetParameter(Parameters& params, std::string_view name,
                                        std::string_view text);

// "a whole number from 1 to 8", "0, 1, true or false", ...
std::string AllowedValues(const ParameterInfo& info);

// The parameter's current value as text (booleans 0/1, decimals as stored).
std::string FormatParameter(const Parameters& params, const ParameterInfo& info);

}  // namespace talveron
