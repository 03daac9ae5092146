// A world saved mid-run and restored into another steps on as the saved one
// does; bytes that are not a whole world state of this version are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/world_state.h"
#include "model_support.h"
#include "state_layout.h"

namespace talveron {
namespace {

using testing::Layout;
using testing::RecordingHooks;
using testing::Sealed;

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

// A saved world is exactly the fields it had in the first format of
// version 2, in their order and widths: a state saved by an earlier build
// reads, and one saved now is byte for byte the same.
TEST(WorldState, TheBytesAreTheFieldsInTheirOrderAndWidths) {
  World world;
  Parameters& p = world.params;
  p.numberOfKids = 7;
  p.mutationRate = 300;
  p.selectionFactor = 0.25f;
  p.density = 3;
  p.initiallyOneHabitat = true;
  p.asymmetricalNatalDispersal = true;
  p.natalDispersalRate = 45;
  p.restrictedMatingDispersal = true;
  p.matingDispersalRate = 60;
  p.gMatingPrefTarget = 2;
  p.gMalesMateOnce = true;
  p.gSearchCost = 0.05f;
  p.gIncludeSignalValue = true;
  p.gIncludeNeutralGenes = true;
  p.gFalseAlarmRate = 10;
  p.gMissedDetectionRate = 20;
  p.gFalseAlarmPayoff = 3;
  p.gViabilityFactor = 1.5f;
  p.gGenerationsToEnvironmentalChange = 70000;
  p.noMigration = false;
  p.asymmetricalMatingDispersal = true;
  RngState rng;
  rng.s[0] = 1;
  rng.s[1] = 0x0123456789ABCDEFULL;
  rng.s[2] = 0;
  rng.s[3] = 0xFFFFFFFFFFFFFFFFULL;
  rng.draws = 99;
  world.rng.Restore(rng, {-200, 300});
  // Neighbouring fields differ, so that two written in each other's place
  // show.
  Individ female;
  female.habitat = 1;
  female.x = 31;
  female.y = 39;
  female.habitatPref = 1;
  female.matingPrefType = 0;
  female.matingPrefValue = 9;
  female.signalType = 1;
  female.signalValue = 5;
  female.generalViability = 0;
  female.neutralGenes[0] = 1;
  female.neutralGenes[9] = 1;
  Individ male;
  male.x = 5;
  male.y = 7;
  male.sex = true;
  male.habitatSpec = 1;
  male.matingPrefType = 0;
  male.matingPrefValue = 3;
  male.signalValue = 4;
  male.generalViability = 1;
  male.neutralGenes[1] = 1;
  male.neutralGenes[2] = 1;
  world.adults = {female, male};
  world.young = {male};
  world.map[1][31][39] = 1;
  world.map[0][5][7] = 1;
  world.habitat0Census = 1;
  world.habitat1Census = 2;
  world.gCurrentViability = 0;
  world.gFalseAlarm = true;
  world.gGenerationNumber = 123456;
  world.geneFrequencies.count[1][2][0][1] = 70000;

  Layout body;
  body.Int(7, 2).Int(300, 2).Int(0x3E800000, 4).Int(3, 2);  // numberOfKids .. density
  body.Int(1, 1).Int(0, 1).Int(1, 1).Int(45, 2);           // initiallyOneHabitat .. natalDispersalRate
  body.Int(1, 1).Int(60, 2).Int(2, 2).Int(1, 1);           // restrictedMatingDispersal .. gMalesMateOnce
  body.Int(0x3D4CCCCD, 4).Int(1, 1).Int(0, 1).Int(1, 1);   // gSearchCost .. gIncludeNeutralGenes
  body.Int(10, 2).Int(20, 2).Int(3, 2).Int(0x3FC00000, 4); // gFalseAlarmRate .. gViabilityFactor
  body.Int(70000, 4).Int(0, 1).Int(1, 1);                  // gGenerationsToEnvironmentalChange ..
  body.Int(1, 8).Int(0x0123456789ABCDEFULL, 8).Int(0, 8).Int(~0ULL, 8).Int(99, 8);
  body.Int(2, 8).Int(static_cast<std::uint64_t>(-200), 4).Int(300, 4);
  // habitat, x, y, sex, five loci and two values, then the neutral genes
  const std::string femaleBytes{"\x01\x1f\x27\x00\x01\x02\x00\x09\x01\x05\x00"
                                "\x01\x00\x00\x00\x00\x00\x00\x00\x00\x01", 21};
  const std::string maleBytes{"\x00\x05\x07\x01\x02\x01\x00\x03\x02\x04\x01"
                              "\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00", 21};
  body.Int(2, 8).Raw(femaleBytes).Raw(maleBytes);
  body.Int(1, 8).Raw(maleBytes);
  // The map, habitat by habitat, column by column, a byte a cell.
  std::string map(2 * 32 * 40, '\0');
  map[1 * 1280 + 31 * 40 + 39] = 1;
  map[0 * 1280 + 5 * 40 + 7] = 1;
  body.Raw(map);
  body.Int(1, 8).Int(2, 8).Int(0, 1).Int(1, 1).Int(123456, 8);
  // The census counts [habitat][habitatSpec][habitatPref][matingPrefType].
  for (int i = 0; i < 2 * 3 * 3 * 3; ++i) body.Int(i == ((1 * 3 + 2) * 3 + 0) * 3 + 1 ? 70000 : 0, 8);

  const std::string saved = SaveWorldState(world);
  EXPECT_EQ(saved.size(), 16 + 4 + 8 + 5 + 8 + body.bytes.size() + 8);
  EXPECT_TRUE(saved == Sealed("world", body.bytes)) << "the saved bytes differ from their layout";
  // And they read back.
  World restored;
  RestoreWorldState(restored, saved);
  EXPECT_TRUE(SaveWorldState(restored) == saved);
  EXPECT_EQ(restored.gGenerationNumber, 123456);
  EXPECT_EQ(restored.rng.Random(), -200);
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
