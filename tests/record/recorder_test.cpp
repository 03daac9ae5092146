// The data file's text: header, criteria records, running averages.
#include <gtest/gtest.h>

#include "record/recorder.h"

namespace talveron {
namespace {

// Collects what reaches the file, and where the records were flushed.
struct StringSink : TextSink {
  std::string text;
  std::vector<std::size_t> flushedAt;
  void Append(std::string_view more) override { text.append(more); }
  void Flush() override { flushedAt.push_back(text.size()); }
};

struct Recording : ::testing::Test {
  Recording() { recorder.SetSink(&sink); }
  StringSink sink;
  DataRecorder recorder;
  Parameters params;
};

const char* const kDefaultParameterBlock =
    "PARAMETERS SELECTED\r"
    "total replicates\t\t\t2\t\r"
    "generations/replicate\t\t\t5000\t\r"
    "averaging span\t\t\t10\tgenerations\r"
    "initially two habitats\t\t1\ttrue/false\r"
    "density\t\t\t\t1\t/8 of cells occupied\r"
    "migration\t\t\t\t0\ttrue/false\r"
    "restricted natal dispersal\t\t0\ttrue/false\r"
    "asymmetrical natal dispersal\t\t0\ttrue/false\r"
    "restricted mating dispersal\t\t0\ttrue/false\r"
    "natal dispersal rate\t\t\t0\t\r"
    "mating dispersal rate\t\t0\t\r"
    "fecundity\t\t\t\t4\tprogeny\r"
    "mutation rate\t\t\t100\t1/mutation rate\r"
    "selection factor\t\t\t50\t/100\r";

TEST_F(Recording, TimedHeaderEndsWithColumnHeadsAndAnEmptyLine) {
  recorder.WriteInitialFields(params, 2, 5000);
  const std::string expected = std::string(kDefaultParameterBlock) +
      "\rCRITERIA FOR EACH REPLICATE\r"
      "A--first generation with frequency of appropriate habitat preference > 50% in both habitats\r"
      "B--first generation with frequency of appropriate habitat specialization > 50% in both habitats\r"
      "C--first generation with frequency of appropriate habitat specialization > 95% in both habitats\r"
      "D--first generation with frequency of mating preference > 50% in both habitats\r"
      "E--first generation with frequency of mating preference > 95% in both habitats\r"
      "F--initial mating preference in left habitat (1, red; 2, blue; 0, none)\r"
      "G--initial kind of preference (1, speciation; 2, fad; 0, none)\r"
      "H--final mating preference in left habitat (1, red; 2, blue; 0, none)\r"
      "I--final kind of preference (1, speciation; 2, fad; 0, none)\r"
      "A\tB\tC\tD\tE\tF\tG\tH\tI\r\r";
  EXPECT_EQ(sink.text, expected);
  EXPECT_TRUE(recorder.gDataString.empty());
  EXPECT_EQ(sink.flushedAt.back(), expected.size());
}

TEST_F(Recording, HeaderCarriesTheParameters) {
  params.initiallyOneHabitat = true;
  params.noMigration = false;
  params.restrictedNatalDispersal = true;
  params.selectionFactor = 0.7f;
  params.density = 8;
  recorder.WriteInitialFields(params, 1000, 20);
  EXPECT_NE(sink.text.find("initially two habitats\t\t0\ttrue/false\r"), std::string::npos);
  EXPECT_NE(sink.text.find("migration\t\t\t\t1\ttrue/false\r"), std::string::npos);
  EXPECT_NE(sink.text.find("restricted natal dispersal\t\t1\t"), std::string::npos);
  EXPECT_NE(sink.text.find("selection factor\t\t\t70\t/100\r"), std::string::npos);
  EXPECT_NE(sink.text.find("density\t\t\t\t8\t/8"), std::string::npos);
  EXPECT_NE(sink.text.find("total replicates\t\t\t1000\t\r"), std::string::npos);
}

// Selection factors 0.0 to 1.0 in steps of 0.1 are written 0 to 100.
TEST_F(Recording, SelectionFactorInHundredths) {
  for (int tenths = 0; tenths <= 10; ++tenths) {
    sink.text.clear();
    params.selectionFactor = static_cast<float>((tenths) * 0.1);
    recorder.WriteInitialFields(params, 1, 1);
    EXPECT_NE(sink.text.find("selection factor\t\t\t" + std::to_string(tenths * 10) + "\t/100\r"),
              std::string::npos) << tenths;
  }
}

// Averaging with no variable chosen: the legend's first line only, and
// every record an empty line.
TEST_F(Recording, AveragingWithNothingChosenWritesEmptyLines) {
  recorder.choices.gGetTimedCriteria = false;
  recorder.WriteInitialFields(params, 2, 5000);
  const std::string header = std::string(kDefaultParameterBlock) +
      "FOLLOWING AVERAGES ARE SHOWN FOR EACH REPLICATE (averaging span indicated above)\r";
  EXPECT_EQ(sink.text, header);
  GeneFrequencies frequencies;
  frequencies.count[0][0][0][0] = 10;
  for (int g = 1; g <= 30; ++g) recorder.GetData(frequencies, g);
  recorder.WriteReplicateData();
  EXPECT_EQ(sink.text, header + "\r");
}

GeneFrequencies LeftHabitat(int specializedToLeft, int generalists) {
  GeneFrequencies frequencies;
  frequencies.count[0][0][2][2] = specializedToLeft;
  frequencies.count[0][2][2][2] = generalists;
  return frequencies;
}

// An unfinished span carries into the next replicate: with 5 generations
// per replicate and a span of 10, replicate 1's line is empty and the first
// average is written on replicate 2's.
TEST_F(Recording, AnUnfinishedSpanCarriesIntoTheNextReplicate) {
  recorder.choices.gGetTimedCriteria = false;
  recorder.choices.gGetAverageLeftHabitatSpecialization = true;
  for (int g = 1; g <= 5; ++g) recorder.GetData(LeftHabitat(1, 1), g);  // 500 per mille
  recorder.WriteReplicateData();
  EXPECT_EQ(sink.text, "\r");
  for (int g = 1; g <= 5; ++g) recorder.GetData(LeftHabitat(1, 0), g);  // 1000 per mille
  recorder.WriteReplicateData();
  EXPECT_EQ(sink.text, "\r750\t\r");
}

TEST_F(Recording, AveragesOfTheLeftHabitat) {
  recorder.choices.gGetTimedCriteria = false;
  recorder.choices.gAveragingSpan = 2;
  recorder.choices.gGetAverageLeftHabitatTotal = true;
  recorder.GetData(LeftHabitat(3, 0), 1);
  recorder.GetData(LeftHabitat(3, 2), 2);
  recorder.WriteReplicateData();
  EXPECT_EQ(sink.text, "4\t\r");  // (3 + 5) / 2

  sink.text.clear();
  recorder.choices.gGetAverageLeftHabitatTotal = false;
  recorder.choices.gGetAverageLeftHabitatMatingPreference = true;
  GeneFrequencies frequencies;
  frequencies.count[0][2][2][0] = 1;
  frequencies.count[0][2][2][1] = 3;
  recorder.GetData(frequencies, 1);
  recorder.GetData(frequencies, 2);
  recorder.WriteReplicateData();
  EXPECT_EQ(sink.text, "750\t\r");  // the larger of types 0 and 1
}

// Long lines are written out in pieces once past 250 characters; the file
// gets the same bytes as if written in one go.
TEST_F(Recording, LongAverageLinesAreWrittenAsTheyGrow) {
  recorder.choices.gGetTimedCriteria = false;
  recorder.choices.gAveragingSpan = 1;
  recorder.choices.gGetAveragedLeftHabitatPreference = true;
  GeneFrequencies frequencies;
  frequencies.count[0][2][0][2] = 1;  // 1000 per mille
  for (int g = 1; g <= 60; ++g) recorder.GetData(frequencies, g);
  EXPECT_FALSE(sink.text.empty());
  EXPECT_LE(recorder.gDataString.size(), 250u);
  recorder.WriteReplicateData();
  std::string expected;
  for (int g = 1; g <= 60; ++g) expected += "1000\t";
  EXPECT_EQ(sink.text, expected + "\r");
}

GeneFrequencies BothHabitats(int leftType, int rightType, int share, int of) {
  GeneFrequencies frequencies;
  frequencies.count[0][2][2][leftType] = share;
  frequencies.count[0][2][2][2] += of - share;
  frequencies.count[1][2][2][rightType] = share;
  frequencies.count[1][2][2][2] += of - share;
  return frequencies;
}

// 501 of 1000 meets a criterion; 500 of 1000 does not.
TEST_F(Recording, CriteriaNeedMoreThanHalf) {
  recorder.GetData(BothHabitats(0, 1, 500, 1000), 3);
  EXPECT_EQ(recorder.gGenerationWithMatingPreference50, 0);
  recorder.GetData(BothHabitats(0, 1, 501, 1000), 4);
  EXPECT_EQ(recorder.gGenerationWithMatingPreference50, 4);
  EXPECT_EQ(recorder.gGenerationWithMatingPreference95, 0);
}

// Red on the left and blue on the right is speciation; the same type in
// both habitats a fad.
TEST_F(Recording, ClassifiesSpeciationAndFads) {
  struct Case { int left, right; bool red, fad; };
  for (const Case c : {Case{0, 1, true, false}, Case{1, 1, false, true}, Case{0, 0, true, true},
                       Case{1, 0, false, false}}) {
    DataRecorder fresh;
    fresh.GetData(BothHabitats(c.left, c.right, 960, 1000), 9);
    EXPECT_EQ(fresh.gGenerationWithMatingPreference50, 9);
    EXPECT_EQ(fresh.gGenerationWithMatingPreference95, 9);
    EXPECT_EQ(fresh.gLeftHabitatRedPreference, c.red);
    EXPECT_EQ(fresh.gPreferenceFad, c.fad);
  }
}

// No preference (type 2) never counts as predominant.
TEST_F(Recording, NoPreferenceMeetsNoMatingCriterion) {
  recorder.GetData(BothHabitats(2, 2, 1000, 1000), 1);
  EXPECT_EQ(recorder.gGenerationWithMatingPreference50, 0);
}

// Each criterion keeps the first generation it held; the record is nine
// fields, F to I only when E was met, and the criteria start again at 0.
TEST_F(Recording, TimedRecordsKeepTheFirstGeneration) {
  GeneFrequencies adapted;
  adapted.count[0][0][0][2] = 10;  // left: specialized to and preferring the left
  adapted.count[1][1][1][2] = 10;
  recorder.GetData(adapted, 12);
  recorder.GetData(adapted, 13);
  recorder.GetData(BothHabitats(0, 1, 600, 1000), 150);
  recorder.WriteReplicateData();
  EXPECT_EQ(sink.text, "12\t12\t12\t150\t0\t0\t0\t0\t0\r");
  EXPECT_EQ(recorder.gGenerationWithHabitatPreferences50, 0);

  sink.text.clear();
  recorder.GetData(BothHabitats(0, 1, 990, 1000), 950);
  recorder.WriteReplicateData();
  EXPECT_EQ(sink.text, "0\t0\t0\t950\t950\t1\t1\t1\t1\r");
  EXPECT_TRUE(recorder.gDataString.empty());
}

// An empty habitat meets nothing and divides by nothing.
TEST_F(Recording, AnEmptyHabitatMeetsNoCriterion) {
  GeneFrequencies leftOnly;
  leftOnly.count[0][0][0][0] = 50;
  recorder.GetData(leftOnly, 1);
  EXPECT_EQ(recorder.gGenerationWithHabitatPreferences50, 0);
  EXPECT_EQ(recorder.gGenerationWithMatingPreference50, 0);
}

}  // namespace
}  // namespace talveron
