// Founding, removal, the census walk and the environment's switching.
#include <gtest/gtest.h>

#include "model/fatal_error.h"
#include "model_support.h"

namespace talveron {
namespace {

using testing::Adult;
using testing::RecordingHooks;

TEST(InitPopulations, DensityEightFillsEveryCellOfBothHabitats) {
  RecordingHooks hooks;
  World world(&hooks);
  world.params.density = 8;
  world.SeedRandom(1);
  world.InitPopulations();
  EXPECT_EQ(world.totalAdults(), 2560);
  ASSERT_EQ(hooks.zeroResults.size(), 1u);
  EXPECT_EQ(hooks.zeroResults[0], std::make_pair(1280, 1280));
  // One cell draw and one sex draw per cell.
  EXPECT_EQ(world.rng.DrawCount(), 2u * 2560u);
}

// With one founding habitat every founder is in habitat 0, in scan order:
// by column, then by row.
TEST(InitPopulations, OneHabitatFoundsTheLeftOneInScanOrder) {
  RecordingHooks hooks;
  World world(&hooks);
  world.params.density = 8;
  world.params.initiallyOneHabitat = true;
  world.SeedRandom(2);
  world.InitPopulations();
  ASSERT_EQ(world.totalAdults(), 1280);
  EXPECT_EQ(hooks.zeroResults[0], std::make_pair(1280, 0));
  for (int i = 0; i < world.totalAdults(); ++i) {
    const Individ& founder = world.adults[static_cast<std::size_t>(i)];
    ASSERT_EQ(founder.habitat, 0);
    ASSERT_EQ(founder.x, i / kRows);
    ASSERT_EQ(founder.y, i % kRows);
  }
}

// Every founder is neutral at all five loci, so the first census counts
// them all in the allele-2 classes.
TEST(InitPopulations, FoundersAreNeutralAndRoughlyHalfMale) {
  World world;
  world.SeedRandom(3);
  world.InitPopulations();
  int males = 0;
  for (const Individ& founder : world.adults) {
    EXPECT_EQ(founder.habitatPref, 2);
    EXPECT_EQ(founder.habitatSpec, 2);
    EXPECT_EQ(founder.matingPrefType, 2);
    EXPECT_EQ(founder.signalType, 2);
    EXPECT_EQ(founder.generalViability, 2);
    EXPECT_EQ(founder.matingPrefValue, 0);
    EXPECT_EQ(founder.signalValue, 0);
    males += founder.sex ? 1 : 0;
  }
  // density 1: each cell with probability 1/8, about 320 founders
  EXPECT_GT(world.totalAdults(), 240);
  EXPECT_LT(world.totalAdults(), 400);
  EXPECT_GT(males, world.totalAdults() / 3);
  EXPECT_LT(males, world.totalAdults() * 2 / 3);
  world.TallyLinkedList();
  EXPECT_EQ(world.geneFrequencies.count[0][2][2][2] + world.geneFrequencies.count[1][2][2][2],
            world.totalAdults());
}

// Drawing is only a view: the population is the same with the display on.
TEST(InitPopulations, DrawingDoesNotChangeThePopulation) {
  RecordingHooks quiet;
  RecordingHooks shown;
  shown.minimize = false;
  World a(&quiet);
  World b(&shown);
  a.SeedRandom(11);
  b.SeedRandom(11);
  a.InitPopulations();
  b.InitPopulations();
  ASSERT_EQ(a.totalAdults(), b.totalAdults());
  EXPECT_EQ(quiet.drawn, 0);
  EXPECT_EQ(shown.drawn, b.totalAdults());
  for (std::size_t i = 0; i < a.adults.size(); ++i) {
    EXPECT_EQ(a.adults[i].x, b.adults[i].x);
    EXPECT_EQ(a.adults[i].sex, b.adults[i].sex);
  }
}

TEST(WipeIndividual, RemovesHeadTailInnerAndOnlyMember) {
  World world;
  for (int i = 0; i < 5; ++i) world.adults.push_back(Adult(0, true, i, 0));
  world.WipeIndividual(0);  // head: 1 2 3 4
  EXPECT_EQ(world.adults.front().x, 1);
  world.WipeIndividual(3);  // tail: 1 2 3
  EXPECT_EQ(world.adults.back().x, 3);
  world.WipeIndividual(1);  // inner: 1 3
  EXPECT_EQ(world.adults[0].x, 1);
  EXPECT_EQ(world.adults[1].x, 3);
  world.WipeIndividual(0);
  world.WipeIndividual(0);  // the only member
  EXPECT_EQ(world.totalAdults(), 0);
}

TEST(WipeIndividual, WithoutAnIndividualIsFatal) {
  World world;
  EXPECT_THROW(world.WipeIndividual(0), FatalError);
}

TEST(CheckLinkedList, OnlyBeepsForAnEmptyList) {
  RecordingHooks hooks;
  World world(&hooks);
  world.adults.push_back(Adult(0, true));
  world.CheckLinkedList("test");
  EXPECT_EQ(hooks.beeps, 0);
  world.adults.clear();
  world.CheckLinkedList("test");
  EXPECT_EQ(hooks.beeps, 1);
  EXPECT_TRUE(hooks.errors.empty());
}

TEST(ClearIndividuals, WipesTheMapOnlyWhenThereWereAdults) {
  RecordingHooks hooks;
  World world(&hooks);
  world.ClearIndividuals();
  EXPECT_EQ(hooks.mapErasures, 0);
  world.adults.push_back(Adult(1, false));
  world.ClearIndividuals();
  EXPECT_EQ(hooks.mapErasures, 1);
  EXPECT_TRUE(world.adults.empty());
}

// A period of 1 switches after every generation: 2 -> 0 -> 1 -> 0 ...
TEST(EnvironmentalChange, PeriodOneAlternatesFromTheInitialState) {
  World world;
  world.params.gGenerationsToEnvironmentalChange = 1;
  const int expected[] = {0, 1, 0, 1};
  for (int generation = 1; generation <= 4; ++generation) {
    world.gGenerationNumber = generation;
    world.ChangeEnvironmentIfDue();
    EXPECT_EQ(world.gCurrentViability, expected[generation - 1]);
  }
}

TEST(EnvironmentalChange, DefaultPeriodNeverSwitchesWithinAReplicate) {
  World world;
  for (int generation = 1; generation <= 5000; ++generation) {
    world.gGenerationNumber = generation;
    world.ChangeEnvironmentIfDue();
  }
  EXPECT_EQ(world.gCurrentViability, 2);
}

TEST(TallyLinkedList, CountsByHabitatAndLoci) {
  World world;
  Individ a = Adult(1, true);
  a.habitatSpec = 1;
  a.habitatPref = 0;
  a.matingPrefType = 1;
  world.adults = {a, a, Adult(0, false)};
  world.TallyLinkedList();
  EXPECT_EQ(world.geneFrequencies.count[1][1][0][1], 2);
  EXPECT_EQ(world.geneFrequencies.count[0][2][2][2], 1);
  world.adults.clear();
  world.TallyLinkedList();
  EXPECT_EQ(world.geneFrequencies.HabitatTotal(0) + world.geneFrequencies.HabitatTotal(1), 0);
}

}  // namespace
}  // namespace talveron
