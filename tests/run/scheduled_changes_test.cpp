// Scheduled changes in a series: a change at generation G is a world stepped
// to G - 1, set and stepped on; replicates run apart give the bytes of the
// series in one piece; settings files and studies carry the changes.
#include <gtest/gtest.h>

#include "record/trace.h"
#include "run/parallel_series.h"
#include "run/scheduled_changes.h"
#include "run/series.h"
#include "run/settings_file.h"
#include "run/study.h"
#include "string_sink.h"

namespace talveron {
namespace {

using testing::StringSink;

SeriesPlan ContactPlan() {
  SeriesPlan plan;
  plan.baseSeed = 4242;
  plan.replicates = 3;
  plan.generations = 60;
  plan.params.density = 3;
  plan.params.restrictedNatalDispersal = true;
  plan.params.restrictedMatingDispersal = true;
  plan.params.gMatingPrefTarget = 1;
  plan.params.gIncludeGeneralViability = true;
  plan.params.gGenerationsToEnvironmentalChange = 7;
  return plan;
}

// Replicate 1 through the world alone: stepped to G - 1, the parameters
// set by hand, stepped on. The trace of every generation and the state at
// the end.
struct ByHand {
  std::string trace;
  std::vector<Individ> adults;
  std::uint64_t draws = 0;
};
ByHand StepSetStepOn(const SeriesPlan& plan, long at, const std::vector<std::pair<std::string, std::string>>& set) {
  World world;
  world.params = plan.params;
  DataRecorder recorder;
  world.SeedRandom(ReplicateSeed(plan.baseSeed, 1));
  world.InitPopulations();
  ByHand result;
  for (long g = 1; g <= plan.generations; ++g) {
    if (g == at) {
      for (const auto& [name, value] : set) EXPECT_FALSE(SetParameter(world.params, name, value));
    }
    world.gGenerationNumber = static_cast<int>(g);
    RunGeneration(world, &recorder);
    result.trace += TraceLines(1, g, world.geneFrequencies);
  }
  result.adults = world.adults;
  result.draws = world.rng.DrawCount();
  return result;
}

ByHand Scheduled(const SeriesPlan& plan) {
  ReplicateRun run(plan, 1, true);
  while (!run.Done()) run.RunGeneration();
  ByHand result{run.TakePiece().trace, run.world().adults, run.world().rng.DrawCount()};
  return result;
}

bool SameAdults(const std::vector<Individ>& a, const std::vector<Individ>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const Individ& x, const Individ& y) {
           return std::memcmp(&x, &y, sizeof x) == 0;
         });
}

TEST(ScheduledChanges, AChangeIsTheWorldSteppedSetAndSteppedOn) {
  const std::vector<std::pair<std::string, std::string>> set = {
      {"natalDispersalRate", "30"}, {"matingDispersalRate", "20"}, {"selectionFactor", "0.9"}, {"density", "1"}};
  for (const long at : {1L, 25L, 60L}) {
    SeriesPlan plan = ContactPlan();
    for (const auto& [name, value] : set) ASSERT_FALSE(plan.changes.Add(at, name, value));
    const ByHand expected = StepSetStepOn(plan, at, set);
    const ByHand scheduled = Scheduled(plan);
    EXPECT_TRUE(scheduled.trace == expected.trace) << "at " << at;
    EXPECT_TRUE(SameAdults(scheduled.adults, expected.adults)) << "at " << at;
    EXPECT_EQ(scheduled.draws, expected.draws) << "at " << at;
    // And the change changed something.
    const ByHand unchanged = StepSetStepOn(plan, 0, {});
    EXPECT_FALSE(unchanged.trace == expected.trace) << "at " << at;
  }
}

// The series in one piece carries the environment from replicate to
// replicate; run apart, each replicate must know it from the plan, also
// when a change alters the period of the environment.
TEST(ScheduledChanges, ReplicatesRunApartGiveTheSeriesInOnePiece) {
  SeriesPlan plan = ContactPlan();
  plan.replicates = 5;
  plan.generations = 40;
  ASSERT_FALSE(plan.changes.Add(13, "gGenerationsToEnvironmentalChange", "5"));
  ASSERT_FALSE(plan.changes.Add(13, "natalDispersalRate", "50"));
  ASSERT_FALSE(plan.changes.Add(31, "gGenerationsToEnvironmentalChange", "2"));

  World world;
  world.params = plan.params;
  DataRecorder recorder;
  StringSink data;
  recorder.SetSink(&data);
  std::string trace = kTraceHeader;
  SeriesCallbacks callbacks;
  callbacks.censusTaken = [&trace](long replicate, const World& w) {
    trace += TraceLines(replicate, w.gGenerationNumber, w.geneFrequencies);
  };
  SeriesOptions options{plan.baseSeed, plan.replicates, plan.generations, plan.changes};
  RunSeries(world, recorder, options, callbacks);

  for (const int jobs : {1, 3}) {
    StringSink parallelData;
    StringSink parallelTrace;
    SeriesWriter writer(plan, parallelData, &parallelTrace);
    RunOptions run;
    run.jobs = jobs;
    RunSeriesInParallel({&writer}, run);
    EXPECT_TRUE(parallelData.text == data.text) << "jobs " << jobs;
    EXPECT_TRUE(parallelTrace.text == trace) << "jobs " << jobs;
  }
}

