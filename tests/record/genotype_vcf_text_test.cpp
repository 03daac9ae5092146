#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "model/version.h"
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

// Settings with two scheduled changes, added latest first.
GenotypeSettings SomeSettings() {
  GenotypeSettings settings;
  EXPECT_FALSE(SetParameter(settings.params, "selectionFactor", "0.125"));
  EXPECT_FALSE(SetParameter(settings.params, "density", "3"));
  EXPECT_FALSE(settings.changes.Add(301, "gSearchCost", "0.05"));
  EXPECT_FALSE(settings.changes.Add(151, "natalDispersalRate", "50"));
  EXPECT_FALSE(settings.changes.Add(151, "matingDispersalRate", "20"));
  return settings;
}

const std::string kLoci[kGenotypeLoci] = {
    "habitatPref", "habitatSpec", "matingPrefType", "matingPrefValue", "signalType", "signalValue",
    "generalViability", "neutral0", "neutral1", "neutral2", "neutral3", "neutral4", "neutral5", "neutral6",
    "neutral7", "neutral8", "neutral9"};

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
  const std::string text = GenotypeVcfText(3, samples, {});
  const std::vector<std::string> lines = Split(text, '\n');
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "##fileformat=VCFv4.2");
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
  // Each locus on a contig of its own, named after it, at position 1.
  for (int locus = 0; locus < kGenotypeLoci; ++locus) {
    EXPECT_NE(text.find("\n##contig=<ID=" + kLoci[locus] + ",length=1>\n"), std::string::npos) << kLoci[locus];
  }
  for (int locus = 0; locus < kGenotypeLoci; ++locus) {
    const std::vector<std::string> record = Split(lines[at + 1 + locus], '\t');
    ASSERT_EQ(record.size(), head.size()) << kLoci[locus];
    EXPECT_EQ(record[0], kLoci[locus]);
    EXPECT_EQ(record[1], "1");
    EXPECT_EQ(record[2], kLoci[locus]);
    EXPECT_EQ(record[3], "N");
    EXPECT_EQ(record[7].substr(0, record[7].find(';')), "LOCUS=" + kLoci[locus]);
    EXPECT_EQ(record[8], "GT");
    const std::size_t alleles = 1 + Split(record[4], ',').size();
    EXPECT_EQ(alleles, locus == 3 || locus == 5 ? 10u : locus < 7 ? 3u : 2u) << kLoci[locus];
    for (std::size_t i = 0; i < individuals.size(); ++i) {
      const int allele = FieldAllele(*individuals[i], locus);
      ASSERT_EQ(record[9 + i], std::to_string(allele)) << kLoci[locus] << " sample " << i;
      ASSERT_LT(static_cast<std::size_t>(allele), alleles);
    }
  }
  // Streamed, the same text; the header and each record end a piece,
  // and no other piece ends a line.
  std::vector<std::size_t> lineEnds;  // where the #CHROM line and the records end
  for (std::size_t end = text.find("\n#CHROM") + 1; (end = text.find('\n', end)) != std::string::npos;) {
    lineEnds.push_back(++end);
  }
  std::string streamed;
  std::vector<std::size_t> pieceEnds;
  WriteGenotypeVcfText(3, samples, {}, [&](std::string_view piece) {
    streamed.append(piece);
    if (!piece.empty() && piece.back() == '\n') pieceEnds.push_back(streamed.size());
  });
  EXPECT_EQ(streamed, text);
  EXPECT_EQ(pieceEnds, lineEnds);
}

