// A replicate saved between generations and restored ends with the record,
// trace, samples and draws of the replicate that ran through.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../model/state_layout.h"
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

// A replicate's state laid out field by field in the test, with a value of
// its own in every field, reads and is saved again byte for byte; only the
// seconds run so far (kept as a start time) have moved on.
TEST(ReplicateState, TheBytesAreTheFieldsInTheirOrderAndWidths) {
  using testing::Layout;
  Layout body;
  // The plan: the parameters (the defaults, density 2) ...
  body.Int(4, 2).Int(100, 2).Int(0x3F000000, 4).Int(2, 2).Int(0, 1).Int(0, 1).Int(0, 1).Int(0, 2);
  body.Int(0, 1).Int(0, 2).Int(0, 2).Int(0, 1).Int(0, 4).Int(0, 1).Int(0, 1).Int(0, 1);
  body.Int(0, 2).Int(0, 2).Int(1, 2).Int(0x3F800000, 4).Int(10000, 4).Int(1, 1).Int(0, 1);
  // ... what is recorded and the span, seed, replicates, generations ...
  body.Int(1, 1).Int(0, 1).Int(1, 1).Int(0, 1).Int(1, 1).Int(7, 8);
  body.Int(4242, 8).Int(3, 8).Int(60, 8);
  // ... one change, of one value, at generation 40, then the trace and samples.
  body.Int(1, 8).Int(40, 8).Int(1, 8).Text("natalDispersalRate").Text("30");
  body.Int(1, 1).Int(1, 1).Int(10, 8);

  // The run: traced, at generation 25, a message seen 3 times, its world.
  body.Int(1, 1).Int(25, 8).Int(1, 8).Text("a message").Int(3, 8);
  World world;
  world.params.density = 2;
  world.SeedRandom(11);
  world.InitPopulations();
  world.gGenerationNumber = 25;
  const std::string worldState = SaveWorldState(world);
  body.Raw(std::string_view(worldState).substr(16 + 4 + 8 + 5 + 8, worldState.size() - 16 - 4 - 8 - 5 - 8 - 8));
  // The recorder: its census totals, criteria met, two flags, the span
  // under way, its pending text and its first span.
  for (int total = 1; total <= 22; ++total) body.Int(static_cast<std::uint64_t>(total), 8);
  body.Int(11, 8).Int(12, 8).Int(13, 8).Int(14, 8).Int(15, 8).Int(1, 1).Int(0, 1);
  body.Int(4, 8).Int(500, 8).Int(600, 8).Int(700, 8).Int(800, 8).Text("pending\t");
  body.Int(1, 1).Int(1, 1).Int(7, 8).Int(70, 8).Int(71, 8).Int(72, 8).Int(73, 8);
  // What it has not handed on: replicate 2's text, spans, seed, draws,
  // seconds (2.5), messages and one genotype sample of one adult.
  body.Int(2, 8).Text("data\n").Text("trace\n");
  body.Int(1, 1).Int(7, 8).Int(80, 8).Int(81, 8).Int(82, 8).Int(83, 8);
  body.Int(0, 1).Int(3, 8).Int(90, 8).Int(91, 8).Int(92, 8).Int(93, 8);
  body.Int(0xDEADBEEF, 8).Int(123456, 8).Int(0x4004000000000000ULL, 8).Int(0, 8);
  body.Int(1, 8).Int(20, 8).Int(1, 8);
  body.Raw(std::string_view("\x00\x05\x00\x01\x02\x01\x00\x00\x01\x04\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 21));
  // No samples since, and one second run so far.
  body.Int(0, 8).Int(0x3FF0000000000000ULL, 8);
  const std::string laid = testing::Sealed("replicate", body.bytes);

  // Saved again, byte for byte the same ...
  const RestoredReplicate restored = RestoreReplicateState(laid, "laid.state");
  const std::string saved = SaveReplicateState(*restored.plan, *restored.run);
  ASSERT_EQ(saved.size(), laid.size());
  const std::size_t secondsAt = saved.size() - 16;
  EXPECT_TRUE(saved.compare(0, secondsAt, laid, 0, secondsAt) == 0) << "the saved bytes differ from their layout";
  double seconds = 0;
  std::memcpy(&seconds, saved.data() + secondsAt, sizeof seconds);
  EXPECT_GE(seconds, 1.0);
  Layout checksum;
  checksum.Int(testing::Fnv1a(std::string_view(saved).substr(0, saved.size() - 8)), 8);
  EXPECT_TRUE(saved.compare(saved.size() - 8, 8, checksum.bytes) == 0);

  // ... and each value in its own field, not in a neighbour's of its type
  // (which writing and reading alike would keep).
  const SeriesPlan& plan = *restored.plan;
  EXPECT_EQ(plan.params.density, 2);
  const RecordingChoices& r = plan.recording;
  EXPECT_TRUE(r.gGetTimedCriteria && r.gGetAveragedLeftHabitatPreference && r.gGetAverageLeftHabitatMatingPreference);
  EXPECT_FALSE(r.gGetAverageLeftHabitatTotal || r.gGetAverageLeftHabitatSpecialization);
  EXPECT_EQ(r.gAveragingSpan, 7);
  EXPECT_EQ(plan.baseSeed, 4242u);
  EXPECT_EQ(plan.replicates, 3);
  EXPECT_EQ(plan.generations, 60);
  EXPECT_TRUE(plan.traceStats && plan.genotypes);
  EXPECT_EQ(plan.sampleEvery, 10);
  ReplicateRun& run = *restored.run;
  EXPECT_EQ(run.generation(), 25);
  EXPECT_EQ(run.world().gGenerationNumber, 25);
  const DataRecorder& recorder = run.recorder();
  EXPECT_EQ(recorder.totals.habitatTotal[0], 1);
  EXPECT_EQ(recorder.totals.matingPrefTotal[0][2], 7);
  EXPECT_EQ(recorder.totals.habitatTotal[1], 12);
  EXPECT_EQ(recorder.totals.habitatSpecTotal[1][0], 13);
  EXPECT_EQ(recorder.totals.blublu[1], 22);
  EXPECT_EQ(recorder.gGenerationWithHabitatPreferences50, 11);
  EXPECT_EQ(recorder.gGenerationWithHabitatSpecialization95, 13);
  EXPECT_EQ(recorder.gGenerationWithMatingPreference95, 15);
  EXPECT_TRUE(recorder.gLeftHabitatRedPreference);
  EXPECT_FALSE(recorder.gPreferenceFad);
  ExpectSameSpan(recorder.CurrentSpan(), {4, 500, 600, 700, 800});
  EXPECT_EQ(recorder.gDataString, "pending\t");
  ExpectSameSpan(recorder.firstSpan(), {7, 70, 71, 72, 73});
  const ReplicatePiece piece = run.TakePiece();
  EXPECT_EQ(piece.replicate, 2);
  EXPECT_EQ(piece.data, "data\npending\t");  // the recorder's pending text handed on with it
  EXPECT_EQ(piece.trace, "trace\n");
  EXPECT_FALSE(piece.finished);
  ExpectSameSpan(piece.lastSpan, {3, 90, 91, 92, 93});
  EXPECT_EQ(piece.seed, 0xDEADBEEFu);
  EXPECT_EQ(piece.draws, 123456u);
  EXPECT_EQ(piece.seconds, 2.5);
  EXPECT_TRUE(piece.messages.empty());  // the run's message is its own until it ends
  ASSERT_EQ(piece.samples.size(), 1u);
  EXPECT_EQ(piece.samples[0].generation, 20);
  ASSERT_EQ(piece.samples[0].adults.size(), 1u);
  EXPECT_EQ(piece.samples[0].adults[0].x, 5);
  EXPECT_EQ(piece.samples[0].adults[0].signalValue, 4);
  while (!run.Done()) run.RunGeneration();
  const ReplicatePiece last = run.TakePiece();
  EXPECT_EQ(last.messages.count("a message") == 1 ? last.messages.at("a message") : 0, 3);
  EXPECT_EQ(last.samples.size(), 4u);  // generations 30 to 60, none from before
}

}  // namespace
}  // namespace talveron
