#include "record/census_history.h"

#include <cmath>
#include <limits>

#include "record/population_stats.h"

namespace talveron {

void CensusHistory::Clear() {
  generations_.clear();
  first_ = 1;
  last_ = 0;
  stride_ = 1;
  criteria_ = DataRecorder{};
  marks_.clear();
}

void CensusHistory::Add(long generation, const GeneFrequencies& frequencies) {
  if (generations_.empty()) first_ = generation;
  Generation entry{};
  for (int h = 0; h < 2; ++h) {
    for (int s = 0; s < 3; ++s) {
      for (int p = 0; p < 3; ++p) {
        for (int m = 0; m < 3; ++m) {
          const auto n = static_cast<std::uint16_t>(frequencies.count[h][s][p][m]);
          entry.adults[h] = static_cast<std::uint16_t>(entry.adults[h] + n);
          entry.alleles[h][0][s] = static_cast<std::uint16_t>(entry.alleles[h][0][s] + n);
          entry.alleles[h][1][p] = static_cast<std::uint16_t>(entry.alleles[h][1][p] + n);
          entry.alleles[h][2][m] = static_cast<std::uint16_t>(entry.alleles[h][2][m] + n);
        }
      }
    }
  }
  latest_ = entry;
  last_ = generation;
  criteria_.GetData(frequencies, generation);
  if ((generation - first_) % stride_ != 0) return;
  if (generations_.size() == kKept) {
    // Full: one kept generation in two goes, and from now on one in twice
    // as many is kept.
    for (std::size_t i = 0; 2 * i < generations_.size(); ++i) generations_[i] = generations_[2 * i];
    generations_.resize(generations_.size() / 2);
    stride_ *= 2;
    if ((generation - first_) % stride_ != 0) return;
  }
  generations_.push_back(entry);
}

const CensusHistory::Generation& CensusHistory::At(long generation) const {
  if (generation >= last_) return latest_;
  return generations_[static_cast<std::size_t>((generation - first_) / stride_)];
}

int CensusHistory::Adults(long generation, int habitat) const { return At(generation).adults[habitat]; }

int CensusHistory::Count(long generation, int habitat, Locus locus, int allele) const {
  return At(generation).alleles[habitat][static_cast<int>(locus)][allele];
}

double CensusHistory::Frequency(long generation, int habitat, Locus locus, int allele) const {
  const int adults = Adults(generation, habitat);
  if (adults == 0) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(Count(generation, habitat, locus, allele)) / adults;
}

double CensusHistory::Fst(long generation, Locus locus) const {
  std::array<std::array<long, 3>, 2> counts{};
  for (int habitat = 0; habitat < 2; ++habitat) {
    for (int allele = 0; allele < 3; ++allele) counts[habitat][allele] = Count(generation, habitat, locus, allele);
  }
  return HudsonFst(counts[0], counts[1]);
}

std::array<long, CensusHistory::kCriteria> CensusHistory::Criteria() const {
  return {criteria_.gGenerationWithHabitatPreferences50, criteria_.gGenerationWithHabitatSpecialization50,
          criteria_.gGenerationWithHabitatSpecialization95, criteria_.gGenerationWithMatingPreference50,
          criteria_.gGenerationWithMatingPreference95};
}

template <typename ValueOf>
std::vector<ChartPoint> CensusHistory::Thinned(const ValueOf& valueOf, long first, long last, int columns) const {
  std::vector<ChartPoint> points;
  if (empty() || columns <= 0) return points;
  first = std::max(first, FirstGeneration());
  last = std::min(last, LastGeneration());
  if (first > last) return points;
  const long span = last - first + 1;
  points.reserve(static_cast<std::size_t>(std::min<long>(span, 2L * columns)));
  for (long column = 0, from = first; from <= last; ++column) {
    // Generations from..to fall in this column.
    const long to = std::min(last, first + (column + 1) * span / columns - 1);
    if (to < from) continue;
    ChartPoint low{from, valueOf(from)};
    ChartPoint high = low;
    bool gap = std::isnan(low.value);
    auto consider = [&](long g) {
      const double value = valueOf(g);
      if (std::isnan(value)) {
        gap = true;
        return;
      }
      if (std::isnan(low.value) || value < low.value) low = {g, value};
      if (std::isnan(high.value) || value > high.value) high = {g, value};
    };
    // The generations kept in the column, and the last one.
    for (long g = first_ + ((from - first_) / stride_ + 1) * stride_; g <= to; g += stride_) consider(g);
    if (stride_ > 1 && last_ > from && last_ <= to && (last_ - first_) % stride_ != 0) consider(last_);
    if (gap && !points.empty() && !std::isnan(points.back().value)) {
      points.push_back({from, std::numeric_limits<double>::quiet_NaN()});
    }
    if (!std::isnan(low.value)) {
      if (low.generation > high.generation) std::swap(low, high);
      points.push_back(low);
      if (high.generation != low.generation) points.push_back(high);
    }
    from = to + 1;
  }
  return points;
}

std::vector<ChartPoint> CensusHistory::Downsampled(int habitat, Locus locus, int allele, long first, long last,
                                                   int columns) const {
  return Thinned([&](long g) { return Frequency(g, habitat, locus, allele); }, first, last, columns);
}

std::vector<ChartPoint> CensusHistory::DownsampledFst(Locus locus, long first, long last, int columns) const {
  return Thinned([&](long g) { return Fst(g, locus); }, first, last, columns);
}

}  // namespace talveron
