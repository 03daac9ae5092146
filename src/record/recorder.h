// Recording a series: the timed criteria with their classification, the
// running averages of the left habitat, and the text of the data file.
#pragma once

#include <string>

#include "model/parameters.h"
#include "record/census_totals.h"
#include "record/data_file.h"

namespace talveron {

// What is recorded; set by the Data File menu or the batch options.
struct RecordingChoices {
  bool gGetTimedCriteria = true;
  bool gGetAverageLeftHabitatTotal = false;
  bool gGetAveragedLeftHabitatPreference = false;
  bool gGetAverageLeftHabitatSpecialization = false;
  bool gGetAverageLeftHabitatMatingPreference = false;
  long gAveragingSpan = 10;  // generations per averaging span
};

// Sums of one averaging span so far: generations counted and the sum of
// each averaged variable.
struct SpanSums {
  long count = 0;
  long total = 0;
  long preference = 0;
  long specialization = 0;
  long mating = 0;

  SpanSums& operator+=(const SpanSums& more);
};

class DataRecorder {
 public:
  RecordingChoices choices;

  // Where text goes; null discards it (nothing is open).
  void SetSink(TextSink* sink) { sink_ = sink; }
  TextSink* sink() const { return sink_; }

  // The header: parameter block and legend.
  void WriteInitialFields(const Parameters& params, long totalReplicates,
                          long totalGenerations);
  // One generation's census, while a series is recorded.
  void GetData(const GeneFrequencies& frequencies, long generationNumber);
  // The record of the replicate that has just ended.
  void WriteReplicateData();
  // Drops text not yet written (closing the file mid-replicate).
  void DiscardPending() { gDataString.clear(); }
  // Appends the pending text to the sink and empties it.
  void WriteStringToFile();

  // The last census folded by GetData.
  CensusTotals totals;

  // Criteria of the current replicate; 0 = not met yet.
  long gGenerationWithHabitatPreferences50 = 0;
  long gGenerationWithHabitatSpecialization50 = 0;
  long gGenerationWithHabitatSpecialization95 = 0;
  long gGenerationWithMatingPreference50 = 0;
  long gGenerationWithMatingPreference95 = 0;
  bool gLeftHabitatRedPreference = false;
  bool gPreferenceFad = false;

  // Running averages; they carry over from one replicate to the next.
  long gNumbersAveraged = 0;
  long gSumOfLeftHabitatTotal = 0;
  long gSumOfLeftHabitatPreference = 0;
  long gSumOfLeftHabitatSpecialization = 0;
  long gSumOfLeftHabitatMatingPreference = 0;

  std::string gDataString;  // pending text

  // A replicate run apart from the ones before it (in parallel) starts
  // with `numbersAveraged` generations of an unfinished span whose sums it
  // cannot know. Its first span is then kept as sums (firstSpan) instead of
  // being written; whoever writes the replicates in order completes it with
  // the sums the replicate before left behind (SpanText).
  void DetachFirstSpan(long numbersAveraged);
  bool firstSpanCompleted() const { return firstSpanCompleted_; }
  const SpanSums& firstSpan() const { return firstSpan_; }
  bool firstSpanDetached() const { return detachFirstSpan_; }
  // The first span's state as saved with a running replicate, put back.
  void RestoreFirstSpan(bool detached, bool completed, const SpanSums& first) {
    detachFirstSpan_ = detached;
    firstSpanCompleted_ = completed;
    firstSpan_ = first;
  }
  // The sums of the span under way.
  SpanSums CurrentSpan() const;
  // The text of a completed span: each recorded average and a tab.
  std::string SpanText(const SpanSums& sums) const;

 private:
  void EvaluateCriteria(long generationNumber);
  void AverageStep();
  void Classify();

  TextSink* sink_ = nullptr;
  bool detachFirstSpan_ = false;
  bool firstSpanCompleted_ = false;
  SpanSums firstSpan_;
};

}  // namespace talveron