// INFO of every record, from the alleles counted here: AN the samples,
// AC each ALT allele's count, AF count / AN, AA the founders' allele (2 at
// the three-allele loci, 0 at the values and the neutral genes).
TEST(GenotypeVcfText, CountsEveryAlleleInInfo) {
  const std::vector<GenotypeSample> samples = RandomSamples(3, 200);
  const std::vector<std::string> lines = Split(GenotypeVcfText(1, samples, {}), '\n');
  const std::size_t first = lines.size() - kGenotypeLoci;
  for (int locus = 0; locus < kGenotypeLoci; ++locus) {
    const std::vector<std::string> record = Split(lines[first + static_cast<std::size_t>(locus)], '\t');
    std::map<int, long> counts;
    long total = 0;
    for (const GenotypeSample& sample : samples) {
      for (const Individ& a : sample.adults) {
        ++counts[FieldAllele(a, locus)];
        ++total;
      }
    }
    const int alleles = locus == 3 || locus == 5 ? 10 : locus < 7 ? 3 : 2;
    const std::string symbol = alleles == 10 ? "<V" : "<A";
    std::string ac;
    std::vector<double> frequencies;
    for (int allele = 1; allele < alleles; ++allele) {
      ac += (allele > 1 ? "," : "") + std::to_string(counts[allele]);
      frequencies.push_back(static_cast<double>(counts[allele]) / static_cast<double>(total));
    }
    const std::string ancestral = locus < 7 && alleles == 3 ? symbol + "2>" : "N";
    std::map<std::string, std::string> info;
    for (const std::string& field : Split(record[7], ';')) info[field.substr(0, field.find('='))] = field.substr(field.find('=') + 1);
    EXPECT_EQ(info["AA"], ancestral) << kLoci[locus];
    EXPECT_EQ(info["AN"], std::to_string(total)) << kLoci[locus];
    EXPECT_EQ(info["AC"], ac) << kLoci[locus];
    const std::vector<std::string> af = Split(info["AF"], ',');
    ASSERT_EQ(af.size(), frequencies.size()) << kLoci[locus];
    for (std::size_t i = 0; i < af.size(); ++i) {
      EXPECT_EQ(std::stof(af[i]), static_cast<float>(frequencies[i])) << kLoci[locus] << " " << af[i];
      EXPECT_LE(af[i].size(), 12u) << "the shortest text of a float";
    }
  }
}

