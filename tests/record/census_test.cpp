#include <gtest/gtest.h>

#include "record/census_totals.h"

namespace talveron {
namespace {

TEST(PerMille, TruncatesAndComparesStrictlyAtOneHalf) {
  EXPECT_EQ(PerMille(501, 1000), 501);
  EXPECT_EQ(PerMille(500, 1000), 500);
  EXPECT_EQ(PerMille(500, 999), 500);  // just over half, still 500
  EXPECT_EQ(PerMille(2, 3), 666);
}

// A habitat with no adults has frequency 0, so no criterion can hold there.
TEST(PerMille, OfAnEmptyHabitatIsZero) { EXPECT_EQ(PerMille(0, 0), 0); }

// An adult of the right habitat with specialization 1, preference 0 and
// mating type 1 counts in each of its marginals.
TEST(GetGenerationFrequencies, FoldsOneAdultIntoEveryMarginal) {
  GeneFrequencies frequencies;
  frequencies.count[1][1][0][1] = 1;
  const CensusTotals totals = GetGenerationFrequencies(frequencies);
  EXPECT_EQ(totals.habitatTotal[1], 1);
  EXPECT_EQ(totals.habitatSpecTotal[1][1], 1);
  EXPECT_EQ(totals.matingPrefTotal[1][1], 1);
  EXPECT_EQ(totals.red[1], 1);
  EXPECT_EQ(totals.blu[1], 0);
  EXPECT_EQ(totals.habitatTotal[0], 0);
}

// Founders carry allele 2 everywhere: no red or blue preference anywhere.
TEST(GetGenerationFrequencies, FoundersAreAllNeutral) {
  GeneFrequencies frequencies;
  frequencies.count[0][2][2][2] = 150;
  frequencies.count[1][2][2][2] = 170;
  const CensusTotals totals = GetGenerationFrequencies(frequencies);
  for (int h = 0; h < 2; ++h) {
    EXPECT_EQ(totals.red[h], 0);
    EXPECT_EQ(totals.blu[h], 0);
    EXPECT_EQ(totals.habitatSpecTotal[h][2], totals.habitatTotal[h]);
    EXPECT_EQ(totals.matingPrefTotal[h][2], totals.habitatTotal[h]);
  }
  EXPECT_EQ(frequencies.HabitatTotal(1), 170);
}

}  // namespace
}  // namespace talveron
