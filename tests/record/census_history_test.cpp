// The census history of a long run: its memory stays the same however long
// the run, the last generation and the criteria stay exact, and what is
// drawn keeps the run's extremes among the generations kept.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "record/census_history.h"
#include "record/recorder.h"

namespace talveron {
namespace {

// A census of `adults` adults in each habitat, `fitting` of them with the
// specialization allele of their habitat (0 in habitat 0, 1 in habitat 1),
// the rest neutral.
GeneFrequencies Census(int adults, int fitting) {
  GeneFrequencies f;
  for (int h = 0; h < 2; ++h) {
    f.count[h][h][2][2] = fitting;
    f.count[h][2][2][2] = adults - fitting;
  }
  return f;
}

TEST(CensusHistory, AMillionGenerationsKeepAFixedNumberAndTheLastExactly) {
  // The fitting specialization allele rises by one adult in every 1,000
  // generations from 0 to 999 of 1,000 adults, and the last generation
  // has 1,000. The
  // history keeps at most kKept generations, the last one exactly, the
  // criteria as a recorder fed every generation finds them, and the
  // drawing of the whole run still reaches the highest share kept.
  CensusHistory history;
  DataRecorder recorder;
  constexpr long kGenerations = 1'000'000;
  for (long g = 1; g <= kGenerations; ++g) {
    const GeneFrequencies census = Census(1000, static_cast<int>(g / 1000));
    history.Add(g, census);
    recorder.GetData(census, g);
    ASSERT_LE(history.Kept(), CensusHistory::kKept);
  }
  EXPECT_EQ(history.FirstGeneration(), 1);
  EXPECT_EQ(history.LastGeneration(), kGenerations);
  EXPECT_GE(history.Stride(), static_cast<long>(kGenerations / CensusHistory::kKept));
  EXPECT_LT(history.Stride(), static_cast<long>(2 * kGenerations / CensusHistory::kKept) + 1);
  EXPECT_EQ(history.Adults(kGenerations, 0), 1000);
  EXPECT_EQ(history.Count(kGenerations, 1, Locus::Specialization, 1), 1000);
  EXPECT_EQ(history.Count(kGenerations - 1, 1, Locus::Specialization, 1), 999);
  // A generation not kept reads as the one kept before it.
  const long stride = history.Stride();
  EXPECT_EQ(history.Count(1 + 3 * stride + 1, 0, Locus::Specialization, 0), (1 + 3 * stride) / 1000);
  EXPECT_EQ(history.Criteria()[1], recorder.gGenerationWithHabitatSpecialization50);
  EXPECT_EQ(history.Criteria()[2], recorder.gGenerationWithHabitatSpecialization95);
  EXPECT_EQ(history.Criteria()[1], 501'000);
  EXPECT_EQ(history.Criteria()[2], 951'000);

  // Each point drawn is the share of its generation, or of the generation
  // kept before it, and the last is the last generation's.
  const std::vector<ChartPoint> drawn = history.Downsampled(0, Locus::Specialization, 0, 1, kGenerations, 200);
  EXPECT_LE(drawn.size(), 400u);
  EXPECT_GE(drawn.size(), 200u);
  for (const ChartPoint& point : drawn) {
    const long kept = point.generation == kGenerations ? kGenerations : 1 + (point.generation - 1) / stride * stride;
    ASSERT_DOUBLE_EQ(point.value, static_cast<double>(kept / 1000) / 1000) << point.generation;
  }
  EXPECT_EQ(drawn.back().generation, kGenerations);
}

TEST(CensusHistory, ARunShorterThanTheLimitKeepsEveryGeneration) {
  CensusHistory history;
  for (long g = 5; g < 5 + 3000; ++g) history.Add(g, Census(100, static_cast<int>(g % 100)));
  EXPECT_EQ(history.Stride(), 1);
  for (long g = 5; g < 5 + 3000; ++g) ASSERT_EQ(history.Count(g, 0, Locus::Specialization, 0), g % 100) << g;
  history.Clear();
  EXPECT_TRUE(history.empty());
  history.Add(1, Census(10, 3));
  EXPECT_EQ(history.Stride(), 1);
  EXPECT_EQ(history.LastGeneration(), 1);
  EXPECT_EQ(history.Count(1, 1, Locus::Specialization, 1), 3);
}

// Hudson's F_ST from its definition, by counting pairs of alleles: one
// minus the share of differing pairs drawn within a habitat (the mean of
// the two habitats) over the share of differing pairs drawn one from each.
double FstByPairs(const std::vector<int>& habitat0, const std::vector<int>& habitat1) {
  const auto differing = [](const std::vector<int>& a, const std::vector<int>& b) {
    double differ = 0;
    for (int x : a) {
      for (int y : b) differ += x != y;
    }
    return differ / (static_cast<double>(a.size()) * static_cast<double>(b.size()));
  };
  const double within = (differing(habitat0, habitat0) + differing(habitat1, habitat1)) / 2;
  return 1 - within / differing(habitat0, habitat1);
}

TEST(CensusHistory, FstBetweenTheHabitatsAtEachLocus) {
  // Generation 1: every locus the same in both habitats, F_ST 0. Generation
  // 2: specialization fixed for different alleles, F_ST 1; preference and
  // mating preference in mixed shares, as counted pair by pair. Generation
  // 3: habitat 1 empty, no value.
  CensusHistory history;
  GeneFrequencies same;
  for (int h = 0; h < 2; ++h) {
    same.count[h][0][1][2] = 5;
    same.count[h][1][2][0] = 7;
    same.count[h][2][0][1] = 3;
  }
  history.Add(1, same);
  GeneFrequencies apart;
  apart.count[0][0][0][0] = 3;
  apart.count[0][0][1][2] = 5;
  apart.count[1][1][1][0] = 4;
  apart.count[1][1][2][1] = 2;
  apart.count[1][1][0][1] = 1;
  history.Add(2, apart);
  GeneFrequencies oneEmpty;
  oneEmpty.count[0][1][1][1] = 6;
  history.Add(3, oneEmpty);

  for (Locus locus : {Locus::Specialization, Locus::Preference, Locus::Mating}) {
    EXPECT_NEAR(history.Fst(1, locus), 0.0, 1e-12) << static_cast<int>(locus);
    EXPECT_TRUE(std::isnan(history.Fst(3, locus))) << static_cast<int>(locus);
  }
  EXPECT_DOUBLE_EQ(history.Fst(2, Locus::Specialization), 1.0);
  const std::vector<int> pref0 = {0, 0, 0, 1, 1, 1, 1, 1}, pref1 = {1, 1, 1, 1, 2, 2, 0};
  const std::vector<int> mate0 = {0, 0, 0, 2, 2, 2, 2, 2}, mate1 = {0, 0, 0, 0, 1, 1, 1};
  EXPECT_NEAR(history.Fst(2, Locus::Preference), FstByPairs(pref0, pref1), 1e-12);
  EXPECT_NEAR(history.Fst(2, Locus::Mating), FstByPairs(mate0, mate1), 1e-12);
  EXPECT_GT(history.Fst(2, Locus::Preference), 0.0);
}

}  // namespace
}  // namespace talveron
