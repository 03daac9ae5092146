// A replicate saved between generations and restored ends with the record,
// trace, samples and draws of the replicate that ran through.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "run/replicate_state.h"
#include "run/settings_file.h"

namespace talveron {
namespace {

// Averages whose spans straddle the save, a change after it, statistics in
// the trace, genotype samples and an environment that switches.
SeriesPlan Plan() {
  SeriesPlan plan;
  plan.baseSeed = 4242;
  plan.replicates = 3;
  plan.generations = 60;
  EXPECT_TRUE(ApplyRecordName("total", plan.recording));
  plan.recording.gAveragingSpan = 7;
  plan.params.density = 2;
  plan.params.gIncludeNeutralGenes = true;
  plan.params.gIncludeGeneralViability = true;
  plan.params.gGenerationsToEnvironmentalChange = 9;
  EXPECT_FALSE(plan.changes.Add(40, "natalDispersalRate", "30"));
  plan.traceStats = true;
  plan.genotypes = true;
  plan.sampleEvery = 10;
  return plan;
}

std::vector<std::uint8_t> Bytes(const std::vector<Individ>& list) {
  std::vector<std::uint8_t> bytes(list.size() * sizeof(Individ));
  if (!list.empty()) std::memcpy(bytes.data(), list.data(), bytes.size());
  return bytes;
}

void ExpectSameSpan(const SpanSums& a, const SpanSums& b) {
  EXPECT_EQ(a.count, b.count);
  EXPECT_EQ(a.total, b.total);
  EXPECT_EQ(a.preference, b.preference);
  EXPECT_EQ(a.specialization, b.specialization);
  EXPECT_EQ(a.mating, b.mating);
}

TEST(ReplicateState, ARestoredRunEndsAsTheOneThatRanThrough) {
  const SeriesPlan plan = Plan();
  ReplicateRun original(plan, 2, true);
  for (int i = 0; i < 12; ++i) original.RunGeneration();
  const ReplicatePiece handedOn = original.TakePiece();  // text before the save went to the writer
  for (int i = 0; i < 13; ++i) original.RunGeneration();
  const std::string saved = SaveReplicateState(plan, original);

  const RestoredReplicate restored = RestoreReplicateState(saved, "run.state");
  ReplicateRun& again = *restored.run;
  EXPECT_EQ(again.generation(), 25);  // where it stood, nothing run again
  EXPECT_EQ(again.world().rng.DrawCount(), original.world().rng.DrawCount());
  EXPECT_EQ(restored.plan->generations, 60);
  EXPECT_EQ(restored.plan->baseSeed, 4242u);
  EXPECT_TRUE(restored.plan->changes == plan.changes);
  EXPECT_EQ(RecordName(restored.plan->recording), "total");
  EXPECT_EQ(restored.plan->sampleEvery, 10);

  while (!original.Done()) original.RunGeneration();
  while (!again.Done()) again.RunGeneration();
  const ReplicatePiece a = original.TakePiece();
  const ReplicatePiece b = again.TakePiece();
  ASSERT_FALSE(a.data.empty());
  ASSERT_FALSE(a.trace.empty());
  EXPECT_EQ(a.replicate, 2);
  EXPECT_EQ(b.replicate, 2);
  EXPECT_TRUE(a.data == b.data);
  EXPECT_TRUE(a.trace == b.trace);
  EXPECT_TRUE(b.finished);
  EXPECT_TRUE(handedOn.firstSpanCompleted);  // the first span, begun in replicate 1, ended before the save
  EXPECT_EQ(a.firstSpanCompleted, b.firstSpanCompleted);
  ExpectSameSpan(a.firstSpan, b.firstSpan);
  ExpectSameSpan(a.lastSpan, b.lastSpan);
  EXPECT_EQ(a.seed, b.seed);
  EXPECT_EQ(a.draws, b.draws);
  EXPECT_EQ(a.messages, b.messages);
  ASSERT_EQ(a.samples.size(), 6u);  // generations 10..60
  ASSERT_EQ(b.samples.size(), a.samples.size());
  for (std::size_t i = 0; i < a.samples.size(); ++i) {
    EXPECT_EQ(a.samples[i].generation, b.samples[i].generation);
    EXPECT_EQ(Bytes(a.samples[i].adults), Bytes(b.samples[i].adults));
  }
  EXPECT_EQ(original.recorder().gGenerationWithHabitatPreferences50, again.recorder().gGenerationWithHabitatPreferences50);
}

TEST(ReplicateState, OtherStatesAndDamagedPlansAreRefusedByName) {
  World world;
  world.SeedRandom(1);
  try {
    RestoreReplicateState(SaveWorldState(world), "run.state");
    FAIL() << "a world was taken for a replicate";
  } catch (const StateError& error) {
    EXPECT_STREQ(error.what(), "run.state: a saved talveron world, where a saved talveron replicate was expected");
  }

  // A plan whose change comes after its last generation.
  SeriesPlan plan = Plan();
  plan.generations = 30;
  ReplicateRun run(plan, 1, false);
  try {
    RestoreReplicateState(SaveReplicateState(plan, run), "run.state");
    FAIL() << "a change after the last generation was taken";
  } catch (const StateError& error) {
    EXPECT_NE(std::string(error.what()).find("run.state: a saved talveron state that is damaged (change at generation 40"),
              std::string::npos)
        << error.what();
  }
}

}  // namespace
}  // namespace talveron
