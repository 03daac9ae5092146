// A replicate's VCF file taken a generation at a time: the bytes of the
// file written from all the generations at once, its samples table, and the
// generation refused that would pass the most samples a file may name.
#include <malloc.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "record/data_file.h"
#include "record/vcf/genotype_vcf.h"
#include "run/settings_file.h"
#include "run/study.h"
#include "temp_folder.h"

namespace talveron {
namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Generations of `counts[g]` adults each, their loci and places drawn from
// a fixed sequence.
std::vector<GenotypeSample> Generations(const std::vector<int>& counts) {
  std::vector<GenotypeSample> samples;
  unsigned state = 12345;
  auto next = [&state](unsigned below) {
    state = state * 1103515245u + 12345u;
    return static_cast<std::uint8_t>((state >> 16) % below);
  };
  for (std::size_t g = 0; g < counts.size(); ++g) {
    GenotypeSample sample;
    sample.generation = static_cast<long>(10 * (g + 1));
    for (int a = 0; a < counts[g]; ++a) {
      Individ adult;
      adult.habitat = next(2);
      adult.x = next(kColumns);
      adult.y = next(kRows);
      adult.sex = next(2) == 1;
      adult.habitatPref = next(3);
      adult.habitatSpec = next(3);
      adult.matingPrefType = next(3);
      adult.matingPrefValue = next(10);
      adult.signalType = next(3);
      adult.signalValue = next(10);
      adult.generalViability = static_cast<std::int8_t>(next(3));
      for (auto& gene : adult.neutralGenes) gene = next(2);
      sample.adults.push_back(adult);
    }
    samples.push_back(std::move(sample));
  }
  return samples;
}

// Whatever the generations hold (none, some empty, one adult, more than
// the megabyte kept in memory), the file made a generation at a time is
// byte for byte, index, table and lists too, the file of all of them at
// once: its records' INFO counts every generation's alleles.
TEST(GenotypeVcfStream, IsTheFileOfAllGenerationsAtOnce) {
  test_support::TempFolder dir("stream");
  GenotypeSettings settings;
  ASSERT_FALSE(SetParameter(settings.params, "density", "5"));
  ASSERT_FALSE(settings.changes.Add(20, "natalDispersalRate", "15"));
  std::vector<int> many(300, 180);
  many[7] = 0;
  many[8] = 1;
  const std::vector<std::vector<int>> cases = {{}, {0, 0}, {0, 3, 0, 1}, {5}, many};
  for (std::size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE("case " + std::to_string(c));
    const std::vector<GenotypeSample> samples = Generations(cases[c]);
    const std::string whole = (dir / ("whole-" + std::to_string(c) + ".vcf.gz")).string();
    WriteGenotypeVcf(whole, 4, samples, settings);

    const std::string streamed = (dir / ("streamed-" + std::to_string(c) + ".vcf.gz")).string();
    GenotypeVcfStream stream(streamed, 4, "s.vcf.gz", settings, {dir.path().string()}, kMaxVcfSamples, true);
    std::uint64_t count = 0;
    for (const GenotypeSample& sample : samples) {
      stream.Add(sample);
      count += sample.adults.size();
    }
    EXPECT_EQ(stream.samples(), count);
    stream.WriteVcf(streamed, streamed + ".tbi");
    const std::string expected = ReadAll(whole);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(ReadAll(streamed) == expected);
    EXPECT_TRUE(ReadAll(streamed + ".tbi") == ReadAll(whole + ".tbi"));
    std::string table;
    stream.TableLines([&table](std::string_view lines) { table.append(lines); });
    EXPECT_EQ(table, GenotypeTableLines(4, samples, "s.vcf.gz"));
    const std::string lists[] = {GenotypeHabitatLines(4, samples, 0), GenotypeHabitatLines(4, samples, 1),
                                 GenotypeSexLines(4, samples)};
    for (int list = 0; list < 3; ++list) {
      std::string lines;
      stream.ListLines(list, [&lines](std::string_view piece) { lines.append(piece); });
      EXPECT_EQ(lines, lists[list]) << "list " << list;
    }
  }
}

// The file may name so many samples and no more: the generation that
// would pass the limit is refused, naming the file, the generation and the
// limit, and the file stays as it was before it.
TEST(GenotypeVcfStream, RefusesTheGenerationThatWouldPassTheLimit) {
  test_support::TempFolder dir("limit");
  const std::vector<GenotypeSample> samples = Generations({200, 50, 1});
  const std::string path = (dir / "l.vcf.gz").string();
  GenotypeVcfStream stream(path, 1, "l.vcf.gz", {}, {dir.path().string()}, 250);
  stream.Add(samples[0]);
  stream.Add(samples[1]);
  try {
    stream.Add(samples[2]);
    ADD_FAILURE() << "a 251st sample was taken";
  } catch (const FileError& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_NE(message.find("generation 30 would make it name 251 samples, more than the 250"), std::string::npos)
        << message;
  }
  EXPECT_EQ(stream.samples(), 250u);
  stream.WriteVcf(path, path + ".tbi");
  const std::string whole = (dir / "w.vcf.gz").string();
  WriteGenotypeVcf(whole, 1, {samples[0], samples[1]}, {});
  EXPECT_TRUE(ReadAll(path) == ReadAll(whole));
  EXPECT_EQ(kMaxVcfSamples, 16777215u);
}

// A study keeps a plan per cell: a cell without scheduled changes holds no
// room for any (it once held 32 of them, 3 KB a cell).
TEST(StudyPlanMemory, ACellHoldsOnlyTheChangesItHas) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's allocator is not malloc's";
#endif
  const std::string text =
      "seed = 1\nreplicates = 1\ngenerations = 1\n[vary]\nnumberOfKids = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n"
      "mutationRate = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\nnatalDispersalRate = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n"
      "matingDispersalRate = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n";
  const SettingsFile file = ParseSettingsText(text, "large.toml");
  const std::size_t before = mallinfo2().uordblks;
  const StudyPlan study = PlanStudy(file, 1);
  const std::size_t after = mallinfo2().uordblks;
  ASSERT_EQ(study.cells.size(), 10000u);
  const double perCell = static_cast<double>(after - before) / 10000.0;
  EXPECT_LT(perCell, 1024.0) << perCell << " bytes a cell";
}

}  // namespace
}  // namespace talveron