TEST(ScheduledChanges, SettingsFilesCarryThemAndStudiesVaryThem) {
  const std::string text = R"(seed = 5
replicates = 2
generations = 3000
[set]
density = 2
[[change]]
generation = 2001
set = { natalDispersalRate = 10, matingDispersalRate = 10 }
[[change]]
generation = 2500
set = { selectionFactor = 0.25 }
[vary]
"change.1.generation" = [1001, 2001]
change.2.selectionFactor = [0.1, 0.3]
)";
  const SettingsFile file = ParseSettingsText(text, "contact.toml");
  ASSERT_EQ(file.settings.changes.size(), 2u);
  EXPECT_EQ(ChangeWords(file.settings.changes),
            (std::vector<std::string>{"2001:natalDispersalRate=10", "2001:matingDispersalRate=10",
                                      "2500:selectionFactor=0.25"}));
  const StudyPlan study = PlanStudy(file, 5);
  ASSERT_EQ(study.cells.size(), 4u);
  EXPECT_EQ(ChangeWords(study.cells[1].plan.changes),
            (std::vector<std::string>{"1001:natalDispersalRate=10", "1001:matingDispersalRate=10",
                                      "2500:selectionFactor=0.3"}));
  EXPECT_EQ(ChangeWords(study.cells[2].plan.changes),
            (std::vector<std::string>{"2001:natalDispersalRate=10", "2001:matingDispersalRate=10",
                                      "2500:selectionFactor=0.1"}));

  // Written and read again: the same changes and lists.
  const SettingsFile again = ParseSettingsText(SettingsFileText(file.settings, file.vary), "again.toml");
  EXPECT_TRUE(again.settings.changes == file.settings.changes);
  ASSERT_EQ(again.vary.size(), 2u);
  EXPECT_EQ(again.vary[0].name, "change.1.generation");
  EXPECT_EQ(again.vary[1].values, file.vary[1].values);
  EXPECT_NE(BatchCommandLine(file.settings, "out.txt").find(" --change 2001:natalDispersalRate=10 --change "
                                                            "2001:matingDispersalRate=10 --change "
                                                            "2500:selectionFactor=0.25 --out out.txt"),
            std::string::npos);

  // A varied generation that meets another change of the same parameter.
  const std::string clash = "generations = 100\n[[change]]\ngeneration = 10\nset = { density = 2 }\n"
                            "[[change]]\ngeneration = 20\nset = { density = 3 }\n"
                            "[vary]\n\"change.2.generation\" = [10, 30]\n";
  EXPECT_THROW(PlanStudy(ParseSettingsText(clash, "clash.toml"), 1), SettingsFileError);
  const std::string late = "generations = 100\n[[change]]\ngeneration = 10\nset = { density = 2 }\n"
                           "[vary]\n\"change.1.generation\" = [10, 101]\n";
  EXPECT_THROW(PlanStudy(ParseSettingsText(late, "late.toml"), 1), SettingsFileError);
  const std::string untraced = "stats = true\n[vary]\ndensity = [1, 2]\n";
  EXPECT_THROW(PlanStudy(ParseSettingsText(untraced, "untraced.toml"), 1), SettingsFileError);
  EXPECT_TRUE(PlanStudy(ParseSettingsText("trace = true\n" + untraced, "traced.toml"), 1).cells[0].plan.traceStats);
}

TEST(ScheduledChanges, SettingsFilesRefuseBadChangesWithTheirLine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"[[change]]\ngeneration = 5\nset = { initiallyOneHabitat = true }\n",
       "bad.toml:3: change at generation 5: initiallyOneHabitat cannot change"},
      {"[[change]]\ngeneration = 5\nset = { density = 9 }\n",
       "bad.toml:3: change at generation 5: '9' is not allowed for density: it takes a whole number from 1 to 8"},
      {"[[change]]\ngeneration = 0\nset = { density = 2 }\n", "bad.toml:2: generation of a [[change]]"},
      {"[[change]]\nset = { density = 2 }\n", "a [[change]] needs generation = G"},
      {"[[change]]\ngeneration = 5\n", "change at generation 5: needs set"},
      {"[[change]]\ngeneration = 5\nset = { density = 2 }\nwhen = 3\n", "bad.toml:4: unknown key 'when'"},
      {"[[change]]\ngeneration = 5\nset = { density = 2 }\n[[change]]\ngeneration = 5\nset = { gSearchCost = 0.1 }\n",
       "bad.toml:5: two [[change]] tables at generation 5"},
      {"[[change]]\ngeneration = 5\nset = { density = 2 }\n[vary]\n\"change.2.generation\" = [1]\n",
       "change.2.generation in [vary]: a change is varied as"},
      {"[[change]]\ngeneration = 5\nset = { density = 2 }\n[vary]\n\"change.1.noMigration\" = [true]\n",
       "noMigration cannot change"},
      {"change = 3\n", "change must be a list of tables"},
  };
  for (const auto& [text, expected] : cases) {
    try {
      ParseSettingsText(text, "bad.toml");
      ADD_FAILURE() << "accepted: " << text;
    } catch (const SettingsFileError& error) {
      EXPECT_NE(std::string(error.what()).find(expected), std::string::npos) << error.what();
    }
  }
}

}  // namespace
}  // namespace talveron
