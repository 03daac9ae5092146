// Runs the production series and the plain reference model side by side over
// many settings and seeds and requires the same data file and the same
// per-generation trace, byte for byte. On a mismatch it names the settings,
// the seed and the first generation whose census differs.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "model/parameters.h"
#include "model/world.h"
#include "record/recorder.h"
#include "record/trace.h"
#include "reference_model.h"
#include "run/series.h"

namespace {

using talveron::Parameters;
using talveron::reference::ReferenceOutput;
using talveron::reference::ReferenceParameters;
using talveron::reference::ReferenceRecording;

enum class Recording { kTimed, kTotal, kPreference, kSpecialization, kMatingPreference, kNone };

struct Configuration {
  std::string name;
  std::function<void(Parameters&)> set;
  Recording recording = Recording::kTimed;
  long span = 10;
  long replicates = 2;
  long generations = 200;
  std::vector<std::uint64_t> seeds;
};

struct SeriesText {
  std::string dataFile;
  std::string trace;
};

class StringSink : public talveron::TextSink {
 public:
  void Append(std::string_view text) override { text_.append(text); }
  void Flush() override {}
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

talveron::RecordingChoices ProductionChoices(const Configuration& configuration) {
  talveron::RecordingChoices choices;
  choices.gGetTimedCriteria = configuration.recording == Recording::kTimed;
  choices.gGetAverageLeftHabitatTotal = configuration.recording == Recording::kTotal;
  choices.gGetAveragedLeftHabitatPreference = configuration.recording == Recording::kPreference;
  choices.gGetAverageLeftHabitatSpecialization = configuration.recording == Recording::kSpecialization;
  choices.gGetAverageLeftHabitatMatingPreference = configuration.recording == Recording::kMatingPreference;
  choices.gAveragingSpan = configuration.span;
  return choices;
}

ReferenceRecording ReferenceChoices(const Configuration& configuration) {
  ReferenceRecording choices;
  choices.gGetTimedCriteria = configuration.recording == Recording::kTimed;
  choices.gGetAverageLeftHabitatTotal = configuration.recording == Recording::kTotal;
  choices.gGetAveragedLeftHabitatPreference = configuration.recording == Recording::kPreference;
  choices.gGetAverageLeftHabitatSpecialization = configuration.recording == Recording::kSpecialization;
  choices.gGetAverageLeftHabitatMatingPreference = configuration.recording == Recording::kMatingPreference;
  choices.gAveragingSpan = static_cast<std::int32_t>(configuration.span);
  return choices;
}

ReferenceParameters ReferenceParametersOf(const Parameters& p) {
  ReferenceParameters r;
  r.numberOfKids = p.numberOfKids;
  r.mutationRate = p.mutationRate;
  r.selectionFactor = p.selectionFactor;
  r.density = p.density;
  r.initiallyOneHabitat = p.initiallyOneHabitat;
  r.restrictedNatalDispersal = p.restrictedNatalDispersal;
  r.asymmetricalNatalDispersal = p.asymmetricalNatalDispersal;
  r.natalDispersalRate = p.natalDispersalRate;
  r.restrictedMatingDispersal = p.restrictedMatingDispersal;
  r.matingDispersalRate = p.matingDispersalRate;
  r.gMatingPrefTarget = p.gMatingPrefTarget;
  r.gMalesMateOnce = p.gMalesMateOnce;
  r.gSearchCost = p.gSearchCost;
  r.gIncludeSignalValue = p.gIncludeSignalValue;
  r.gIncludeGeneralViability = p.gIncludeGeneralViability;
  r.gIncludeNeutralGenes = p.gIncludeNeutralGenes;
  r.gFalseAlarmRate = p.gFalseAlarmRate;
  r.gMissedDetectionRate = p.gMissedDetectionRate;
  r.gFalseAlarmPayoff = p.gFalseAlarmPayoff;
  r.gViabilityFactor = p.gViabilityFactor;
  r.gGenerationsToEnvironmentalChange = p.gGenerationsToEnvironmentalChange;
  r.noMigration = p.noMigration;
  r.asymmetricalMatingDispersal = p.asymmetricalMatingDispersal;
  return r;
}

SeriesText RunProduction(const Configuration& configuration, std::uint64_t seed) {
  talveron::World world;
  configuration.set(world.params);
  talveron::DataRecorder recorder;
  recorder.choices = ProductionChoices(configuration);
  StringSink sink;
  recorder.SetSink(&sink);

  std::string trace = talveron::kTraceHeader;
  talveron::SeriesCallbacks callbacks;
  callbacks.censusTaken = [&trace](long replicate, const talveron::World& w) {
    trace += talveron::TraceLines(replicate, w.gGenerationNumber, w.geneFrequencies);
  };
  talveron::SeriesOptions options;
  options.baseSeed = seed;
  options.replicates = configuration.replicates;
  options.generations = configuration.generations;
  talveron::RunSeries(world, recorder, options, callbacks);
  return {sink.text(), trace};
}

SeriesText RunReference(const Configuration& configuration, std::uint64_t seed) {
  Parameters parameters;
  configuration.set(parameters);
  talveron::reference::ReferenceSeries series;
  series.baseSeed = seed;
  series.replicates = static_cast<std::int32_t>(configuration.replicates);
  series.generations = static_cast<std::int32_t>(configuration.generations);
  const ReferenceOutput output = talveron::reference::RunReferenceSeries(
      ReferenceParametersOf(parameters), ReferenceChoices(configuration), series);
  return {output.dataFile, output.trace};
}

std::vector<std::string> SplitLines(const std::string& text, char end) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream stream(text);
  while (std::getline(stream, line, end)) lines.push_back(line);
  return lines;
}

// Where two texts first differ, line by line, with both lines.
std::string FirstDifference(const std::string& reference, const std::string& production, char end,
                            bool isTrace) {
  const std::vector<std::string> expected = SplitLines(reference, end);
  const std::vector<std::string> actual = SplitLines(production, end);
  for (std::size_t i = 0; i < expected.size() || i < actual.size(); ++i) {
    const std::string wanted = i < expected.size() ? expected[i] : "<none>";
    const std::string got = i < actual.size() ? actual[i] : "<none>";
    if (wanted == got) continue;
    std::ostringstream report;
    report << "line " << i + 1;
    if (isTrace && i < expected.size() && i > 0) {
      const std::vector<std::string> fields = SplitLines(wanted, '\t');
      if (fields.size() >= 3) {
        report << " (replicate " << fields[0] << ", generation " << fields[1] << ", habitat " << fields[2]
               << ")";
      }
    }
    report << "\n  reference:  " << wanted << "\n  production: " << got;
    return report.str();
  }
  return "same lines, different bytes (line ends?)";
}

std::uint64_t SeedFor(std::size_t index, int which) {
  return 20240 + 7919 * static_cast<std::uint64_t>(index) + 104729 * static_cast<std::uint64_t>(which);
}

// Shorthand for a configuration.
Configuration Make(std::string name, std::function<void(Parameters&)> set, long generations = 200,
                   Recording recording = Recording::kTimed, long span = 10, long replicates = 2) {
  Configuration c;
  c.name = std::move(name);
  c.set = std::move(set);
  c.generations = generations;
  c.recording = recording;
  c.span = span;
  c.replicates = replicates;
  return c;
}

// Assortative mating on the habitat-specialization trait with strong
// habitat selection and fast mutation: the criteria are met within a few
// hundred generations.
void SpeciationSetting(Parameters& p) {
  p.mutationRate = 10;
  p.selectionFactor = 1.0f;
  p.gMatingPrefTarget = 1;
  p.restrictedNatalDispersal = true;
  p.natalDispersalRate = 10;
}

std::vector<Configuration> Configurations() {
  std::vector<Configuration> all = {
      Make("Defaults", [](Parameters&) {}),
      Make(
          "NoOffspringDiesOut", [](Parameters& p) { p.numberOfKids = 0; }, 50),
      Make(
          "OneOffspring", [](Parameters& p) { p.numberOfKids = 1; }, 100),
      Make(
          "TwelveOffspringFullHabitats",
          [](Parameters& p) {
            p.numberOfKids = 12;
            p.density = 8;
          },
          50),
      Make(
          "TwelveOffspringFullHabitatsFoundedInOne",
          [](Parameters& p) {
            p.numberOfKids = 12;
            p.density = 8;
            p.initiallyOneHabitat = true;
            p.mutationRate = 10;
          },
          50),
      Make(
          "TwelveOffspringRestrictedIntoOneHabitat",
          [](Parameters& p) {
            p.numberOfKids = 12;
            p.density = 8;
            p.restrictedNatalDispersal = true;
            p.asymmetricalNatalDispersal = true;
            p.natalDispersalRate = 100;
          },
          50),
      Make(
          "FrequentMutation", [](Parameters& p) { p.mutationRate = 10; }, 300),
      Make(
          "RareMutation", [](Parameters& p) { p.mutationRate = 10000; }, 150),
      Make("NoHabitatSelection",
           [](Parameters& p) {
             p.selectionFactor = 0.0f;
             p.mutationRate = 20;
           }),
      Make("WeakHabitatSelection",
           [](Parameters& p) {
             p.selectionFactor = 0.3f;
             p.mutationRate = 20;
           }),
      Make(
          "FullHabitatSelection",
          [](Parameters& p) {
            p.selectionFactor = 1.0f;
            p.mutationRate = 20;
          },
          300),
      Make(
          "DensityTwo", [](Parameters& p) { p.density = 2; }, 150),
      Make(
          "DensityThreeSevenKids",
          [](Parameters& p) {
            p.density = 3;
            p.numberOfKids = 7;
          },
          100),
      Make(
          "DensityFour", [](Parameters& p) { p.density = 4; }, 50),
      Make(
          "DensityFive", [](Parameters& p) { p.density = 5; }, 60),
      Make(
          "DensitySixFoundedInOne",
          [](Parameters& p) {
            p.density = 6;
            p.initiallyOneHabitat = true;
          },
          50),
      Make(
          "DensitySevenThreeKids",
          [](Parameters& p) {
            p.density = 7;
            p.numberOfKids = 3;
          },
          50),
      Make(
          "DensityEightTwoKids",
          [](Parameters& p) {
            p.density = 8;
            p.numberOfKids = 2;
          },
          50),
      Make(
          "FoundedInOneHabitat",
          [](Parameters& p) {
            p.initiallyOneHabitat = true;
            p.mutationRate = 20;
          },
          150),
      Make(
          "NatalDispersalRestrictedNoMigration",
          [](Parameters& p) {
            p.restrictedNatalDispersal = true;
            p.natalDispersalRate = 0;
            p.mutationRate = 20;
            p.selectionFactor = 1.0f;
          },
          300),
      Make("NatalDispersalRestrictedTenPerCent",
           [](Parameters& p) {
             p.restrictedNatalDispersal = true;
             p.natalDispersalRate = 10;
             p.mutationRate = 20;
           }),
      Make("NatalDispersalRestrictedHalf",
           [](Parameters& p) {
             p.restrictedNatalDispersal = true;
             p.natalDispersalRate = 50;
           }),
      Make(
          "NatalDispersalRestrictedAlways",
          [](Parameters& p) {
            p.restrictedNatalDispersal = true;
            p.natalDispersalRate = 100;
          },
          100),
      Make(
          "NatalDispersalAsymmetrical",
          [](Parameters& p) {
            p.restrictedNatalDispersal = true;
            p.asymmetricalNatalDispersal = true;
            p.natalDispersalRate = 30;
            p.initiallyOneHabitat = true;
          },
          150),
      Make(
          "NatalDispersalAsymmetricalAlways",
          [](Parameters& p) {
            p.restrictedNatalDispersal = true;
            p.asymmetricalNatalDispersal = true;
            p.natalDispersalRate = 100;
          },
          100),
      Make("MatingDispersalRestrictedNone",
           [](Parameters& p) {
             p.restrictedMatingDispersal = true;
             p.matingDispersalRate = 0;
             p.mutationRate = 20;
           }),
      Make("MatingDispersalRestrictedTwentyPerCent",
           [](Parameters& p) {
             p.restrictedMatingDispersal = true;
             p.matingDispersalRate = 20;
             p.restrictedNatalDispersal = true;
             p.natalDispersalRate = 10;
           }),
      Make(
          "MatingDispersalRestrictedAlways",
          [](Parameters& p) {
            p.restrictedMatingDispersal = true;
            p.matingDispersalRate = 100;
          },
          100),
      Make(
          "MatingDispersalDrawsWithoutRestriction", [](Parameters& p) { p.matingDispersalRate = 60; }, 100),
      Make(
          "MatingPreferenceJudgesMatingType",
          [](Parameters& p) {
            p.gMatingPrefTarget = 0;
            p.mutationRate = 10;
            p.selectionFactor = 1.0f;
            p.restrictedNatalDispersal = true;
            p.natalDispersalRate = 10;
          },
          300),
      Make("MatingPreferenceJudgesSpecialization", SpeciationSetting, 400),
      Make(
          "MatingPreferenceJudgesSpecializationRestricted",
          [](Parameters& p) {
            SpeciationSetting(p);
            p.restrictedMatingDispersal = true;
            p.matingDispersalRate = 10;
          },
          300),
      Make("SignalFalseAlarms",
           [](Parameters& p) {
             p.gMatingPrefTarget = 2;
             p.mutationRate = 10;
             p.gFalseAlarmRate = 30;
           }),
      Make("SignalValuesMissedDetections",
           [](Parameters& p) {
             p.gMatingPrefTarget = 2;
             p.gIncludeSignalValue = true;
             p.mutationRate = 10;
             p.gFalseAlarmRate = 40;
             p.gMissedDetectionRate = 50;
             p.gFalseAlarmPayoff = 2;
           }),
      Make(
          "SignalFalseAlarmPayoffAboveBrood",
          [](Parameters& p) {
            p.gMatingPrefTarget = 2;
            p.gIncludeSignalValue = true;
            p.mutationRate = 10;
            p.gFalseAlarmRate = 100;
            p.gMissedDetectionRate = 100;
            p.gFalseAlarmPayoff = 5;
          },
          150),
      Make(
          "SignalValueWithoutSignalTarget",
          [](Parameters& p) {
            p.gIncludeSignalValue = true;
            p.gMatingPrefTarget = 1;
            p.mutationRate = 10;
          },
          150),
      Make(
          "MalesMateOnce",
          [](Parameters& p) {
            p.gMalesMateOnce = true;
            p.numberOfKids = 6;
          },
          150),
      Make(
          "MalesMateOnceWithSignals",
          [](Parameters& p) {
            p.gMalesMateOnce = true;
            p.gMatingPrefTarget = 2;
            p.gIncludeSignalValue = true;
            p.gFalseAlarmRate = 20;
            p.gMissedDetectionRate = 20;
            p.mutationRate = 10;
            p.numberOfKids = 6;
          },
          150),
      Make(
          "SearchCostTenth", [](Parameters& p) { p.gSearchCost = 0.1f; }, 150),
      Make(
          "SearchCostHalfSeven",
          [](Parameters& p) {
            p.gSearchCost = 0.5f;
            p.numberOfKids = 7;
            p.gMatingPrefTarget = 1;
            p.mutationRate = 10;
          },
          150),
      Make(
          "SearchCostCertainDeath", [](Parameters& p) { p.gSearchCost = 1.0f; }, 50),
      Make(
          "ViabilityEveryGenerationHalf",
          [](Parameters& p) {
            p.gIncludeGeneralViability = true;
            p.gGenerationsToEnvironmentalChange = 1;
            p.gViabilityFactor = 0.5f;
            p.mutationRate = 10;
            p.numberOfKids = 6;
          },
          150),
      Make("ViabilityEveryThirdGeneration",
           [](Parameters& p) {
             p.gIncludeGeneralViability = true;
             p.gGenerationsToEnvironmentalChange = 3;
             p.gViabilityFactor = 0.9f;
             p.mutationRate = 10;
             p.gSearchCost = 0.1f;
           }),
      Make(
          "ViabilityFiftyFactorZero",
          [](Parameters& p) {
            p.gIncludeGeneralViability = true;
            p.gGenerationsToEnvironmentalChange = 50;
            p.gViabilityFactor = 0.0f;
            p.mutationRate = 10;
          },
          150, Recording::kTimed, 10, 3),
      Make(
          "ViabilityFiftyFactorOneWithSignals",
          [](Parameters& p) {
            p.gIncludeGeneralViability = true;
            p.gGenerationsToEnvironmentalChange = 50;
            p.gViabilityFactor = 1.0f;
            p.gMatingPrefTarget = 2;
            p.gIncludeSignalValue = true;
            p.gMissedDetectionRate = 60;
            p.gFalseAlarmRate = 10;
            p.mutationRate = 10;
          },
          150, Recording::kTimed, 10, 3),
      Make(
          "ViabilityStateCarriesAcrossReplicates",
          [](Parameters& p) {
            p.gIncludeGeneralViability = true;
            p.gGenerationsToEnvironmentalChange = 3;
            p.gViabilityFactor = 0.5f;
            p.mutationRate = 10;
          },
          50, Recording::kTimed, 10, 3),
      Make(
          "NeutralGenes",
          [](Parameters& p) {
            p.gIncludeNeutralGenes = true;
            p.mutationRate = 10;
          },
          150),
      Make(
          "MigrationRecorded", [](Parameters& p) { p.noMigration = false; }, 50),
      Make(
          "EverythingAtOnce",
          [](Parameters& p) {
            p.numberOfKids = 5;
            p.mutationRate = 15;
            p.selectionFactor = 0.7f;
            p.density = 2;
            p.restrictedNatalDispersal = true;
            p.natalDispersalRate = 20;
            p.restrictedMatingDispersal = true;
            p.matingDispersalRate = 10;
            p.gMatingPrefTarget = 2;
            p.gIncludeSignalValue = true;
            p.gFalseAlarmRate = 25;
            p.gMissedDetectionRate = 35;
            p.gFalseAlarmPayoff = 3;
            p.gSearchCost = 0.1f;
            p.gIncludeGeneralViability = true;
            p.gGenerationsToEnvironmentalChange = 7;
            p.gViabilityFactor = 0.9f;
            p.gIncludeNeutralGenes = true;
            p.noMigration = false;
          },
          200),
      // The averaging modes, with spans that do and do not divide the
      // generations of a replicate.
      Make("AverageTotalSpanDivides", SpeciationSetting, 200, Recording::kTotal, 10),
      Make(
          "AverageTotalSpanCarriesOver", [](Parameters&) {}, 150, Recording::kTotal, 100, 3),
      Make("AveragePreferenceSpanDivides", SpeciationSetting, 200, Recording::kPreference, 20),
      Make("AveragePreferenceSpanCarriesOver", SpeciationSetting, 130, Recording::kPreference, 50, 3),
      Make("AverageSpecializationSpanDivides", SpeciationSetting, 200, Recording::kSpecialization, 50),
      Make(
          "AverageSpecializationSpanCarriesOver",
          [](Parameters& p) {
            SpeciationSetting(p);
            p.initiallyOneHabitat = true;
          },
          75, Recording::kSpecialization, 20, 3),
      Make("AverageMatingPreferenceSpanDivides", SpeciationSetting, 300, Recording::kMatingPreference, 100),
      Make("AverageMatingPreferenceSpanCarriesOver", SpeciationSetting, 150, Recording::kMatingPreference,
           20),
      Make("AverageMatingPreferenceLongLine", SpeciationSetting, 400, Recording::kMatingPreference, 1),
      Make(
          "AverageNothing", [](Parameters&) {}, 60, Recording::kNone, 10),
      Make(
          "AverageLeftHabitatEmpty",
          [](Parameters& p) {
            p.restrictedNatalDispersal = true;
            p.asymmetricalNatalDispersal = true;
            p.natalDispersalRate = 100;
          },
          60, Recording::kSpecialization, 7, 2),
  };
  for (std::size_t i = 0; i < all.size(); ++i) all[i].seeds = {SeedFor(i, 0), SeedFor(i, 1)};
  // One series whose replicate seeds wrap around 2^64.
  all.front().seeds.push_back(std::numeric_limits<std::uint64_t>::max());
  return all;
}

// Names the configuration in gtest's messages instead of dumping its bytes.
void PrintTo(const Configuration& configuration, std::ostream* out) { *out << configuration.name; }

class ReferenceComparison : public testing::TestWithParam<Configuration> {};

// The production series and the reference give the same data file and the
// same trace for every seed of the configuration.
TEST_P(ReferenceComparison, SameDataFileAndTrace) {
  const Configuration& configuration = GetParam();
  for (const std::uint64_t seed : configuration.seeds) {
    const SeriesText expected = RunReference(configuration, seed);
    const SeriesText actual = RunProduction(configuration, seed);

    // Both ran every generation: a header line and two lines per generation.
    const std::size_t traceLines = 1 + 2 * static_cast<std::size_t>(configuration.replicates) *
                                           static_cast<std::size_t>(configuration.generations);
    ASSERT_EQ(SplitLines(expected.trace, '\n').size(), traceLines) << "the reference left out generations";

    EXPECT_TRUE(expected.trace == actual.trace)
        << "configuration " << configuration.name << ", seed " << seed << ": the censuses differ first at "
        << FirstDifference(expected.trace, actual.trace, '\n', true);
    EXPECT_TRUE(expected.dataFile == actual.dataFile)
        << "configuration " << configuration.name << ", seed " << seed << ": the data files differ first at "
        << FirstDifference(expected.dataFile, actual.dataFile, '\r', false);
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, ReferenceComparison, testing::ValuesIn(Configurations()),
                         [](const testing::TestParamInfo<Configuration>& entry) { return entry.param.name; });

}  // namespace
