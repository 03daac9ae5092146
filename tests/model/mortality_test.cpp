// Density-dependent mortality with habitat selection, and the viability
// selection of the newborn. The chances are checked through the draws that
// just kill or just spare an individual.
#include <gtest/gtest.h>

#include "model_support.h"

namespace talveron {
namespace {

using testing::Adult;
using testing::DrawFor;
using testing::RecordingHooks;

Individ Specialist(int habitat, int spec) {
  Individ individual = Adult(habitat, true);
  individual.habitatSpec = static_cast<std::uint8_t>(spec);
  return individual;
}

// Survives with chance p exactly when the Randomize(101) draw is p or less.
bool SurvivesWithDraw(World& world, const Individ& individual, int draw) {
  world.adults = {individual};
  world.rng.Script({DrawFor(draw, 101)});
  world.Mortality();
  return world.totalAdults() == 1;
}

// With the map shown, Mortality clears the cell of every adult that dies,
// and the same adults survive as with the map hidden.
TEST(Mortality, AShownMapLosesTheCellsOfTheDeadAndChangesNoOutcome) {
  std::vector<Individ> start;
  for (int i = 0; i < 200; ++i) start.push_back(Adult(i % 2, i % 3 == 0, i % 32, i % 40));
  RecordingHooks hidden;
  RecordingHooks shown;
  shown.minimize = false;
  World unseen(&hidden);
  World seen(&shown);
  for (World* world : {&unseen, &seen}) {
    world->adults = start;
    world->habitat0Census = 100;
    world->habitat1Census = 100;
    world->SeedRandom(9);
    world->Mortality();
  }
  ASSERT_LT(seen.totalAdults(), 200);
  EXPECT_EQ(shown.cleared, 200 - seen.totalAdults());
  EXPECT_EQ(hidden.cleared, 0);
  ASSERT_EQ(seen.totalAdults(), unseen.totalAdults());
  for (std::size_t i = 0; i < seen.adults.size(); ++i) {
    EXPECT_EQ(seen.adults[i].x, unseen.adults[i].x);
    EXPECT_EQ(seen.adults[i].y, unseen.adults[i].y);
    EXPECT_EQ(seen.adults[i].habitat, unseen.adults[i].habitat);
  }
  EXPECT_EQ(seen.rng.DrawCount(), unseen.rng.DrawCount());
}

TEST(PercentOf, TruncatesTheSinglePrecisionChance) {
  EXPECT_EQ(PercentOf(0.9f), 89);
  EXPECT_EQ(PercentOf(1.0f), 100);
  EXPECT_EQ(PercentOf(1.7f), 100);
  EXPECT_EQ(PercentOf(-0.5f), 0);
  EXPECT_EQ(PercentOf(0.8f), 80);
  EXPECT_EQ(PercentOf(0.4f), 40);
}

// density 1, 100 adults in habitat 0, selection 0.5: a generalist has 80,
// a specialist of habitat 0 100 and one of habitat 1 40.
TEST(Mortality, ChancesAboveCapacityFollowSpecialization) {
  RecordingHooks hooks;
  World world(&hooks);
  world.habitat0Census = 100;
  EXPECT_TRUE(SurvivesWithDraw(world, Specialist(0, 2), 80));
  EXPECT_FALSE(SurvivesWithDraw(world, Specialist(0, 2), 81));
  EXPECT_TRUE(SurvivesWithDraw(world, Specialist(0, 0), 100));
  EXPECT_TRUE(SurvivesWithDraw(world, Specialist(0, 1), 40));
  EXPECT_FALSE(SurvivesWithDraw(world, Specialist(0, 1), 41));
}

// density 1 and 160 adults: generalist 50, fitting specialist 75, misfit 25.
TEST(Mortality, HalfSurvivalAtTwiceTheCapacity) {
  World world;
  world.habitat1Census = 160;
  EXPECT_TRUE(SurvivesWithDraw(world, Specialist(1, 2), 50));
  EXPECT_FALSE(SurvivesWithDraw(world, Specialist(1, 2), 51));
  EXPECT_TRUE(SurvivesWithDraw(world, Specialist(1, 1), 75));
  EXPECT_FALSE(SurvivesWithDraw(world, Specialist(1, 1), 76));
  EXPECT_TRUE(SurvivesWithDraw(world, Specialist(1, 0), 25));
  EXPECT_FALSE(SurvivesWithDraw(world, Specialist(1, 0), 26));
}

// At or below capacity: generalists always survive (one draw each);
// misfits with 100 x (1 - selection), a single-precision 0.9 giving 89.
TEST(Mortality, BelowCapacityOnlyMisfitsMayDie) {
  World world;
  world.params.selectionFactor = 0.1f;
  world.habitat0Census = 80;
  EXPECT_TRUE(SurvivesWithDraw(world, Specialist(0, 2), 100));
  EXPECT_EQ(world.rng.DrawCount(), 1u);
  EXPECT_TRUE(SurvivesWithDraw(world, Specialist(0, 1), 89));
  EXPECT_FALSE(SurvivesWithDraw(world, Specialist(0, 1), 90));
}

// Selection 1 leaves misfits no chance: they die without a draw.
TEST(Mortality, FullSelectionKillsMisfitsWithoutADraw) {
  World world;
  world.params.selectionFactor = 1.0f;
  world.habitat0Census = 10;
  world.adults = {Specialist(0, 1), Specialist(0, 0)};
  world.rng.Script({DrawFor(100, 101)});
  world.Mortality();
  ASSERT_EQ(world.totalAdults(), 1);
  EXPECT_EQ(world.adults[0].habitatSpec, 0);
  EXPECT_EQ(world.rng.DrawCount(), 1u);
}

// The last individual dying is announced and paused on once; the next
// selection, finding nobody, reports the extinction as a message first.
TEST(Mortality, ExtinctionIsReportedThenRepeated) {
  RecordingHooks hooks;
  World world(&hooks);
  world.params.selectionFactor = 1.0f;
  world.habitat0Census = 10;
  world.adults = {Specialist(0, 1)};
  world.Mortality();
  EXPECT_EQ(world.totalAdults(), 0);
  EXPECT_EQ(hooks.infos, std::vector<std::string>{"Extinction"});
  EXPECT_EQ(hooks.waits, 1);
  EXPECT_TRUE(hooks.errors.empty());
  world.Mortality();
  EXPECT_EQ(hooks.errors, std::vector<std::string>{"Extinction"});
  EXPECT_EQ(hooks.waits, 2);
}

TEST(Mortality, AnnouncesItselfOnlyInStepMode) {
  RecordingHooks hooks;
  World world(&hooks);
  world.adults = {Specialist(0, 2)};
  world.Mortality();
  EXPECT_TRUE(hooks.infos.empty());
  hooks.step = true;
  world.Mortality();
  EXPECT_EQ(hooks.infos, std::vector<std::string>{"Mortality"});
}

// The densities are those Dispersal counted; deaths during the walk do not
// raise the chances of those walked later.
TEST(Mortality, ChancesAreFixedBeforeTheWalk) {
  World world;
  world.habitat0Census = 160;
  world.adults = {Specialist(0, 2), Specialist(0, 2)};
  world.rng.Script({DrawFor(51, 101), DrawFor(51, 101)});
  world.Mortality();
  EXPECT_EQ(world.totalAdults(), 0);
}

TEST(Mortality, AnEmptyHabitatHasFullBasicSurvival) {
  World world;
  world.habitat0Census = 0;
  EXPECT_TRUE(SurvivesWithDraw(world, Specialist(0, 2), 100));
}

// Before the first environmental change (state 2) every individual with
// viability 0 or 1 is a misfit and dies without a draw; neutral ones
// survive a factor of 1.0 (one draw each).
TEST(MortalityDuringDispersal, MisfitsDieAndNeutralsSurvive) {
  World world;
  Individ zero = Adult(0, true);
  zero.generalViability = 0;
  Individ neutral = Adult(0, true);
  world.adults = {zero, neutral, zero};
  world.MortalityDuringDispersal();
  ASSERT_EQ(world.totalAdults(), 1);
  EXPECT_EQ(world.adults[0].generalViability, 2);
  EXPECT_EQ(world.rng.DrawCount(), 1u);
}

TEST(MortalityDuringDispersal, AFittingAlleleSurvivesWithTheViabilityFactor) {
  World world;
  world.gCurrentViability = 1;
  world.params.gViabilityFactor = 0.9f;
  Individ fit = Adult(0, true);
  fit.generalViability = 1;
  world.adults = {fit, fit};
  world.rng.Script({DrawFor(89, 101), DrawFor(90, 101)});
  world.MortalityDuringDispersal();
  EXPECT_EQ(world.totalAdults(), 1);
}

}  // namespace
}  // namespace talveron
