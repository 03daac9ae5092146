// The trace's statistics against populations whose answers are known and
// against a computation from their definitions: chances that two alleles
// differ counted over every pair of adults, and Cramer's V from the
// identity phi^2 = sum of O^2 / (row x column) - 1.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "record/population_stats.h"

namespace talveron {
namespace {

Individ Adult(int habitat, int spec, int pref, int mate, int signal = 2, int viability = 2) {
  Individ a;
  a.habitat = static_cast<std::uint8_t>(habitat);
  a.habitatSpec = static_cast<std::uint8_t>(spec);
  a.habitatPref = static_cast<std::uint8_t>(pref);
  a.matingPrefType = static_cast<std::uint8_t>(mate);
  a.signalType = static_cast<std::uint8_t>(signal);
  a.generalViability = static_cast<std::int8_t>(viability);
  return a;
}

int AlleleOf(const Individ& a, int locus) {
  switch (locus) {
    case kStatsSpec: return a.habitatSpec;
    case kStatsPref: return a.habitatPref;
    case kStatsMate: return a.matingPrefType;
    case kStatsSignal: return a.signalType;
    default: return a.generalViability;
  }
}

// The share of ordered pairs, one adult from habitat h and one from k
// (the same adult twice allowed), whose alleles differ at `allele`.
template <typename Allele>
double DifferingPairs(const std::vector<Individ>& adults, int h, int k, Allele allele) {
  double differ = 0, pairs = 0;
  for (const Individ& a : adults) {
    for (const Individ& b : adults) {
      if (a.habitat != h || b.habitat != k) continue;
      pairs += 1;
      differ += allele(a) != allele(b) ? 1 : 0;
    }
  }
  return differ / pairs;
}

double CramersVByIdentity(const std::vector<Individ>& adults, int (*row)(const Individ&), int (*column)(const Individ&)) {
  double table[3][3] = {};
  double rows[3] = {}, columns[3] = {};
  for (const Individ& a : adults) {
    table[row(a)][column(a)] += 1;
    rows[row(a)] += 1;
    columns[column(a)] += 1;
  }
  double sum = 0;
  int r = 0, c = 0;
  for (int i = 0; i < 3; ++i) {
    r += rows[i] > 0;
    c += columns[i] > 0;
    for (int j = 0; j < 3; ++j) {
      if (table[i][j] > 0) sum += table[i][j] * table[i][j] / (rows[i] * columns[j]);
    }
  }
  return std::sqrt((sum - 1) / (std::min(r, c) - 1));
}

TEST(PopulationStats, KnownAnswers) {
  // Identical habitats: no differentiation anywhere.
  std::vector<Individ> same;
  for (int h = 0; h < 2; ++h) {
    for (int i = 0; i < 30; ++i) same.push_back(Adult(h, i % 3, (i / 3) % 3, (i / 9) % 3, i % 2, i % 3));
  }
  const PopulationStats s = ComputePopulationStats(same);
  for (int locus = 0; locus < kStatsNeutral; ++locus) EXPECT_EQ(s.fst[locus], 0.0) << locus;
  EXPECT_TRUE(std::isnan(s.fst[kStatsNeutral]));  // no neutral variation at all
  EXPECT_EQ(StatsFields(s, 0).substr(0, 10), "\t0.000000\t");

  // Fixed differences: every allele of one habitat absent from the other.
  std::vector<Individ> fixed;
  for (int i = 0; i < 20; ++i) {
    Individ a = Adult(0, 0, 0, 0, 0, 0);
    Individ b = Adult(1, 1, 2, 1, 1, 1);
    b.neutralGenes.fill(1);
    fixed.push_back(a);
    fixed.push_back(b);
  }
  const PopulationStats f = ComputePopulationStats(fixed);
  for (int locus = 0; locus < kStatsLoci; ++locus) {
    EXPECT_EQ(f.fst[locus], 1.0) << locus;
    EXPECT_EQ(f.diversity[0][locus], 0.0) << locus;
  }
  // Mating preference follows specialization exactly; over both habitats.
  EXPECT_DOUBLE_EQ(f.mateSpecV, 1.0);

  // Three alleles each with every combination equally often: no association.
  std::vector<Individ> independent;
  for (int mate = 0; mate < 3; ++mate)
    for (int spec = 0; spec < 3; ++spec) independent.push_back(Adult(mate % 2, spec, 0, mate));
  EXPECT_NEAR(ComputePopulationStats(independent).mateSpecV, 0.0, 1e-12);
  const PopulationStats empty = ComputePopulationStats({Adult(0, 1, 1, 1)});
  EXPECT_TRUE(std::isnan(empty.fst[kStatsSpec]));
  EXPECT_NE(StatsFields(empty, 1).find("\tNA"), std::string::npos);
}

TEST(PopulationStats, AgreeWithTheirDefinitionsOnRandomPopulations) {
  std::mt19937 random(2026);
  for (int population = 0; population < 20; ++population) {
    std::vector<Individ> adults;
    const int size = 5 + static_cast<int>(random() % 200);
    // Frequencies that differ between the habitats by a random amount.
    const double skew = static_cast<double>(random() % 100) / 100.0;
    for (int i = 0; i < size; ++i) {
      const int h = static_cast<int>(random() % 2);
      auto allele = [&] {
        const double u = static_cast<double>(random() % 1000) / 1000.0;
        return u < (h == 0 ? skew : 1 - skew) * 0.7 ? 0 : (u < 0.85 ? 1 : 2);
      };
      Individ a = Adult(h, allele(), allele(), allele(), allele(), allele());
      for (auto& gene : a.neutralGenes) gene = static_cast<std::uint8_t>(allele() == 0 ? 1 : 0);
      adults.push_back(a);
    }
    const PopulationStats stats = ComputePopulationStats(adults);
    for (int locus = 0; locus < kStatsNeutral; ++locus) {
      auto allele = [locus](const Individ& a) { return AlleleOf(a, locus); };
      const double h0 = DifferingPairs(adults, 0, 0, allele);
      const double h1 = DifferingPairs(adults, 1, 1, allele);
      const double between = DifferingPairs(adults, 0, 1, allele);
      EXPECT_NEAR(stats.diversity[0][locus], h0, 1e-12);
      EXPECT_NEAR(stats.diversity[1][locus], h1, 1e-12);
      if (between > 0) {
        EXPECT_NEAR(stats.fst[locus], 1 - (h0 + h1) / 2 / between, 1e-12) << locus;
      }
    }
    double within = 0, between = 0, diversity0 = 0;
    for (int g = 0; g < kNeutralGenes; ++g) {
      auto gene = [g](const Individ& a) { return a.neutralGenes[g]; };
      const double h0 = DifferingPairs(adults, 0, 0, gene);
      within += (h0 + DifferingPairs(adults, 1, 1, gene)) / 2;
      between += DifferingPairs(adults, 0, 1, gene);
      diversity0 += h0 / kNeutralGenes;
    }
    EXPECT_NEAR(stats.fst[kStatsNeutral], 1 - within / between, 1e-12);
    EXPECT_NEAR(stats.diversity[0][kStatsNeutral], diversity0, 1e-12);
    EXPECT_NEAR(stats.mateSpecV,
                CramersVByIdentity(adults, [](const Individ& a) -> int { return a.matingPrefType; },
                                   [](const Individ& a) -> int { return a.habitatSpec; }),
                1e-12);
    EXPECT_NEAR(stats.mateSignalV,
                CramersVByIdentity(adults, [](const Individ& a) -> int { return a.matingPrefType; },
                                   [](const Individ& a) -> int { return a.signalType; }),
                1e-12);
  }
}

}  // namespace
}  // namespace talveron

namespace talveron {
namespace {

TEST(PopulationStats, WritesSixDecimals) {
  PopulationStats stats;
  stats.fst = {0.0, 1.0, 0.1234565, 1e-9, 0.9999996, -0.25};
  stats.diversity[1] = {0.5, 0.0000004, 0.0000006, 0.333333333, 2.0 / 3.0, 0.125};
  stats.mateSpecV = std::nan("");
  stats.mateSignalV = 0.75;
  EXPECT_EQ(StatsFields(stats, 1),
            "\t0.000000\t1.000000\t0.123457\t0.000000\t1.000000\t-0.250000"
            "\t0.500000\t0.000000\t0.000001\t0.333333\t0.666667\t0.125000\tNA\t0.750000");
}

}  // namespace
}  // namespace talveron
