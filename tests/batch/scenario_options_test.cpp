// The batch command's scheduled changes (--change, [[change]]) and the
// statistics of the trace (--stats), and the genotype samples a settings
// file asks for.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "batch/batch_run.h"
#include "record/trace.h"
#include "temp_folder.h"

namespace talveron::batch {
namespace {

struct Outcome {
  int status;
  std::string log;
};

Outcome RunCommand(std::vector<std::string> args) {
  std::ostringstream out;
  std::ostringstream log;
  args.push_back("--quiet");
  const int status = BatchMain(args, out, log);
  return {status, log.str()};
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(BatchScenarios, RefusesBadChangesNamingThem) {
  test_support::TempFolder dir("changes");
  const std::string out = (dir.path() / "refused.txt").string();
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--generations", "100", "--change", "101:natalDispersalRate=10"},
       "--change: change at generation 101: it comes after the last generation, 100"},
      {{"--change", "10:initiallyOneHabitat=1"},
       "change at generation 10: initiallyOneHabitat cannot change during a replicate"},
      {{"--change", "10:density=9"},
       "change at generation 10: '9' is not allowed for density: it takes a whole number from 1 to 8"},
      {{"--change", "10:density=2", "--change", "10:density=3"}, "density is changed twice at generation 10"},
      {{"--change", "density=2"}, "expected GEN:NAME=VALUE"},
      {{"--change", "0:density=2"}, "the generation is allowed to be a whole number from 1"},
      {{"--stats"}, "--stats adds columns to the trace: give --trace FILE too"},
  };
  for (const auto& [args, expected] : cases) {
    std::vector<std::string> full = args;
    full.insert(full.end(), {"--out", out});
    const Outcome outcome = RunCommand(full);
    EXPECT_EQ(outcome.status, 2) << args[1];
    EXPECT_NE(outcome.log.find(expected), std::string::npos) << outcome.log;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

// The command line and a settings file schedule the same changes; the
// command line's replaces the file's of one parameter and generation.
TEST(BatchScenarios, CommandLineAndSettingsFileChangesAgree) {
  test_support::TempFolder dir("changes");
  const std::string settings = (dir.path() / "contact.toml").string();
  std::ofstream(settings) << "seed = 11\nreplicates = 2\ngenerations = 80\n[set]\nrestrictedNatalDispersal = true\n"
                             "[[change]]\ngeneration = 41\nset = { natalDispersalRate = 5, selectionFactor = 0.9 }\n";
  const std::string fromFile = (dir.path() / "file.txt").string();
  const std::string overridden = (dir.path() / "overridden.txt").string();
  const std::string fromLine = (dir.path() / "line.txt").string();
  const std::string plain = (dir.path() / "plain.txt").string();
  ASSERT_EQ(RunCommand({"--settings", settings, "--out", fromFile}).status, 0);
  ASSERT_EQ(RunCommand({"--settings", settings, "--change", "41:natalDispersalRate=40", "--out", overridden}).status, 0);
  ASSERT_EQ(RunCommand({"--seed", "11", "--replicates", "2", "--generations", "80", "--set", "restrictedNatalDispersal=1",
                 "--change", "41:natalDispersalRate=40", "--change", "41:selectionFactor=0.9", "--out", fromLine})
                .status,
            0);
  ASSERT_EQ(RunCommand({"--seed", "11", "--replicates", "2", "--generations", "80", "--set", "restrictedNatalDispersal=1",
                 "--out", plain})
                .status,
            0);
  EXPECT_EQ(ReadAll(overridden), ReadAll(fromLine));
  EXPECT_NE(ReadAll(fromFile), ReadAll(fromLine));
  EXPECT_NE(ReadAll(plain), ReadAll(fromLine));
  // The header holds the settings' own values: the changes are not in it.
  const std::string header = ReadAll(plain).substr(0, ReadAll(plain).find("A\tB\tC"));
  EXPECT_EQ(ReadAll(fromLine).substr(0, header.size()), header);
}

TEST(BatchScenarios, StatisticsAddColumnsAndChangeNothingElse) {
  test_support::TempFolder dir("stats");
  const std::string with = (dir.path() / "with.txt").string();
  const std::string without = (dir.path() / "without.txt").string();
  const std::vector<std::string> common = {"--seed", "3", "--replicates", "3", "--generations", "30",
                                           "--set", "gIncludeNeutralGenes=1", "--set", "density=2"};
  std::vector<std::string> a = common;
  a.insert(a.end(), {"--out", with, "--trace", with + ".trace", "--stats", "--jobs", "2"});
  std::vector<std::string> b = common;
  b.insert(b.end(), {"--out", without, "--trace", without + ".trace", "--jobs", "1"});
  ASSERT_EQ(RunCommand(a).status, 0);
  ASSERT_EQ(RunCommand(b).status, 0);
  EXPECT_EQ(ReadAll(with), ReadAll(without));
  std::istringstream withLines(ReadAll(with + ".trace"));
  std::istringstream withoutLines(ReadAll(without + ".trace"));
  std::string line, plainLine;
  long lines = 0;
  while (std::getline(withoutLines, plainLine)) {
    ASSERT_TRUE(std::getline(withLines, line));
    EXPECT_EQ(line.substr(0, plainLine.size() + 1), plainLine + "\t") << lines;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 12 + 14) << line;
    ++lines;
  }
  EXPECT_EQ(lines, 1 + 3 * 30 * 2);
  EXPECT_FALSE(std::getline(withLines, line));
}

// genotypes = true and sample-every = N in a settings file write the files
// --genotypes FILE.vcf.gz --sample-every N writes, beside the data file.
TEST(BatchScenarios, SettingsFileGenotypesGoBesideTheDataFile) {
  test_support::TempFolder dir("settings-genotypes");
  const std::string settings = (dir.path() / "sampled.toml").string();
  std::ofstream(settings) << "seed = 4\nreplicates = 2\ngenerations = 12\ngenotypes = true\nsample-every = 5\n";
  const std::string fromFile = (dir.path() / "file.txt").string();
  const std::string fromLine = (dir.path() / "line.txt").string();
  ASSERT_EQ(RunCommand({"--settings", settings, "--out", fromFile}).status, 0);
  ASSERT_EQ(RunCommand({"--seed", "4", "--replicates", "2", "--generations", "12", "--sample-every", "5",
                        "--genotypes", (dir.path() / "line.vcf.gz").string(), "--out", fromLine})
                .status,
            0);
  for (const std::string ending : {"-r1.vcf.gz", "-r2.vcf.gz.tbi"}) {
    const std::string made = ReadAll((dir.path() / ("file" + ending)).string());
    EXPECT_FALSE(made.empty()) << ending;
    EXPECT_EQ(made, ReadAll((dir.path() / ("line" + ending)).string())) << ending;
  }
  const std::string table = ReadAll((dir.path() / "file.samples.tsv").string());
  EXPECT_NE(table.find("\t5\t"), std::string::npos);
  EXPECT_NE(table.find("file-r2.vcf.gz"), std::string::npos);
}

}  // namespace
}  // namespace talveron::batch
