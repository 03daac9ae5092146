// Recording a series: the timed criteria with their classification, the
// running averages of the left habitat, and the text of the data file.
#pragma once

#include <string>

#include "core/census.h"
#include "core/data_file.h"
#include "core/parameters.h"

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

 private:
  void EvaluateCriteria(long generationNumber);
  void AverageStep();
  void Classify();

  TextSink* sink_ = nullptr;
};

}  // namespace talveron
