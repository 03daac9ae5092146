// The census of every generation of one replicate, kept for charts of the
// allele frequencies over the whole run: the adults of each habitat and
// their alleles at habitat specialization, habitat preference and mating
// preference, and the generation each criterion A to E was first met, as
// the data file records it. Drawing reads it through Downsampled, which
// thins a series to the width it is drawn at. The history keeps every
// generation up to kKept of them; a longer run keeps one generation in two,
// then one in four, and so on, so that its memory stays the same however
// long the run: a generation not kept reads as the kept one before it. The
// last generation and the criteria are always exact, and the record of a
// series never comes from here.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "model/census.h"
#include "record/recorder.h"

namespace talveron {

// The three loci a chart shows, in the order of its panels.
enum class Locus { Specialization = 0, Preference = 1, Mating = 2 };
inline constexpr int kLoci = 3;

// The words of a chart, the same wherever it is drawn: the title of each
// locus's panel, each criterion's meaning and the panel that marks it (A
// preference, B and C specialization, D and E mating preference).
inline constexpr std::array<const char*, kLoci> kLocusTitles = {"Habitat specialization", "Habitat preference",
                                                                "Mating preference"};
inline constexpr std::array<const char*, 5> kCriterionTexts = {
    "A: appropriate habitat preference over 50% in both habitats",
    "B: appropriate habitat specialization over 50% in both habitats",
    "C: appropriate habitat specialization over 95% in both habitats",
    "D: a mating preference over 50% in both habitats",
    "E: a mating preference over 95% in both habitats"};
inline constexpr std::array<Locus, 5> kCriterionLocus = {Locus::Preference, Locus::Specialization,
                                                         Locus::Specialization, Locus::Mating, Locus::Mating};

// One point of a series as drawn: a frequency from 0 to 1, or a gap
// (an empty habitat) when `value` is not a number.
struct ChartPoint {
  long generation = 0;
  double value = 0;
};

// A generation the charts mark with a labelled line, and what happened
// there in words: a change of the settings that a lesson tells of.
struct HistoryMark {
  long generation = 0;
  std::string text;
};

class CensusHistory {
 public:
  // The criteria A to E, in the data file's order.
  static constexpr int kCriteria = 5;

  // Forgets everything, the marks too: a new replicate begins.
  void Clear();
  // Adds the census of `generation`, the one after the last added.
  void Add(long generation, const GeneFrequencies& frequencies);

  // The most generations kept one by one.
  static constexpr std::size_t kKept = std::size_t{1} << 14;

  bool empty() const { return generations_.empty(); }
  long FirstGeneration() const { return first_; }
  long LastGeneration() const { return last_; }
  // One generation in `Stride()` is kept, from the first on: `Kept()` of them.
  long Stride() const { return stride_; }
  std::size_t Kept() const { return generations_.size(); }
  // Of a generation kept: adults of a habitat, and those with an allele.
  int Adults(long generation, int habitat) const;
  int Count(long generation, int habitat, Locus locus, int allele) const;
  // Their share, not a number when the habitat is empty.
  double Frequency(long generation, int habitat, Locus locus, int allele) const;
  // Hudson's F_ST between the habitats at a locus, as the trace's
  // statistics give it; not a number when a habitat is empty or the locus
  // does not vary.
  double Fst(long generation, Locus locus) const;
  // The generation each criterion was first met, 0 while it is not.
  std::array<long, kCriteria> Criteria() const;

  // The generations the charts mark, in their order; each shows once the
  // history has reached it.
  void SetMarks(std::vector<HistoryMark> marks) { marks_ = std::move(marks); }
  const std::vector<HistoryMark>& Marks() const { return marks_; }

  // The frequencies of generations first..last, at most two points (the
  // least and the greatest, in their order) for each of `columns` equal
  // parts of that span: what a line `columns` pixels wide shows.
  std::vector<ChartPoint> Downsampled(int habitat, Locus locus, int allele, long first, long last,
                                      int columns) const;
  // The same thinning of F_ST between the habitats at a locus; a gap where
  // it is not a number.
  std::vector<ChartPoint> DownsampledFst(Locus locus, long first, long last, int columns) const;

 private:
  struct Generation {
    std::uint16_t adults[2];
    std::uint16_t alleles[2][kLoci][3];  // [habitat][locus][allele]
  };
  const Generation& At(long generation) const;
  // Downsampled's thinning of any value of a generation.
  template <typename ValueOf>
  std::vector<ChartPoint> Thinned(const ValueOf& valueOf, long first, long last, int columns) const;

  std::vector<Generation> generations_;  // first_, first_ + stride_, ...
  Generation latest_{};                   // the last generation added
  long first_ = 1;
  long last_ = 0;
  long stride_ = 1;
  DataRecorder criteria_;  // timed criteria, written nowhere
  std::vector<HistoryMark> marks_;
};

static_assert(kCriterionTexts.size() == CensusHistory::kCriteria && kCriterionLocus.size() == CensusHistory::kCriteria);

}  // namespace talveron
