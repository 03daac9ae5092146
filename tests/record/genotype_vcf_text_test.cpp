#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "record/genotype_vcf_text.h"
#include "temp_folder.h"

namespace talveron {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

// The allele at a locus of the 17, read from the individual's fields in
// the order the file's records are in.
int FieldAllele(const Individ& a, int locus) {
  const int fields[7] = {a.habitatPref, a.habitatSpec, a.matingPrefType, a.matingPrefValue,
                         a.signalType,  a.signalValue, a.generalViability};
  return locus < 7 ? fields[locus] : a.neutralGenes[static_cast<std::size_t>(locus - 7)];
}

std::vector<GenotypeSample> RandomSamples(int generations, int adults) {
  std::mt19937 random(11);
  auto below = [&random](int n) { return static_cast<std::uint8_t>(random() % static_cast<unsigned>(n)); };
  std::vector<GenotypeSample> samples;
  for (int g = 1; g <= generations; ++g) {
    GenotypeSample sample{100L * g, {}};
    for (int i = 0; i < adults; ++i) {
      Individ a;
      a.habitat = below(2);
      a.x = below(kColumns);
      a.y = below(kRows);
      a.sex = below(2) == 1;
      a.habitatPref = below(3);
      a.habitatSpec = below(3);
      a.matingPrefType = below(3);
      a.matingPrefValue = below(10);
      a.signalType = below(3);
      a.signalValue = below(10);
      a.generalViability = static_cast<std::int8_t>(below(3));
      for (auto& gene : a.neutralGenes) gene = below(2);
      sample.adults.push_back(a);
    }
    samples.push_back(sample);
  }
  return samples;
}

std::string ReadOut(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  EXPECT_EQ(::pclose(pipe), 0) << command;
  return out;
}

// Every sample's GT at every locus is the individual's own allele, its
// column named after it, and the allele one the record lists.
TEST(GenotypeVcfText, GivesEveryIndividualsAlleleInItsNamedColumn) {
  const std::vector<GenotypeSample> samples = RandomSamples(2, 1500);  // names past one piece
  const std::string text = GenotypeVcfText(3, samples);
  const std::vector<std::string> lines = Split(text, '\n');
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "##fileformat=VCFv4.3");
  std::size_t at = 0;
  while (at < lines.size() && lines[at].rfind("##", 0) == 0) ++at;
  ASSERT_EQ(lines.size(), at + 1 + kGenotypeLoci);
  const std::vector<std::string> head = Split(lines[at], '\t');
  ASSERT_EQ(head.size(), 9 + 3000u);
  EXPECT_EQ(head[0], "#CHROM");
  EXPECT_EQ(head[8], "FORMAT");
  std::vector<const Individ*> individuals;
  std::size_t column = 9;
  for (const GenotypeSample& sample : samples) {
    for (const Individ& a : sample.adults) {
      individuals.push_back(&a);
      const std::string name = "r3_g" + std::to_string(sample.generation) + "_h" + std::to_string(a.habitat) +
                               "_x" + std::to_string(a.x) + "_y" + std::to_string(a.y) + (a.sex ? "_m" : "_f");
      EXPECT_EQ(head[column++], name);
    }
  }
  const std::string loci[kGenotypeLoci] = {
      "habitatPref", "habitatSpec", "matingPrefType", "matingPrefValue", "signalType", "signalValue",
      "generalViability", "neutral0", "neutral1", "neutral2", "neutral3", "neutral4", "neutral5", "neutral6",
      "neutral7", "neutral8", "neutral9"};
  for (int locus = 0; locus < kGenotypeLoci; ++locus) {
    const std::vector<std::string> record = Split(lines[at + 1 + locus], '\t');
    ASSERT_EQ(record.size(), head.size()) << loci[locus];
    EXPECT_EQ(record[0], "loci");
    EXPECT_EQ(record[1], std::to_string(locus + 1));
    EXPECT_EQ(record[2], loci[locus]);
    EXPECT_EQ(record[3], "N");
    EXPECT_EQ(record[7], "LOCUS=" + loci[locus]);
    EXPECT_EQ(record[8], "GT");
    const std::size_t alleles = 1 + Split(record[4], ',').size();
    EXPECT_EQ(alleles, locus == 3 || locus == 5 ? 10u : locus < 7 ? 3u : 2u) << loci[locus];
    for (std::size_t i = 0; i < individuals.size(); ++i) {
      const int allele = FieldAllele(*individuals[i], locus);
      ASSERT_EQ(record[9 + i], std::to_string(allele)) << loci[locus] << " sample " << i;
      ASSERT_LT(static_cast<std::size_t>(allele), alleles);
    }
  }
  std::string streamed;
  WriteGenotypeVcfText(3, samples, [&streamed](std::string_view piece) { streamed.append(piece); });
  EXPECT_EQ(streamed, text);
}

// No samples: a file of the 17 records without a FORMAT column, which
// bcftools reads; and a small one, whose genotypes bcftools gives back.
TEST(GenotypeVcfText, IsReadByBcftoolsAlsoWithoutSamples) {
  test_support::TempFolder folder("genotype-text");
  const std::string empty = (folder / "empty.vcf").string();
  std::ofstream(empty) << GenotypeVcfText(1, {});
  EXPECT_EQ(ReadOut("bcftools query -f '%ID\\n' " + empty), "habitatPref\nhabitatSpec\nmatingPrefType\n"
            "matingPrefValue\nsignalType\nsignalValue\ngeneralViability\nneutral0\nneutral1\nneutral2\n"
            "neutral3\nneutral4\nneutral5\nneutral6\nneutral7\nneutral8\nneutral9\n");
  EXPECT_EQ(ReadOut("bcftools query -l " + empty), "");

  const std::vector<GenotypeSample> samples = RandomSamples(1, 3);
  const std::string small = (folder / "small.vcf").string();
  std::ofstream(small) << GenotypeVcfText(2, samples);
  std::string expected;
  for (int locus = 0; locus < kGenotypeLoci; ++locus) {
    for (const Individ& a : samples[0].adults) expected += std::to_string(FieldAllele(a, locus)) + " ";
    expected += "\n";
  }
  EXPECT_EQ(ReadOut("bcftools query -f '[%GT ]\\n' " + small + " 2>&1"), expected);
}

}  // namespace
}  // namespace talveron
