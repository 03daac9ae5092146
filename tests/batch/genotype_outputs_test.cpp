// The genotype files of a series are outputs like the data file and the
// trace: claimed before anything runs, written under their working names,
// put in place with the data file, and kept consistent with it by a stop;
// and a replicate's samples wait on disk, not in memory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "batch/batch_run.h"
#include "batch_child.h"
#include "temp_folder.h"

namespace talveron::batch {
namespace {

namespace fs = std::filesystem;
using test_support::TempFolder;
using testing::BatchChild;
using testing::ReadAll;
using testing::WriteAll;

struct Outcome {
  int status;
  std::string log;
};

Outcome RunHere(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream log;
  const int status = BatchMain(args, out, log);
  return {status, log.str()};
}

std::vector<std::string> Series(const std::string& replicates, std::vector<std::string> outputs) {
  std::vector<std::string> args = {"--seed", "3", "--replicates", replicates, "--generations", "30", "-q"};
  args.insert(args.end(), outputs.begin(), outputs.end());
  return args;
}

std::set<std::string> NamesIn(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

// The records of a timed data file: what follows the legend.
std::string RecordsOf(const std::string& data) {
  const std::string legend = "A\tB\tC\tD\tE\tF\tG\tH\tI\r\r";
  const std::size_t at = data.find(legend);
  return at == std::string::npos ? "" : data.substr(at + legend.size());
}

// The samples table's lines after its header.
std::vector<std::string> TableRows(const std::string& table) {
  std::vector<std::string> rows;
  std::istringstream lines(table);
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) rows.push_back(line);
  return rows;
}

// Every file of the genotype samples takes part in the refusals of --out
// and --trace, before anything is made: one file named twice (the index,
// the table, a replicate's file), a read-only file, a folder in the way;
// a symbolic link stays a link.
TEST(GenotypeOutputs, EveryFileIsClaimedBeforeAnythingRuns) {
  TempFolder dir("claimed");
  const std::string g = (dir / "g.vcf.gz").string();
  const std::string out = (dir / "o.txt").string();
  WriteAll(out, "old data\r");
  const std::vector<std::vector<std::string>> twice = {
      Series("1", {"--out", out, "--trace", g + ".tbi", "--genotypes", g}),
      Series("1", {"--out", g + ".tbi", "--genotypes", g}),
      Series("1", {"--out", (dir / "g.samples.tsv").string(), "--genotypes", g}),
      Series("2", {"--out", out, "--trace", (dir / "g.sex.txt").string(), "--genotypes", g}),
      Series("1", {"--out", g, "--genotypes", g}),
      Series("1", {"--out", out, "--trace", g, "--genotypes", g}),
      Series("2", {"--out", out, "--trace", (dir / "g-r2.vcf.gz").string(), "--genotypes", g}),
      Series("2", {"--out", out, "--trace", (dir / "g-r1.vcf.gz.tbi.partial").string(), "--genotypes", g}),
  };
  for (const auto& args : twice) {
    SCOPED_TRACE(args[args.size() - 3] + " " + args[args.size() - 2]);
    const Outcome outcome = RunHere(args);
    EXPECT_EQ(outcome.status, 2) << outcome.log;
    EXPECT_NE(outcome.log.find("the same file"), std::string::npos) << outcome.log;
    EXPECT_EQ(NamesIn(dir.path()), std::set<std::string>{"o.txt"});
  }
  EXPECT_EQ(ReadAll(out), "old data\r");

  // A read-only file of the set: refused, as a read-only data file is.
  WriteAll(dir / "g-r2.vcf.gz", "someone's samples");
  fs::permissions(dir / "g-r2.vcf.gz", fs::perms::owner_read);
  Outcome outcome = RunHere(Series("2", {"--out", out, "--genotypes", g}));
  EXPECT_EQ(outcome.status, 1) << outcome.log;
  EXPECT_NE(outcome.log.find("cannot write '" + (dir / "g-r2.vcf.gz").string() + "': the file is read-only"),
            std::string::npos)
      << outcome.log;
  EXPECT_EQ(ReadAll(dir / "g-r2.vcf.gz"), "someone's samples");
  fs::remove(dir / "g-r2.vcf.gz");

  // A folder where a file goes is found before the run, not after it:
  // the old data file stays, and nothing was made.
  for (const char* folder : {"g-r2.vcf.gz", "g-r1.vcf.gz.tbi", "g.samples.tsv"}) {
    SCOPED_TRACE(folder);
    fs::create_directory(dir / folder);
    outcome = RunHere(Series("2", {"--out", out, "--genotypes", g}));
    EXPECT_EQ(outcome.status, 1) << outcome.log;
    EXPECT_NE(outcome.log.find("Is a directory"), std::string::npos) << outcome.log;
    EXPECT_EQ(ReadAll(out), "old data\r");
    EXPECT_EQ(NamesIn(dir.path()), (std::set<std::string>{"o.txt", folder}));
    fs::remove(dir / folder);
  }

  // A link is followed: its target is replaced, the link stays.
  fs::create_directory(dir / "real");
  fs::create_symlink(dir / "real" / "target.vcf.gz", dir / "linked.vcf.gz");
  outcome = RunHere(Series("1", {"--out", out, "--genotypes", (dir / "linked.vcf.gz").string()}));
  ASSERT_EQ(outcome.status, 0) << outcome.log;
  EXPECT_TRUE(fs::is_symlink(dir / "linked.vcf.gz"));
  EXPECT_GT(fs::file_size(dir / "real" / "target.vcf.gz"), 100u);
  EXPECT_EQ(NamesIn(dir / "real"), std::set<std::string>{"target.vcf.gz"});
  EXPECT_EQ(NamesIn(dir.path()),
            (std::set<std::string>{"o.txt", "real", "linked.vcf.gz", "linked.vcf.gz.tbi", "linked.samples.tsv",
                                   "linked.habitat0.txt", "linked.habitat1.txt", "linked.sex.txt"}));
}

// While a series writes its genotype samples, a second run on the same
// --genotypes is refused before it writes, naming the first process.
TEST(GenotypeOutputs, ASecondRunOnTheSameGenotypesIsRefused) {
  TempFolder dir("second");
  const std::string g = (dir / "g.vcf.gz").string();
  BatchChild first({"--seed", "1", "--replicates", "20000", "--generations", "20", "--jobs", "1", "--verbose",
                    "--out", (dir / "a.txt").string(), "--genotypes", g},
                   (dir / "log").string());
  ASSERT_TRUE(first.WaitUntil([&] { return first.LogHas("replicate 1: seed"); })) << first.Log();
  for (const std::vector<std::string>& outputs :
       {std::vector<std::string>{"--out", (dir / "b.txt").string(), "--genotypes", g},
        std::vector<std::string>{"--out", (dir / "g.samples.tsv").string()}}) {
    const Outcome second = RunHere(Series("1", outputs));
    EXPECT_EQ(second.status, 2) << second.log;
    EXPECT_NE(second.log.find("is being written by"), std::string::npos) << second.log;
  }
  EXPECT_NE(RunHere(Series("1", {"--out", (dir / "b.txt").string(), "--genotypes", g}))
                .log.find("is being written by process " + std::to_string(first.pid())),
            std::string::npos);
  for (const char* name : {"b.txt", "b.txt.partial", "b.txt.lock", "g.samples.tsv.lock"}) {
    EXPECT_FALSE(fs::exists(dir / name)) << name;
  }
  first.Signal(SIGINT);
  EXPECT_EQ(first.Finish(), 130) << first.Log();
}

// A stop between replicates keeps the data file's complete records and
// the genotype files of the same replicates, all under their working
// names; the files of the run before stay as they were, together.
TEST(GenotypeOutputs, AStopKeepsTheGenotypeFilesOfTheCompleteRecords) {
  TempFolder dir("stop");
  const std::string out = (dir / "o.txt").string();
  const std::string g = (dir / "g.vcf.gz").string();
  const std::vector<std::string> series = {"--replicates", "3", "--generations", "6000", "--sample-every", "500",
                                           "--jobs", "1"};
  auto run = [&](const std::string& seed, const std::string& data, const std::string& genotypes) {
    std::vector<std::string> args = {"--seed", seed, "-q", "--out", data, "--genotypes", genotypes};
    args.insert(args.end(), series.begin(), series.end());
    return args;
  };
  ASSERT_EQ(RunHere(run("1", out, g)).status, 0);
  std::map<std::string, std::string> old;
  for (const std::string& name : NamesIn(dir.path())) old[name] = ReadAll(dir / name);

  std::vector<std::string> args = run("2", out, g);
  args.erase(args.begin() + 2);  // not quiet: --verbose
  args.insert(args.begin() + 2, "--verbose");
  BatchChild child(args, (dir / "log").string());
  ASSERT_TRUE(child.WaitUntil([&] { return child.LogHas("replicate 1: seed"); })) << child.Log();
  child.Signal(SIGINT);
  ASSERT_EQ(child.Finish(), 130) << child.Log();
  const std::string log = child.Log();
  fs::remove(dir / "log");
  for (const auto& [name, bytes] : old) EXPECT_TRUE(ReadAll(dir / name) == bytes) << name << " was changed";

  // What the stop kept is what a complete run of that seed writes for its
  // first replicate.
  const std::string data = RecordsOf(ReadAll(out + ".partial"));
  const long records = static_cast<long>(std::count(data.begin(), data.end(), '\r'));
  ASSERT_GE(records, 1) << log;
  ASSERT_LT(records, 3) << log;
  fs::create_directory(dir / "ref");
  ASSERT_EQ(RunHere(run("2", (dir / "ref" / "o.txt").string(), (dir / "ref" / "g.vcf.gz").string())).status, 0);
  std::set<std::string> expected = {"o.txt.partial",          "g.samples.tsv.partial", "g.habitat0.txt.partial",
                                    "g.habitat1.txt.partial", "g.sex.txt.partial",     "ref"};
  for (long k = 1; k <= records; ++k) {
    const std::string name = "g-r" + std::to_string(k) + ".vcf.gz";
    expected.insert(name + ".partial");
    expected.insert(name + ".tbi.partial");
    EXPECT_TRUE(ReadAll(dir / (name + ".partial")) == ReadAll(dir / "ref" / name)) << name;
    EXPECT_TRUE(ReadAll(dir / (name + ".tbi.partial")) == ReadAll(dir / "ref" / (name + ".tbi"))) << name;
  }
  for (const auto& [name, bytes] : old) expected.insert(name);
  EXPECT_EQ(NamesIn(dir.path()), expected);
  const std::vector<std::string> kept = TableRows(ReadAll(dir / "g.samples.tsv.partial"));
  std::vector<std::string> reference;
  for (const std::string& row : TableRows(ReadAll(dir / "ref" / "g.samples.tsv"))) {
    if (std::stol(row.substr(row.find('\t') + 1)) <= records) reference.push_back(row);
  }
  EXPECT_EQ(kept, reference);
  // The lists too hold the samples of the kept records, and no others.
  for (const std::string list : {"g.habitat0.txt", "g.habitat1.txt", "g.sex.txt"}) {
    std::string lines;
    std::istringstream all(ReadAll(dir / "ref" / list));
    for (std::string line; std::getline(all, line);) {
      if (std::stol(line.substr(1, line.find('_') - 1)) <= records) lines += line + "\n";
    }
    EXPECT_FALSE(lines.empty()) << list;
    EXPECT_TRUE(ReadAll(dir / (list + ".partial")) == lines) << list;
  }
  EXPECT_NE(log.find("kept " + std::to_string(records) + " complete record"), std::string::npos) << log;
  EXPECT_NE(log.find("their genotype samples in " + (dir / "g-r1.vcf.gz.partial").string()), std::string::npos)
      << log;
  EXPECT_NE(log.find(out + " and the genotype files are unchanged"), std::string::npos) << log;
}

// The samples of a replicate wait on disk until its file is written: the
// peak memory of a replicate sampled in every generation does not grow
// with its generations (it once held some 70 bytes a sample).
TEST(GenotypeOutputs, SamplesEveryGenerationTakeNoMoreMemoryForMoreGenerations) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer keeps freed memory for a while";
#endif
  TempFolder dir("samples");
  auto peak = [&](long generations) {
    BatchChild child({"--seed", "4", "--replicates", "1", "--generations", std::to_string(generations), "--set",
                      "density=4", "--sample-every", "1", "-q", "--out", (dir / "m.txt").string(), "--genotypes",
                      (dir / "m.vcf.gz").string()},
                     (dir / "log").string());
    EXPECT_EQ(child.Finish(600), 0) << child.Log();
    return child.PeakKilobytes();
  };
  const long shorter = peak(500);
  const long longer = peak(3000);
  // The longer run samples some 2.3 million individuals more.
  EXPECT_LT(longer - shorter, 8 * 1024) << shorter << " KB, then " << longer << " KB";
}

}  // namespace
}  // namespace talveron::batch
