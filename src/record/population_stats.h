// Population-genetic statistics of one generation's adults, for the trace
// (--stats): differentiation between the habitats, gene diversity within
// each, and the association of mating-preference type with habitat
// specialization and with signal type.
//
// The census holds every adult, so these are the population's own values,
// without the corrections for sampling that estimates from samples need:
//
//   gene diversity     H = 1 - sum_k p_k^2  (p_k: frequency of allele k)
//   Hudson's F_ST      F = 1 - H_w / H_b, with H_w = (H_0 + H_1) / 2 the
//                      chance that two alleles of one habitat differ and
//                      H_b = 1 - sum_k p0_k p1_k the chance that alleles of
//                      the two habitats differ; over the ten neutral genes
//                      the ratio of the sums, 1 - sum H_w / sum H_b
//   Cramer's V         V = sqrt(chi2 / (n (min(r, c) - 1))) over the r x c
//                      table of the alleles present, chi2 Pearson's
//
// Undefined values (no variation, an empty habitat) are NaN, written "NA".
#pragma once

#include <array>
#include <string>
#include <vector>

#include "model/census.h"
#include "model/individual.h"

namespace talveron {

// The loci of the statistics: the five three-allele loci and the ten
// neutral genes taken together.
enum StatsLocus { kStatsSpec, kStatsPref, kStatsMate, kStatsSignal, kStatsViability, kStatsNeutral, kStatsLoci };

struct PopulationStats {
  std::array<double, kStatsLoci> fst{};                       // between the habitats
  std::array<std::array<double, kStatsLoci>, 2> diversity{};  // per habitat; neutral: the mean of the ten
  double mateSpecV = 0;    // mating-preference type x habitat specialization, all adults
  double mateSignalV = 0;  // mating-preference type x signal type, all adults
};

PopulationStats ComputePopulationStats(const std::vector<Individ>& adults);

// Hudson's F_ST of one three-allele locus from the counts of its alleles in
// habitat 0 and in habitat 1; NaN when a habitat is empty or neither varies.
double HudsonFst(const std::array<long, 3>& habitat0, const std::array<long, 3>& habitat1);

// The columns the trace gains, each after a tab, and their values on the
// line of `habitat` (F_ST and V are the same on both lines of a generation).
extern const char* const kStatsHeader;
std::string StatsFields(const PopulationStats& stats, int habitat);

// The trace's column heads and lines with the statistics after the counts.
std::string TraceHeaderWithStats();
std::string TraceLinesWithStats(long replicate, long generation, const GeneFrequencies& frequencies,
                                const std::vector<Individ>& adults);

}  // namespace talveron
