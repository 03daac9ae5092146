#include "record/population_stats.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "record/trace.h"

namespace talveron {
namespace {

constexpr double kUndefined = std::numeric_limits<double>::quiet_NaN();

using Counts3 = std::array<long, 3>;

double Diversity(const Counts3& counts) {
  const long n = counts[0] + counts[1] + counts[2];
  if (n == 0) return kUndefined;
  double sum = 0;
  for (const long c : counts) sum += (static_cast<double>(c) / static_cast<double>(n)) * (static_cast<double>(c) / static_cast<double>(n));
  return 1.0 - sum;
}

// Within and between: the two chances of Hudson's F_ST; false when a
// habitat is empty.
bool WithinBetween(const Counts3& a, const Counts3& b, double& within, double& between) {
  const long na = a[0] + a[1] + a[2];
  const long nb = b[0] + b[1] + b[2];
  if (na == 0 || nb == 0) return false;
  within = (Diversity(a) + Diversity(b)) / 2.0;
  double shared = 0;
  for (int k = 0; k < 3; ++k) shared += (static_cast<double>(a[k]) / static_cast<double>(na)) * (static_cast<double>(b[k]) / static_cast<double>(nb));
  between = 1.0 - shared;
  return true;
}

double Fst(double within, double between) { return between > 0 ? 1.0 - within / between : kUndefined; }

double CramersV(const std::array<Counts3, 3>& table) {
  Counts3 rows{}, columns{};
  long n = 0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      rows[i] += table[i][j];
      columns[j] += table[i][j];
      n += table[i][j];
    }
  }
  int r = 0, c = 0;
  for (int k = 0; k < 3; ++k) {
    r += rows[k] > 0;
    c += columns[k] > 0;
  }
  if (r < 2 || c < 2) return kUndefined;
  double chi2 = 0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      if (rows[i] == 0 || columns[j] == 0) continue;
      const double expected = static_cast<double>(rows[i]) * static_cast<double>(columns[j]) / static_cast<double>(n);
      const double d = static_cast<double>(table[i][j]) - expected;
      chi2 += d * d / expected;
    }
  }
  return std::sqrt(chi2 / (static_cast<double>(n) * (std::min(r, c) - 1)));
}

void Field(std::string& text, double value) {
  if (std::isnan(value)) {
    text += "\tNA";
    return;
  }
  // Six decimals, rounded half away from zero, without printf's cost
  // (and the same on every platform, the browser's too).
  const long long millionths = std::llround(value * 1e6);
  const unsigned long long magnitude = static_cast<unsigned long long>(millionths < 0 ? -millionths : millionths);
  char buffer[40];
  char* at = buffer;
  *at++ = '\t';
  if (millionths < 0) *at++ = '-';
  at = std::to_chars(at, buffer + sizeof buffer, magnitude / 1000000).ptr;
  *at++ = '.';
  unsigned long long fraction = magnitude % 1000000;
  for (int digit = 5; digit >= 0; --digit) {
    at[digit] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  text.append(buffer, at + 6);
}

}  // namespace

const char* const kStatsHeader =
    "\tfst_spec\tfst_pref\tfst_mate\tfst_signal\tfst_viability\tfst_neutral"
    "\th_spec\th_pref\th_mate\th_signal\th_viability\th_neutral\tv_mate_spec\tv_mate_signal";

PopulationStats ComputePopulationStats(const std::vector<Individ>& adults) {
  // Allele counts per habitat and locus; the neutral genes' 0 and 1.
  std::array<std::array<Counts3, kStatsViability + 1>, 2> counts{};
  std::array<std::array<Counts3, kNeutralGenes>, 2> neutral{};
  std::array<Counts3, 3> mateSpec{};
  std::array<Counts3, 3> mateSignal{};
  for (const Individ& a : adults) {
    auto& c = counts[a.habitat & 1];
    ++c[kStatsSpec][a.habitatSpec];
    ++c[kStatsPref][a.habitatPref];
    ++c[kStatsMate][a.matingPrefType];
    ++c[kStatsSignal][a.signalType];
    ++c[kStatsViability][static_cast<std::uint8_t>(a.generalViability)];
    auto& n = neutral[a.habitat & 1];
    for (int g = 0; g < kNeutralGenes; ++g) ++n[g][a.neutralGenes[g] & 1];
    ++mateSpec[a.matingPrefType][a.habitatSpec];
    ++mateSignal[a.matingPrefType][a.signalType];
  }
  PopulationStats stats;
  for (int locus = 0; locus <= kStatsViability; ++locus) {
    stats.fst[locus] = HudsonFst(counts[0][locus], counts[1][locus]);
    for (int h = 0; h < 2; ++h) stats.diversity[h][locus] = Diversity(counts[h][locus]);
  }
  double withinSum = 0, betweenSum = 0;
  bool defined = true;
  for (int h = 0; h < 2; ++h) stats.diversity[h][kStatsNeutral] = 0;
  for (int g = 0; g < kNeutralGenes; ++g) {
    double within = 0, between = 0;
    defined = WithinBetween(neutral[0][g], neutral[1][g], within, between) && defined;
    withinSum += within;
    betweenSum += between;
    for (int h = 0; h < 2; ++h) stats.diversity[h][kStatsNeutral] += Diversity(neutral[h][g]) / kNeutralGenes;
  }
  stats.fst[kStatsNeutral] = defined ? Fst(withinSum, betweenSum) : kUndefined;
  stats.mateSpecV = CramersV(mateSpec);
  stats.mateSignalV = CramersV(mateSignal);
  return stats;
}

double HudsonFst(const Counts3& habitat0, const Counts3& habitat1) {
  double within = 0, between = 0;
  return WithinBetween(habitat0, habitat1, within, between) ? Fst(within, between) : kUndefined;
}

std::string StatsFields(const PopulationStats& stats, int habitat) {
  std::string text;
  for (const double value : stats.fst) Field(text, value);
  for (const double value : stats.diversity[habitat & 1]) Field(text, value);
  Field(text, stats.mateSpecV);
  Field(text, stats.mateSignalV);
  return text;
}

std::string TraceHeaderWithStats() {
  std::string header = kTraceHeader;
  header.pop_back();
  return header + kStatsHeader + "\n";
}

std::string TraceLinesWithStats(long replicate, long generation, const GeneFrequencies& frequencies,
                                const std::vector<Individ>& adults) {
  const PopulationStats stats = ComputePopulationStats(adults);
  std::string text;
  for (int habitat = 0; habitat < 2; ++habitat) {
    std::string line = TraceLine(replicate, generation, habitat, TraceCountsOf(frequencies, habitat));
    line.pop_back();
    text += line + StatsFields(stats, habitat) + "\n";
  }
  return text;
}

}  // namespace talveron
