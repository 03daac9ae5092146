// The batch command as users run it: options, refusals, files, messages.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "batch/batch_run.h"
#include "record/trace.h"

namespace talveron::batch {
namespace {

struct Outcome {
  int status;
  std::string out;
  std::string log;
};

Outcome RunBatchCommand(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream log;
  const int status = BatchMain(args, out, log);
  return {status, out.str(), log.str()};
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class BatchCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("talveron_batch_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
};

TEST_F(BatchCommand, HelpNamesEveryOptionAndParameter) {
  const Outcome outcome = RunBatchCommand({"--help"});
  EXPECT_EQ(outcome.status, 0);
  for (const char* option : {"--seed", "--replicates", "--generations", "--span", "--record", "--set",
                             "--out", "--trace"}) {
    EXPECT_NE(outcome.out.find(option), std::string::npos) << option;
  }
  for (const ParameterInfo& info : ParameterTable()) {
    EXPECT_NE(outcome.out.find(std::string(info.name)), std::string::npos) << info.name;
  }
  EXPECT_NE(outcome.out.find("a whole number from 1 to 2147483647; default 10000"),
            std::string::npos);
}

// Bad input is refused before anything runs: one line naming the option,
// the value and what is allowed, status 2, and no file.
TEST_F(BatchCommand, RefusesBadInputWithoutTouchingTheFile) {
  const std::string out = PathOf("refused.txt");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--frobnicate", "1"}, "unknown option '--frobnicate'"},
      {{"--replicates", "-1"}, "--replicates '-1'"},
      {{"--replicates", "0"}, "from 1 to"},
      {{"--generations", ""}, "--generations ''"},
      {{"--generations", "12x"}, "--generations '12x'"},
      {{"--seed", "18446744073709551616"}, "--seed '18446744073709551616'"},
      {{"--seed", "-5"}, "--seed '-5'"},
      {{"--record", "sometimes"}, "timed, total, preference, specialization, mating or none"},
      {{"--set", "density=9"}, "'9' is not allowed for density: it takes a whole number from 1 to 8"},
      {{"--set", "density=0"}, "density"},
      {{"--set", "numberOfKids=13"}, "from 0 to 12"},
      {{"--set", "mutationRate=40000"}, "mutationRate"},
      {{"--set", "gFalseAlarmPayoff=0"}, "gFalseAlarmPayoff"},
      {{"--set", "gGenerationsToEnvironmentalChange=0"}, "gGenerationsToEnvironmentalChange"},
      {{"--set", "selectionFactor=nan"}, "'nan' is not allowed for selectionFactor"},
      {{"--set", "gSearchCost=inf"}, "gSearchCost"},
      {{"--set", "gSearchCost=1.5"}, "a decimal from 0 to 1"},
      {{"--set", "selectionFactor="}, "selectionFactor"},
      {{"--set", "gMalesMateOnce=yes"}, "0, 1, true or false"},
      {{"--set", "nosuchParameter=1"}, "unknown parameter 'nosuchParameter'"},
      {{"--set", "density"}, "expected NAME=VALUE"},
      {{"--span"}, "--span needs a value"},
  };
  for (const auto& [args, expected] : cases) {
    std::vector<std::string> full = args;
    full.insert(full.end(), {"--out", out});
    const Outcome outcome = RunBatchCommand(full);
    EXPECT_EQ(outcome.status, 2) << args[0];
    EXPECT_NE(outcome.log.find(expected), std::string::npos) << outcome.log;
    EXPECT_EQ(std::count(outcome.log.begin(), outcome.log.end(), '\n'), 1) << outcome.log;
    EXPECT_FALSE(std::filesystem::exists(out)) << args[0];
  }
}

TEST_F(BatchCommand, RequiresAnOutputFile) {
  const Outcome outcome = RunBatchCommand({"--replicates", "1"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.log.find("--out is required"), std::string::npos);
}

TEST_F(BatchCommand, AnOutputPathThatCannotBeCreatedFailsWithStatusOne) {
  const Outcome outcome = RunBatchCommand({"--seed", "1", "--out", PathOf("missing/dir/data.txt")});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.log.find("missing/dir/data.txt"), std::string::npos);
  EXPECT_NE(outcome.log.find("No such file or directory"), std::string::npos);
}

// A full disk ends the command with status 1 and the reason.
TEST_F(BatchCommand, AFullDiskIsNeverReportedAsSuccess) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  const Outcome outcome =
      RunBatchCommand({"--seed", "1", "--replicates", "1", "--generations", "5", "--out", "/dev/full"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.log.find("cannot write '/dev/full': No space left on device"), std::string::npos);
  EXPECT_EQ(outcome.log.find("wrote"), std::string::npos);
}

TEST_F(BatchCommand, ASeedGivesTheSameBytesEveryTime) {
  const std::vector<std::string> common = {"--seed", "42", "--replicates", "3", "--generations", "60",
                                           "--set", "density=2", "--record", "preference", "--span", "7"};
  auto first = common;
  first.insert(first.end(), {"--out", PathOf("a.txt"), "--trace", PathOf("a.trace")});
  auto second = common;
  second.insert(second.end(), {"--out", PathOf("b.txt"), "--quiet"});
  ASSERT_EQ(RunBatchCommand(first).status, 0);
  ASSERT_EQ(RunBatchCommand(second).status, 0);
  EXPECT_EQ(ReadAll(PathOf("a.txt")), ReadAll(PathOf("b.txt")));
  const std::string data = ReadAll(PathOf("a.txt"));
  EXPECT_EQ(data.find('\n'), std::string::npos);
  EXPECT_NE(data.find("averaging span\t\t\t7\tgenerations\r"), std::string::npos);
  EXPECT_NE(data.find("average appropriate habitat preference for left habitat\r"), std::string::npos);
  // 3 x 60 generations = 25 complete spans of 7, spread over three lines.
  const std::string trace = ReadAll(PathOf("a.trace"));
  EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 1 + 3 * 60 * 2);
}

// Each replicate has its own seed: two replicates never run alike, and a
// replicate rerun alone with its seed gives its own record again.
TEST_F(BatchCommand, ReplicatesHaveTheirOwnSeeds) {
  ASSERT_EQ(RunBatchCommand({"--seed", "100", "--replicates", "2", "--generations", "40", "--out", PathOf("s.txt"),
                 "--trace", PathOf("s.trace"), "-q"}).status, 0);
  ASSERT_EQ(RunBatchCommand({"--seed", "101", "--replicates", "1", "--generations", "40", "--out", PathOf("r.txt"),
                 "--trace", PathOf("r.trace"), "-q"}).status, 0);
  const std::string series = ReadAll(PathOf("s.trace"));
  const std::string alone = ReadAll(PathOf("r.trace"));
  std::istringstream lines(series);
  std::string line;
  std::string second;
  std::string first;
  while (std::getline(lines, line)) {
    // Replicate 2 of the series, renumbered as the replicate it is alone.
    if (line.rfind("2\t", 0) == 0) second.append("1").append(line, 1).append("\n");
    if (line.rfind("1\t", 0) == 0) first.append(line).append("\n");
  }
  EXPECT_EQ(std::string(talveron::kTraceHeader) + second, alone);
  EXPECT_NE(first.substr(2), second.substr(2));
}

TEST_F(BatchCommand, ReportsTheBaseSeedItTookFromTheClock) {
  const Outcome outcome = RunBatchCommand({"--replicates", "1", "--generations", "3", "--out", PathOf("c.txt")});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_NE(outcome.log.find("base seed "), std::string::npos);
}

// An extinct population reports its extinction every generation, in both
// selections; the batch command says so once per replicate, with the count.
TEST_F(BatchCommand, RepeatedMessagesAreReportedOncePerReplicate) {
  const Outcome outcome = RunBatchCommand({"--seed", "3", "--replicates", "2", "--generations", "10", "--set",
                               "gSearchCost=1", "--out", PathOf("e.txt")});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_NE(outcome.log.find("replicate 1: \"Extinction\" (20 times)"), std::string::npos) << outcome.log;
  EXPECT_NE(outcome.log.find("replicate 2: \"Extinct -- dispersal start\" (10 times)"), std::string::npos)
      << outcome.log;
  const std::string data = ReadAll(PathOf("e.txt"));
  EXPECT_NE(data.find("\r\r0\t0\t0\t0\t0\t0\t0\t0\t0\r0\t0\t0\t0\t0\t0\t0\t0\t0\r"), std::string::npos);

  // --quiet means quiet: the model's messages are not errors, and a series
  // or study of thousands of replicates would print thousands of lines.
  const Outcome quiet = RunBatchCommand({"--seed", "3", "--replicates", "2", "--generations", "10", "--set",
                                         "gSearchCost=1", "--quiet", "--out", PathOf("q.txt")});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.log, "");
  EXPECT_EQ(ReadAll(PathOf("q.txt")), data);
  std::ofstream(PathOf("extinct.toml")) << "seed = 3\nreplicates = 2\ngenerations = 10\n[set]\ngSearchCost = 1\n"
                                           "[vary]\ndensity = [1, 2]\n";
  const Outcome study =
      RunBatchCommand({"--study", PathOf("extinct.toml"), "--out-dir", PathOf("extinct"), "--quiet"});
  EXPECT_EQ(study.status, 0);
  EXPECT_EQ(study.log, "");
}

}  // namespace
}  // namespace talveron::batch