// The header names the version, every parameter's value and the scheduled
// changes in the order of their generations, each a structured line with
// an ID and no comma in a value; without changes it names none. The
// settings change the header only.
TEST(GenotypeVcfText, HeaderNamesTheSettingsAndTheirChanges) {
  const std::vector<GenotypeSample> samples = RandomSamples(1, 20);
  const GenotypeSettings settings = SomeSettings();
  const std::string text = GenotypeVcfText(1, samples, settings);
  EXPECT_NE(text.find("\n##source=Talveron " + std::string(kTalveronVersion) + "\n"), std::string::npos);
  std::vector<std::string> parameters;
  std::vector<std::string> changes;
  for (const std::string& line : Split(text.substr(0, text.find("#CHROM")), '\n')) {
    if (line.rfind("##talveronParameter=", 0) == 0) parameters.push_back(line);
    if (line.rfind("##talveronChange=", 0) == 0) changes.push_back(line);
  }
  ASSERT_EQ(parameters.size(), ParameterTable().size());
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const ParameterInfo& info = ParameterTable()[i];
    EXPECT_EQ(parameters[i], "##talveronParameter=<ID=" + std::string(info.name) +
                                 ",Value=" + FormatParameter(settings.params, info) + ">");
  }
  EXPECT_NE(text.find("##talveronParameter=<ID=selectionFactor,Value=0.125>\n"), std::string::npos);
  EXPECT_NE(text.find("##talveronParameter=<ID=density,Value=3>\n"), std::string::npos);
  EXPECT_EQ(changes, (std::vector<std::string>{
                         "##talveronChange=<ID=1,Generation=151,Name=natalDispersalRate,Value=50>",
                         "##talveronChange=<ID=2,Generation=151,Name=matingDispersalRate,Value=20>",
                         "##talveronChange=<ID=3,Generation=301,Name=gSearchCost,Value=0.05>"}));

  const std::string plain = GenotypeVcfText(1, samples, {});
  EXPECT_EQ(plain.find("##talveronChange"), std::string::npos);
  EXPECT_NE(plain.find("##talveronParameter=<ID=selectionFactor,Value=0.5>\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.find("#CHROM")), plain.substr(plain.find("#CHROM")));

  // Every structured line has an ID, and no value a comma: the line's
  // commas are as many as its fields less one.
  for (const std::string& line : Split(text.substr(0, text.find("#CHROM")), '\n')) {
    const std::size_t open = line.find("=<");
    if (open == std::string::npos) continue;
    EXPECT_EQ(line.compare(open, 5, "=<ID="), 0) << line;
    std::string outside;  // the line without its quoted text
    bool quoted = false;
    for (char c : line) {
      if (c == '"') quoted = !quoted;
      if (!quoted) outside += c;
      if (quoted) {
        EXPECT_NE(c, ',') << line;
      }
    }
    EXPECT_EQ(std::count(outside.begin(), outside.end(), ','), std::count(outside.begin(), outside.end(), '=') - 2)
        << line;
  }
}

// No samples: a file of the 17 records without a FORMAT column, which
// bcftools reads; and a small one, whose genotypes, allele counts and
// settings bcftools gives back.
TEST(GenotypeVcfText, IsReadByBcftoolsAlsoWithoutSamples) {
  test_support::TempFolder folder("genotype-text");
  const std::string empty = (folder / "empty.vcf").string();
  std::ofstream(empty) << GenotypeVcfText(1, {}, {});
  std::string ids;
  for (const std::string& locus : kLoci) ids += locus + " " + locus + " 0\n";
  EXPECT_EQ(ReadOut("bcftools query -f '%CHROM %ID %AN\\n' " + empty), ids);
  EXPECT_EQ(ReadOut("bcftools query -l " + empty), "");

  const std::vector<GenotypeSample> samples = RandomSamples(1, 3);
  const std::string small = (folder / "small.vcf").string();
  std::ofstream(small) << GenotypeVcfText(2, samples, SomeSettings());
  std::string expected;
  for (int locus = 0; locus < kGenotypeLoci; ++locus) {
    for (const Individ& a : samples[0].adults) expected += std::to_string(FieldAllele(a, locus)) + " ";
    expected += "\n";
  }
  EXPECT_EQ(ReadOut("bcftools query -f '[%GT ]\\n' " + small + " 2>&1"), expected);
  EXPECT_EQ(ReadOut("bcftools query -t signalValue -f '%AN\\n' " + small + " 2>&1"), "3\n");
  EXPECT_EQ(ReadOut("bcftools view -h " + small + " 2>&1 | grep '^##talveronChange'"),
            "##talveronChange=<ID=1,Generation=151,Name=natalDispersalRate,Value=50>\n"
            "##talveronChange=<ID=2,Generation=151,Name=matingDispersalRate,Value=20>\n"
            "##talveronChange=<ID=3,Generation=301,Name=gSearchCost,Value=0.05>\n");
}

// The lists beside the file: each habitat's sample names, a line each, and
// every sample's sex in plink's form (1 male, 2 female), in the samples'
// order.
TEST(GenotypeVcfText, ListsTheSamplesOfEachHabitatAndTheirSexes) {
  const std::vector<GenotypeSample> samples = RandomSamples(2, 30);
  std::string habitats[2];
  std::string sexes;
  for (const GenotypeSample& sample : samples) {
    for (const Individ& a : sample.adults) {
      const std::string name = GenotypeSampleName(4, sample.generation, a);
      habitats[a.habitat] += name + "\n";
      sexes += name + "\t" + name + (a.sex ? "\t1\n" : "\t2\n");
    }
  }
  EXPECT_FALSE(habitats[0].empty());
  EXPECT_FALSE(habitats[1].empty());
  EXPECT_EQ(GenotypeHabitatLines(4, samples, 0), habitats[0]);
  EXPECT_EQ(GenotypeHabitatLines(4, samples, 1), habitats[1]);
  EXPECT_EQ(GenotypeSexLines(4, samples), sexes);
  EXPECT_EQ(GenotypeHabitatLines(4, {}, 0), "");
}

}  // namespace
}  // namespace talveron
