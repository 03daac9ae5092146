// Settling the young: choice of habitat, free cells, the habitat cap.
#include <gtest/gtest.h>

#include <set>

#include "model_support.h"

namespace talveron {
namespace {

using testing::Adult;
using testing::RecordingHooks;

std::vector<Individ> Young(int count, int natalHabitat, int habitatPref = 2) {
  std::vector<Individ> young;
  for (int i = 0; i < count; ++i) {
    Individ kid = Adult(natalHabitat, i % 2 == 0);
    kid.habitatPref = static_cast<std::uint8_t>(habitatPref);
    young.push_back(kid);
  }
  return young;
}

int InHabitat(const World& world, int habitat) {
  int count = 0;
  for (const Individ& adult : world.adults) count += adult.habitat == habitat ? 1 : 0;
  return count;
}

TEST(Dispersal, RestrictedWithoutMigrationKeepsTheNatalHabitat) {
  World world;
  world.params.restrictedNatalDispersal = true;
  world.young = Young(50, 0);
  auto more = Young(30, 1);
  world.young.insert(world.young.end(), more.begin(), more.end());
  world.SeedRandom(1);
  world.Dispersal();
  EXPECT_EQ(InHabitat(world, 0), 50);
  EXPECT_EQ(InHabitat(world, 1), 30);
  EXPECT_EQ(world.habitat0Census, 50);
  EXPECT_EQ(world.habitat1Census, 30);
}

// Symmetrical dispersal at 100 per cent sends everyone to the habitat it was
// not born in, each with one migration draw and then its cell's draws.
TEST(Dispersal, FullMigrationSwapsTheHabitats) {
  World world;
  world.params.restrictedNatalDispersal = true;
  world.params.natalDispersalRate = 100;
  world.young = Young(50, 0);
  auto more = Young(30, 1);
  world.young.insert(world.young.end(), more.begin(), more.end());
  world.SeedRandom(4);
  world.Dispersal();
  EXPECT_EQ(InHabitat(world, 0), 30);
  EXPECT_EQ(InHabitat(world, 1), 50);
  for (std::size_t i = 0; i < world.adults.size(); ++i) EXPECT_EQ(world.adults[i].habitat, i < 50 ? 1 : 0);
  // viability, migration and at least one pair of cell draws per settler
  EXPECT_GE(world.rng.DrawCount(), 80u * 4u);
}

// Asymmetrical dispersal at 100 per cent sends everyone to habitat 1, and
// those born there make no draw for it.
TEST(Dispersal, AsymmetricalFullMigrationEndsInTheRightHabitat) {
  World world;
  world.params.restrictedNatalDispersal = true;
  world.params.asymmetricalNatalDispersal = true;
  world.params.natalDispersalRate = 100;
  world.young = Young(40, 0);
  auto more = Young(40, 1);
  world.young.insert(world.young.end(), more.begin(), more.end());
  world.SeedRandom(2);
  world.Dispersal();
  EXPECT_EQ(InHabitat(world, 1), 80);
}

TEST(Dispersal, PreferenceDecidesWhateverTheNatalHabitat) {
  World world;
  world.young = Young(20, 1, 0);
  auto more = Young(20, 0, 1);
  world.young.insert(world.young.end(), more.begin(), more.end());
  world.SeedRandom(3);
  world.Dispersal();
  for (const Individ& adult : world.adults) EXPECT_NE(adult.habitat, adult.habitatPref == 0 ? 1 : 0);
  EXPECT_EQ(InHabitat(world, 0), 20);
}

// No two adults share a cell, and the grid marks exactly the placed ones.
TEST(Dispersal, EveryAdultHasACellOfItsOwn) {
  World world;
  world.young = Young(1000, 0);
  world.SeedRandom(4);
  world.Dispersal();
  std::set<std::tuple<int, int, int>> cells;
  for (const Individ& adult : world.adults) {
    EXPECT_TRUE(world.CellTaken(adult.habitat, adult.x, adult.y));
    cells.insert({adult.habitat, adult.x, adult.y});
  }
  EXPECT_EQ(cells.size(), 1000u);
  int marked = 0;
  for (int h = 0; h < 2; ++h)
    for (int x = 0; x < kColumns; ++x)
      for (int y = 0; y < kRows; ++y) marked += world.CellTaken(h, x, y) ? 1 : 0;
  EXPECT_EQ(marked, 1000);
}

// 700 adults settling in habitat 0 leave exactly 640 there; habitat 1,
// within its limit, loses nobody.
TEST(Dispersal, TheCapThinsAnOverfullHabitatToExactly640) {
  World world;
  world.young = Young(700, 0, 0);
  auto right = Young(300, 1, 1);
  world.young.insert(world.young.end(), right.begin(), right.end());
  world.SeedRandom(5);
  world.Dispersal();
  EXPECT_EQ(world.habitat0Census, 640);
  EXPECT_EQ(world.habitat1Census, 300);
  EXPECT_EQ(InHabitat(world, 0), 640);
  EXPECT_EQ(InHabitat(world, 1), 300);
  EXPECT_EQ(world.totalAdults(), 940);
}

// More young choose a habitat than it has cells: the surplus dies on
// arrival instead of searching for ever, and the cap still holds.
TEST(Dispersal, AFullHabitatTurnsTheSurplusAway) {
  World world;
  world.young = Young(1500, 1, 1);
  world.SeedRandom(6);
  world.Dispersal();
  EXPECT_EQ(world.habitat1Census, 640);
  EXPECT_EQ(world.totalAdults(), 640);
}

// The cap's draws pick among all adults: the survivors keep list order.
TEST(Dispersal, CapKeepsTheOrderOfTheSurvivors) {
  World world;
  world.young = Young(660, 0, 0);
  for (std::size_t i = 0; i < world.young.size(); ++i) world.young[i].neutralGenes[0] = static_cast<std::uint8_t>(i % 2);
  world.SeedRandom(9);
  world.Dispersal();
  ASSERT_EQ(world.totalAdults(), 640);
  int alternations = 0;
  for (std::size_t i = 1; i < world.adults.size(); ++i)
    alternations += world.adults[i].neutralGenes[0] != world.adults[i - 1].neutralGenes[0] ? 1 : 0;
  EXPECT_GT(alternations, 560);  // 20 removals can break at most 40 alternations
}

TEST(Dispersal, NoYoungIsReportedAndLeavesEmptyHabitats) {
  RecordingHooks hooks;
  World world(&hooks);
  world.Dispersal();
  ASSERT_FALSE(hooks.errors.empty());
  EXPECT_EQ(hooks.errors[0], "Extinct -- dispersal start");
  EXPECT_EQ(world.habitat0Census + world.habitat1Census, 0);
}

TEST(Dispersal, DrawingDoesNotChangeThePlacement) {
  RecordingHooks shown;
  shown.minimize = false;
  World a;
  World b(&shown);
  a.young = Young(300, 0);
  b.young = a.young;
  a.SeedRandom(10);
  b.SeedRandom(10);
  a.Dispersal();
  b.Dispersal();
  ASSERT_EQ(a.totalAdults(), b.totalAdults());
  EXPECT_EQ(shown.drawn, b.totalAdults());
  for (std::size_t i = 0; i < a.adults.size(); ++i) {
    EXPECT_EQ(a.adults[i].x, b.adults[i].x);
    EXPECT_EQ(a.adults[i].y, b.adults[i].y);
  }
}

}  // namespace
}  // namespace talveron
