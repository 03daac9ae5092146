#include "record/recorder.h"

#include <algorithm>
#include <string>

namespace talveron {
namespace {

std::string Bit(bool condition) { return condition ? "1" : "0"; }

// Larger per-mille of mating-preference types 0 and 1 in a habitat; -1
// when neither is over one half.
int PredominantType(const CensusTotals& totals, int habitat, int threshold) {
  for (int type = 0; type < 2; ++type) {
    if (PerMille(totals.matingPrefTotal[habitat][type], totals.habitatTotal[habitat]) > threshold) return type;
  }
  return -1;
}

}  // namespace

void DataRecorder::WriteStringToFile() {
  if (sink_ != nullptr && !gDataString.empty()) sink_->Append(gDataString);
  gDataString.clear();
}

void DataRecorder::WriteInitialFields(const Parameters& params, long totalReplicates,
                                      long totalGenerations) {
  auto line = [this](const std::string& text) { gDataString += text; };
  gDataString.clear();
  line("PARAMETERS SELECTED\r");
  line("total replicates\t\t\t" + std::to_string(totalReplicates) + "\t\r");
  line("generations/replicate\t\t\t" + std::to_string(totalGenerations) + "\t\r");
  line("averaging span\t\t\t" + std::to_string(choices.gAveragingSpan) + "\tgenerations\r");
  WriteStringToFile();
  line("initially two habitats\t\t" + Bit(!params.initiallyOneHabitat) + "\ttrue/false\r");
  line("density\t\t\t\t" + std::to_string(params.density) + "\t/8 of cells occupied\r");
  line("migration\t\t\t\t" + Bit(!params.noMigration) + "\ttrue/false\r");
  WriteStringToFile();
  line("restricted natal dispersal\t\t" + Bit(params.restrictedNatalDispersal) + "\ttrue/false\r");
  line("asymmetrical natal dispersal\t\t" + Bit(params.asymmetricalNatalDispersal) + "\ttrue/false\r");
  line("restricted mating dispersal\t\t" + Bit(params.restrictedMatingDispersal) + "\ttrue/false\r");
  WriteStringToFile();
  line("natal dispersal rate\t\t\t" + std::to_string(params.natalDispersalRate) + "\t\r");
  line("mating dispersal rate\t\t" + std::to_string(params.matingDispersalRate) + "\t\r");
  line("fecundity\t\t\t\t" + std::to_string(params.numberOfKids) + "\tprogeny\r");
  WriteStringToFile();
  line("mutation rate\t\t\t" + std::to_string(params.mutationRate) + "\t1/mutation rate\r");
  const float selectionHundredths = params.selectionFactor * 100.0f;
  line("selection factor\t\t\t" + std::to_string(static_cast<long>(selectionHundredths)) + "\t/100\r");
  WriteStringToFile();

  if (choices.gGetTimedCriteria) {
    static const char* const kLegend[] = {
        "\rCRITERIA FOR EACH REPLICATE\r",
        "A--first generation with frequency of appropriate habitat preference > 50% in both habitats\r",
        "B--first generation with frequency of appropriate habitat specialization > 50% in both habitats\r",
        "C--first generation with frequency of appropriate habitat specialization > 95% in both habitats\r",
        "D--first generation with frequency of mating preference > 50% in both habitats\r",
        "E--first generation with frequency of mating preference > 95% in both habitats\r",
        "F--initial mating preference in left habitat (1, red; 2, blue; 0, none)\r",
        "G--initial kind of preference (1, speciation; 2, fad; 0, none)\r",
        "H--final mating preference in left habitat (1, red; 2, blue; 0, none)\r",
        "I--final kind of preference (1, speciation; 2, fad; 0, none)\r",
        "A\tB\tC\tD\tE\tF\tG\tH\tI\r\r",
    };
    for (const char* legendLine : kLegend) {
      line(legendLine);
      WriteStringToFile();
    }
  } else {
    line("FOLLOWING AVERAGES ARE SHOWN FOR EACH REPLICATE (averaging span indicated above)\r");
    if (choices.gGetAverageLeftHabitatTotal) line("average total individuals for left habitat\r");
    if (choices.gGetAveragedLeftHabitatPreference)
      line("average appropriate habitat preference for left habitat\r");
    if (choices.gGetAverageLeftHabitatSpecialization)
      line("average appropriate habitat specialization for left habitat\r");
    if (choices.gGetAverageLeftHabitatMatingPreference)
      line("average predominant mating preference for left habitat\r");
    WriteStringToFile();
  }
  if (sink_ != nullptr) sink_->Flush();
}

void DataRecorder::GetData(const GeneFrequencies& frequencies, long generationNumber) {
  totals = GetGenerationFrequencies(frequencies);
  if (choices.gGetTimedCriteria) {
    EvaluateCriteria(generationNumber);
  } else {
    AverageStep();
  }
}

void DataRecorder::EvaluateCriteria(long generationNumber) {
  const CensusTotals& t = totals;
  auto over = [](int count, int total, int threshold) { return PerMille(count, total) > threshold; };

  if (gGenerationWithHabitatPreferences50 == 0 && over(t.red[0], t.habitatTotal[0], 500) &&
      over(t.blu[1], t.habitatTotal[1], 500)) {
    gGenerationWithHabitatPreferences50 = generationNumber;
  }
  if (gGenerationWithHabitatSpecialization50 == 0 &&
      over(t.habitatSpecTotal[0][0], t.habitatTotal[0], 500) &&
      over(t.habitatSpecTotal[1][1], t.habitatTotal[1], 500)) {
    gGenerationWithHabitatSpecialization50 = generationNumber;
  }
  if (gGenerationWithHabitatSpecialization95 == 0 &&
      over(t.habitatSpecTotal[0][0], t.habitatTotal[0], 950) &&
      over(t.habitatSpecTotal[1][1], t.habitatTotal[1], 950)) {
    gGenerationWithHabitatSpecialization95 = generationNumber;
  }
  if (gGenerationWithMatingPreference50 == 0 && PredominantType(t, 0, 500) >= 0 &&
      PredominantType(t, 1, 500) >= 0) {
    gGenerationWithMatingPreference50 = generationNumber;
    Classify();
  }
  if (gGenerationWithMatingPreference95 == 0 && PredominantType(t, 0, 950) >= 0 &&
      PredominantType(t, 1, 950) >= 0) {
    gGenerationWithMatingPreference95 = generationNumber;
    Classify();
  }
}

// The predominant types of both habitats: red on the left or not, and the
// same type in both habitats (a fad) or different ones (speciation).
void DataRecorder::Classify() {
  const int left = PredominantType(totals, 0, 500);
  const int right = PredominantType(totals, 1, 500);
  gLeftHabitatRedPreference = left == 0;
  gPreferenceFad = left == right;
}

void DataRecorder::AverageStep() {
  const bool total = choices.gGetAverageLeftHabitatTotal;
  const bool preference = choices.gGetAveragedLeftHabitatPreference;
  const bool specialization = choices.gGetAverageLeftHabitatSpecialization;
  const bool mating = choices.gGetAverageLeftHabitatMatingPreference;
  if (!total && !preference && !specialization && !mating) return;

  const CensusTotals& t = totals;
  const int left = t.habitatTotal[0];
  if (total) gSumOfLeftHabitatTotal += left;
  if (preference) gSumOfLeftHabitatPreference += PerMille(t.red[0], left);
  if (specialization) gSumOfLeftHabitatSpecialization += PerMille(t.habitatSpecTotal[0][0], left);
  if (mating) {
    const int larger = std::max(t.matingPrefTotal[0][0], t.matingPrefTotal[0][1]);
    gSumOfLeftHabitatMatingPreference += PerMille(larger, left);
  }

  ++gNumbersAveraged;
  if (gNumbersAveraged < choices.gAveragingSpan) return;

  if (detachFirstSpan_) {
    firstSpan_ = CurrentSpan();
    firstSpanCompleted_ = true;
    detachFirstSpan_ = false;
  } else {
    gDataString += SpanText(CurrentSpan());
    if (gDataString.size() > 250) WriteStringToFile();
  }

  gNumbersAveraged = 0;
  gSumOfLeftHabitatTotal = 0;
  gSumOfLeftHabitatPreference = 0;
  gSumOfLeftHabitatSpecialization = 0;
  gSumOfLeftHabitatMatingPreference = 0;
}

SpanSums& SpanSums::operator+=(const SpanSums& more) {
  count += more.count;
  total += more.total;
  preference += more.preference;
  specialization += more.specialization;
  mating += more.mating;
  return *this;
}

void DataRecorder::DetachFirstSpan(long numbersAveraged) {
  gNumbersAveraged = numbersAveraged;
  gSumOfLeftHabitatTotal = 0;
  gSumOfLeftHabitatPreference = 0;
  gSumOfLeftHabitatSpecialization = 0;
  gSumOfLeftHabitatMatingPreference = 0;
  detachFirstSpan_ = true;
  firstSpanCompleted_ = false;
  firstSpan_ = SpanSums{};
}

SpanSums DataRecorder::CurrentSpan() const {
  return {gNumbersAveraged, gSumOfLeftHabitatTotal, gSumOfLeftHabitatPreference, gSumOfLeftHabitatSpecialization,
          gSumOfLeftHabitatMatingPreference};
}

std::string DataRecorder::SpanText(const SpanSums& sums) const {
  const long span = choices.gAveragingSpan;
  std::string text;
  auto append = [&text, span](long sum) { text += std::to_string(sum / span) + "\t"; };
  if (choices.gGetAverageLeftHabitatTotal) append(sums.total);
  if (choices.gGetAveragedLeftHabitatPreference) append(sums.preference);
  if (choices.gGetAverageLeftHabitatSpecialization) append(sums.specialization);
  if (choices.gGetAverageLeftHabitatMatingPreference) append(sums.mating);
  return text;
}

void DataRecorder::WriteReplicateData() {
  if (choices.gGetTimedCriteria) {
    gDataString.clear();
    for (long generation : {gGenerationWithHabitatPreferences50, gGenerationWithHabitatSpecialization50,
                            gGenerationWithHabitatSpecialization95, gGenerationWithMatingPreference50,
                            gGenerationWithMatingPreference95}) {
      gDataString += std::to_string(generation) + "\t";
    }
    std::string f = "0";
    std::string g = "0";
    if (gGenerationWithMatingPreference95 != 0) {
      f = gLeftHabitatRedPreference ? "1" : "2";
      g = gPreferenceFad ? "2" : "1";
    }
    gDataString += f + "\t" + g + "\t" + f + "\t" + g + "\r";
    WriteStringToFile();
    gGenerationWithHabitatPreferences50 = 0;
    gGenerationWithHabitatSpecialization50 = 0;
    gGenerationWithHabitatSpecialization95 = 0;
    gGenerationWithMatingPreference50 = 0;
    gGenerationWithMatingPreference95 = 0;
  } else {
    gDataString += "\r";
    WriteStringToFile();
  }
  if (sink_ != nullptr) sink_->Flush();
}

}  // namespace talveron
