// A world saved mid-run and restored into another steps on as the saved one
// does; bytes that are not a whole world state of this version are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/world_state.h"
#include "model_support.h"

namespace talveron {
namespace {

using testing::RecordingHooks;

// Signals, viability, neutral genes and a short environmental period, so
// that every part of the state takes part in the generations.
void Found(World& world, std::uint64_t seed) {
  world.params.density = 3;
  world.params.gMatingPrefTarget = 2;
  world.params.gIncludeSignalValue = true;
  world.params.gIncludeGeneralViability = true;
  world.params.gIncludeNeutralGenes = true;
  world.params.gFalseAlarmRate = 10;
  world.params.gSearchCost = 0.05f;
  world.params.gGenerationsToEnvironmentalChange = 7;
  world.params.mutationRate = 20;
  world.SeedRandom(seed);
  world.InitPopulations();
}

void Step(World& world, int generations) {
  for (int i = 0; i < generations; ++i) {
    ++world.gGenerationNumber;
    world.Reproduction();
    world.Dispersal();
    world.Mortality();
    world.TallyLinkedList();
    world.ChangeEnvironmentIfDue();
  }
}

std::vector<std::uint8_t> Bytes(const std::vector<Individ>& list) {
  std::vector<std::uint8_t> bytes(list.size() * sizeof(Individ));
  if (!list.empty()) std::memcpy(bytes.data(), list.data(), bytes.size());
  return bytes;
}

void ExpectSame(World& a, World& b) {
  EXPECT_EQ(a.gGenerationNumber, b.gGenerationNumber);
  EXPECT_EQ(a.totalAdults(), b.totalAdults());
  EXPECT_EQ(Bytes(a.adults), Bytes(b.adults));
  EXPECT_EQ(a.gCurrentViability, b.gCurrentViability);
  EXPECT_EQ(a.rng.DrawCount(), b.rng.DrawCount());
  EXPECT_EQ(std::memcmp(a.geneFrequencies.count, b.geneFrequencies.count, sizeof a.geneFrequencies.count), 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(a.rng.Next(), b.rng.Next());
}

TEST(WorldState, ARestoredWorldStepsOnAsTheSavedOne) {
  RecordingHooks hooks;
  World original(&hooks);
  Found(original, 41);
  Step(original, 30);
  const std::string saved = SaveWorldState(original);

  // Another world, elsewhere in another run, takes the whole state.
  World restored(&hooks);
  Found(restored, 5);
  restored.params.density = 8;
  Step(restored, 3);
  RestoreWorldState(restored, saved);
  EXPECT_EQ(restored.gGenerationNumber, 30);
  EXPECT_EQ(restored.rng.DrawCount(), original.rng.DrawCount());
  EXPECT_EQ(restored.params.density, 3);
  EXPECT_TRUE(SaveWorldState(restored) == saved);

  Step(original, 25);
  Step(restored, 25);
  ASSERT_GT(original.totalAdults(), 0);
  EXPECT_NE(original.gCurrentViability, 2);  // the environment has switched
  ExpectSame(original, restored);
}

TEST(WorldState, EveryParameterIsKept) {
  // Each parameter at an allowed value other than its default: a parameter
  // added to the table and not to the state comes back as its default.
  World original;
  const Parameters defaults;
  for (const ParameterInfo& info : ParameterTable()) {
    for (const double value : {info.minimum, info.maximum}) {
      const std::string text =
          info.kind == ParameterKind::Decimal ? std::to_string(value) : std::to_string(static_cast<long>(value));
      Parameters trial = original.params;
      if (SetParameter(trial, info.name, text) || FormatParameter(trial, info) == FormatParameter(defaults, info)) {
        continue;
      }
      original.params = trial;
      break;
    }
    ASSERT_NE(FormatParameter(original.params, info), FormatParameter(defaults, info)) << info.name;
  }
  World restored;
  RestoreWorldState(restored, SaveWorldState(original));
  for (const ParameterInfo& info : ParameterTable()) {
    EXPECT_EQ(FormatParameter(restored.params, info), FormatParameter(original.params, info)) << info.name;
  }
}

TEST(WorldState, ScriptedDrawsStillToComeAreKept) {
  World original;
  Found(original, 3);
  original.rng.Script({100, -200, 300});
  EXPECT_EQ(original.rng.Random(), 100);
  World restored;
  RestoreWorldState(restored, SaveWorldState(original));
  EXPECT_EQ(restored.rng.Random(), -200);
  EXPECT_EQ(restored.rng.Random(), 300);
  EXPECT_TRUE(restored.rng.ScriptEmpty());
  EXPECT_EQ(original.rng.Random(), -200);
  EXPECT_EQ(original.rng.Random(), 300);
  EXPECT_EQ(restored.rng.Random(), original.rng.Random());
}

std::string RefusalOf(std::string_view bytes) {
  World world;
  try {
    RestoreWorldState(world, bytes, "saved.state");
  } catch (const StateError& error) {
    return error.what();
  }
  return "";
}

TEST(WorldState, BytesNotAWholeStateOfThisVersionAreRefusedByName) {
  World world;
  Found(world, 9);
  Step(world, 5);
  const std::string saved = SaveWorldState(world);

  EXPECT_EQ(RefusalOf("{\"format\": 1}"),
            "saved.state: not a saved talveron world (it does not begin with the mark \"TALVERON STATE\")");
  EXPECT_NE(RefusalOf("").find("not a saved talveron world"), std::string::npos);

  std::string other = saved;
  other[kStateMark.size()] = 3;  // the format version, little-endian
  EXPECT_EQ(RefusalOf(other), "saved.state: a saved talveron world of format version 3; this talveron reads version 2");

  EXPECT_EQ(RefusalOf(SealState("replicate", "")),
            "saved.state: a saved talveron replicate, where a saved talveron world was expected");

  // Cut anywhere: refused, never read past its end.
  for (std::size_t size = 1; size < saved.size(); size += (size < 200 ? 1 : 97)) {
    const std::string refusal = RefusalOf(std::string_view(saved).substr(0, size));
    ASSERT_NE(refusal.find("cut short"), std::string::npos) << size << ": " << refusal;
  }
  // A byte changed anywhere after the mark and version.
  for (std::size_t at = kStateMark.size() + 4; at < saved.size(); at += 211) {
    std::string damaged = saved;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
    const std::string refusal = RefusalOf(damaged);
    ASSERT_TRUE(refusal.find("damaged") != std::string::npos || refusal.find("cut short") != std::string::npos ||
                refusal.find("where a saved") != std::string::npos)
        << at << ": " << refusal;
  }
  EXPECT_NE(RefusalOf(saved + "x").find("damaged"), std::string::npos);
}

// A checksum only says the bytes are as written; values the phases would
// index with are checked one by one.
TEST(WorldState, ValuesOutsideTheirRangeAreRefusedByName) {
  World world;
  Found(world, 9);
  world.adults[0].x = kColumns;
  EXPECT_EQ(RefusalOf(SaveWorldState(world)),
            "saved.state: a saved talveron state that is damaged (an individual's x is 32; allowed is 0 to 31)");
  world.adults[0].x = 0;
  world.params.density = 0;
  EXPECT_NE(RefusalOf(SaveWorldState(world)).find("density"), std::string::npos);
  world.params.density = 3;
  world.gCurrentViability = 3;
  EXPECT_NE(RefusalOf(SaveWorldState(world)).find("gCurrentViability is 3"), std::string::npos);

  // A world refused keeps what it had.
  World kept;
  Found(kept, 2);
  const std::vector<std::uint8_t> before = Bytes(kept.adults);
  EXPECT_THROW(RestoreWorldState(kept, SaveWorldState(world)), StateError);
  EXPECT_EQ(Bytes(kept.adults), before);
}

}  // namespace
}  // namespace talveron
