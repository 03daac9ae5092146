// Studies as users run them: every cell the series it stands for, the
// summary and the manifest, a study stopped and resumed, refusals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <csignal>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "batch/batch_run.h"
#include "batch_child.h"
#include "model/fatal_error.h"
#include "temp_folder.h"

namespace talveron::batch {
namespace {

namespace fs = std::filesystem;
using testing::BatchChild;
using testing::ReadAll;
using testing::RunChild;
using testing::WriteAll;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

// Every file of a folder and its bytes.
std::map<std::string, std::string> FilesOf(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir))
    files[entry.path().filename().string()] = ReadAll(entry.path());
  return files;
}

class Study : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("talveron_study_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  int RunHere(const std::vector<std::string>& args, std::string* log = nullptr) const {
    std::ostringstream out;
    std::ostringstream err;
    const int status = BatchMain(args, out, err);
    if (log != nullptr) *log = err.str();
    return status;
  }

  fs::path dir_;
};

// Each cell's files are those of the plain series with the cell's seed and
// values; summary.tsv has a row per cell that agrees with its data file;
// manifest.json says what ran and that every cell is complete.
TEST_F(Study, EveryCellIsTheSeriesItStandsFor) {
  struct Grid {
    std::string text;
    std::vector<std::string> record;  // the series options of its recording
    bool timed;
  };
  const std::vector<Grid> grids = {
      {"seed = 11\nreplicates = 3\ngenerations = 40\nrecord = \"timed\"\ntrace = true\n"
       "[set]\nnumberOfKids = 6\n[vary]\ndensity = [1, 3]\nselectionFactor = [0.25, 0.7]\n",
       {"--record", "timed", "--span", "10", "--trace"},
       true},
      {"seed = 5\nreplicates = 2\ngenerations = 20\nrecord = \"total\"\nspan = 7\n"
       "[set]\nnumberOfKids = 6\n[vary]\ndensity = [1, 3]\nselectionFactor = [0.25, 0.7]\n",
       {"--record", "total", "--span", "7"},
       false},
  };
  const std::vector<std::pair<std::string, std::string>> values = {
      {"1", "0.25"}, {"1", "0.7"}, {"3", "0.25"}, {"3", "0.7"}};
  for (const Grid& grid : grids) {
    SCOPED_TRACE(grid.record[1]);
    const std::string out = PathOf("cells-" + grid.record[1]);
    WriteAll(PathOf("study.toml"), grid.text);
    const auto [status, log] =
        RunChild({"--study", PathOf("study.toml"), "--out-dir", out, "--jobs", "2", "-q"}, PathOf("log"));
    ASSERT_EQ(status, 0) << log;
    const long replicates = grid.timed ? 3 : 2;
    const std::uint64_t seed = grid.timed ? 11 : 5;
    const std::map<std::string, std::string> files = FilesOf(out);
    std::set<std::string> names;
    for (const auto& [name, text] : files) names.insert(name);
    std::set<std::string> expected = {"summary.tsv", "manifest.json"};
    for (int c = 1; c <= 4; ++c) {
      expected.insert("cell-" + std::to_string(c) + ".txt");
      if (grid.timed) expected.insert("cell-" + std::to_string(c) + ".trace");
    }
    EXPECT_EQ(names, expected);

    const std::vector<std::string> summary = Split(files.at("summary.tsv"), '\n');
    ASSERT_EQ(summary.size(), 5u) << files.at("summary.tsv");
    EXPECT_EQ(summary[0],
              grid.timed ? "cell\tdensity\tselectionFactor\treplicates\tA_met\tB_met\tC_met\tD_met\tE_met\t"
                           "A_median\tB_median\tC_median\tD_median\tE_median\tspeciation\tfad\t"
                           "speciation_share\tspeciation_low\tspeciation_high"
                         : "cell\tdensity\tselectionFactor\treplicates\tspans\tmean\tsd\tlast");
    const nlohmann::json manifest = nlohmann::json::parse(files.at("manifest.json"));
    EXPECT_EQ(manifest["status"], "complete");
    EXPECT_EQ(manifest["seed"], std::to_string(seed));
    EXPECT_EQ(manifest["study"]["text"], grid.text);
    ASSERT_EQ(manifest["cells"].size(), 4u);

    for (int c = 1; c <= 4; ++c) {
      SCOPED_TRACE("cell " + std::to_string(c));
      const auto& [density, selection] = values[static_cast<std::size_t>(c - 1)];
      const std::string cellSeed = std::to_string(seed + static_cast<std::uint64_t>((c - 1) * replicates));
      std::vector<std::string> series = {"--seed",
                                         cellSeed,
                                         "--replicates",
                                         std::to_string(replicates),
                                         "--generations",
                                         grid.timed ? "40" : "20",
                                         "--set",
                                         "numberOfKids=6",
                                         "--set",
                                         "density=" + density,
                                         "--set",
                                         "selectionFactor=" + selection,
                                         "--jobs",
                                         "1",
                                         "-q",
                                         "--out",
                                         PathOf("plain.txt")};
      series.insert(series.end(), grid.record.begin(), grid.record.end());
      if (grid.timed) series.push_back(PathOf("plain.trace"));
      ASSERT_EQ(RunHere(series), 0);
      const std::string data = ReadAll(PathOf("plain.txt"));
      EXPECT_EQ(files.at("cell-" + std::to_string(c) + ".txt"), data);
      if (grid.timed) {
        EXPECT_EQ(files.at("cell-" + std::to_string(c) + ".trace"), ReadAll(PathOf("plain.trace")));
      }

      const nlohmann::json& cell = manifest["cells"][static_cast<std::size_t>(c - 1)];
      EXPECT_EQ(cell["cell"], c);
      EXPECT_EQ(cell["seed"], cellSeed);
      EXPECT_EQ(cell["complete"], true);
      EXPECT_EQ(cell["parameters"]["density"], std::stoi(density));
      EXPECT_EQ(cell["parameters"]["numberOfKids"], 6);

      const std::vector<std::string> row = Split(summary[static_cast<std::size_t>(c)], '\t');
      ASSERT_EQ(row.size(), Split(summary[0], '\t').size());
      EXPECT_EQ(row[0], std::to_string(c));
      EXPECT_EQ(row[1], density);
      EXPECT_EQ(row[2], selection);
      EXPECT_EQ(row[3], std::to_string(replicates));
      if (grid.timed) {
        // Counted again from the records: criteria met, kinds of preference.
        const std::string records = data.substr(data.find("A\tB\tC\tD\tE\tF\tG\tH\tI\r\r") + 19);
        long met[5] = {};
        long kinds[3] = {};
        for (const std::string& record : Split(records, '\r')) {
          const std::vector<std::string> fields = Split(record, '\t');
          ASSERT_EQ(fields.size(), 9u) << record;
          for (int k = 0; k < 5; ++k) met[k] += fields[static_cast<std::size_t>(k)] != "0" ? 1 : 0;
          ++kinds[std::stoi(fields[8])];
        }
        for (int k = 0; k < 5; ++k)
          EXPECT_EQ(row[static_cast<std::size_t>(4 + k)], std::to_string(met[k])) << k;
        EXPECT_EQ(row[14], std::to_string(kinds[1]));
        EXPECT_EQ(row[15], std::to_string(kinds[2]));
        const double share = std::stod(row[16]);
        EXPECT_NEAR(share, static_cast<double>(kinds[1]) / 3.0, 1e-4);
        EXPECT_LE(std::stod(row[17]), share);
        EXPECT_GE(std::stod(row[18]), share);
        EXPECT_GT(std::stod(row[18]), std::stod(row[17]));
      } else {
        EXPECT_EQ(row[4], "5");  // 2 x 20 generations make five spans of 7
        EXPECT_GT(std::stod(row[5]), 0.0);
        EXPECT_GE(std::stod(row[6]), 0.0);
      }
    }
  }
}

// A study killed part way (kill -9), resumed and stopped again by Ctrl+C,
// then resumed to its end, leaves the files of a study run in one go.
TEST_F(Study, AStoppedStudyResumesToTheFilesOfOneRunThrough) {
  // The cells of density 6 take several times longer than the first three.
  WriteAll(PathOf("study.toml"),
           "replicates = 2\ngenerations = 150\ntrace = true\ngenotypes = true\n[vary]\ndensity = [1, 6]\n"
           "selectionFactor = [0.2, 0.5, 0.8]\n");
  auto study = [&](const std::string& out, bool resume) {
    std::vector<std::string> args = {"--study", PathOf("study.toml"), "--out-dir", out, "--jobs", "2", "-q"};
    if (resume) args.push_back("--resume");
    return args;
  };
  auto completeCells = [](const std::string& out) {
    long complete = 0;
    const nlohmann::json manifest = nlohmann::json::parse(ReadAll(out + "/manifest.json"));
    for (const auto& cell : manifest["cells"]) {
      complete += cell["complete"].get<bool>() ? 1 : 0;
    }
    return complete;
  };

  // The study has no seed of its own: the one taken first carries over.
  const std::string stopped = PathOf("stopped");
  {
    BatchChild first(study(stopped, false), PathOf("log1"));
    ASSERT_TRUE(first.WaitUntil([&] { return fs::exists(stopped + "/cell-1.trace"); })) << first.Log();
    first.Signal(SIGKILL);
    EXPECT_EQ(first.Finish(), 128 + SIGKILL);
  }
  EXPECT_LT(completeCells(stopped), 6);
  {
    BatchChild second(study(stopped, true), PathOf("log2"));
    ASSERT_TRUE(second.WaitUntil([&] { return fs::exists(stopped + "/cell-4.trace"); })) << second.Log();
    second.Signal(SIGINT);
    EXPECT_EQ(second.Finish(), 130) << second.Log();
    EXPECT_NE(second.Log().find("--out-dir " + stopped + " --resume"), std::string::npos) << second.Log();
  }
  EXPECT_LT(completeCells(stopped), 6);
  EXPECT_EQ(nlohmann::json::parse(ReadAll(stopped + "/manifest.json"))["status"], "stopped");
  const auto [status, log] = RunChild(study(stopped, true), PathOf("log3"));
  ASSERT_EQ(status, 0) << log;

  const std::string seed = nlohmann::json::parse(ReadAll(stopped + "/manifest.json"))["seed"];
  WriteAll(PathOf("study.toml"), "seed = " + seed + "\n" + ReadAll(PathOf("study.toml")));
  const std::string whole = PathOf("whole");
  ASSERT_EQ(RunChild(study(whole, false), PathOf("log4")).first, 0);
  std::map<std::string, std::string> resumed = FilesOf(stopped);
  std::map<std::string, std::string> once = FilesOf(whole);
  const nlohmann::json manifest = nlohmann::json::parse(resumed["manifest.json"]);
  EXPECT_EQ(manifest["status"], "complete");
  EXPECT_EQ(completeCells(stopped), 6);
  resumed.erase("manifest.json");
  once.erase("manifest.json");
  // Per cell its data file, trace, samples table and two VCF files with
  // their indexes; and the summary.
  EXPECT_EQ(resumed.size(), 6u * 7 + 1);
  EXPECT_TRUE(resumed == once);  // every cell's files and the summary, byte for byte
}

// A stop keeps the working files of the cells under way, with their
// complete records, and none for the cells that had not begun (each once
// left a data file, trace and samples table holding their headers only).
TEST_F(Study, AStopLeavesNothingForCellsNotBegun) {
  WriteAll(PathOf("study.toml"),
           "seed = 3\nreplicates = 2\ngenerations = 3000\ntrace = true\ngenotypes = true\n[vary]\n"
           "density = [1, 2, 3, 4]\nselectionFactor = [0.2, 0.5, 0.8]\n");
  const std::string out = PathOf("stopped");
  BatchChild child({"--study", PathOf("study.toml"), "--out-dir", out, "--jobs", "1", "--verbose"}, PathOf("log"));
  ASSERT_TRUE(child.WaitUntil([&] { return fs::exists(out + "/cell-01.txt"); })) << child.Log();
  child.Signal(SIGINT);
  ASSERT_EQ(child.Finish(), 130) << child.Log();
  std::set<std::string> withWorkingFiles;
  for (const auto& entry : fs::directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 8 || name.substr(name.size() - 8) != ".partial") continue;
    withWorkingFiles.insert(name.substr(0, 7));
  }
  EXPECT_LE(withWorkingFiles.size(), 1u);
  for (const std::string& cell : withWorkingFiles) {
    const std::string data = ReadAll(out + "/" + cell + ".txt.partial");
    const std::string legend = "A\tB\tC\tD\tE\tF\tG\tH\tI\r\r";
    ASSERT_NE(data.find(legend), std::string::npos) << cell;
    EXPECT_GT(data.size(), data.find(legend) + legend.size()) << cell << " holds no complete record";
  }
}

// Output of a shell command; the test fails when it does not succeed.
std::string CommandOutput(const std::string& command) {
  std::string text;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return text;
  }
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
  EXPECT_EQ(::pclose(pipe), 0) << command;
  return text;
}

// A study with genotypes = true: each replicate of each cell in a VCF file
// of its own that bcftools reads, its samples the adults of the sampled
// generations as the cell's trace counts them; the same bytes with one job
// and two; the manifest says how often they were sampled.
TEST_F(Study, CellsWriteTheGenotypeSamplesOfEveryReplicate) {
  WriteAll(PathOf("study.toml"),
           "seed = 21\nreplicates = 2\ngenerations = 25\ntrace = true\ngenotypes = true\nsample-every = 10\n"
           "[vary]\ndensity = [1, 2]\n");
  std::map<std::string, std::string> byJobs[2];
  for (const int jobs : {1, 2}) {
    const std::string out = PathOf("jobs" + std::to_string(jobs));
    std::string log;
    ASSERT_EQ(RunHere({"--study", PathOf("study.toml"), "--out-dir", out, "--jobs", std::to_string(jobs), "-q"},
                      &log),
              0)
        << log;
    byJobs[jobs - 1] = FilesOf(out);
    byJobs[jobs - 1].erase("manifest.json");
  }
  EXPECT_TRUE(byJobs[0] == byJobs[1]);  // byte for byte

  const std::string out = PathOf("jobs2");
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(out)) names.insert(entry.path().filename().string());
  std::set<std::string> expected = {"summary.tsv", "manifest.json"};
  for (const std::string cell : {"cell-1", "cell-2"}) {
    for (const std::string ending :
         {".txt", ".trace", ".samples.tsv", "-r1.vcf.gz", "-r1.vcf.gz.tbi", "-r2.vcf.gz", "-r2.vcf.gz.tbi"})
      expected.insert(cell + ending);
  }
  EXPECT_EQ(names, expected);

  const nlohmann::json manifest = nlohmann::json::parse(ReadAll(out + "/manifest.json"));
  EXPECT_EQ(manifest["genotypes"]["sample-every"], 10);
  EXPECT_EQ(manifest["cells"][1]["files"].size(), 7u);

  for (const std::string cell : {"cell-1", "cell-2"}) {
    // Adults per replicate and generation, as the trace counts them over
    // both habitats.
    std::map<std::pair<long, long>, long> adults;
    const std::vector<std::string> lines = Split(ReadAll(out + "/" + cell + ".trace"), '\n');
    ASSERT_EQ(Split(lines[0], '\t')[3], "adults");
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::vector<std::string> row = Split(lines[i], '\t');
      adults[{std::stol(row[0]), std::stol(row[1])}] += std::stol(row[3]);
    }
    long tableRows = 0;
    for (long replicate = 1; replicate <= 2; ++replicate) {
      SCOPED_TRACE(cell + " replicate " + std::to_string(replicate));
      const std::string vcf = out + "/" + cell + "-r" + std::to_string(replicate) + ".vcf.gz";
      EXPECT_EQ(Split(CommandOutput("bcftools view -H '" + vcf + "'"), '\n').size(), 17u);
      std::map<long, long> perGeneration;
      for (const std::string& sample : Split(CommandOutput("bcftools query -l '" + vcf + "'"), '\n')) {
        const std::vector<std::string> parts = Split(sample, '_');
        ASSERT_EQ(parts.size(), 6u) << sample;
        EXPECT_EQ(parts[0], "r" + std::to_string(replicate));
        ++perGeneration[std::stol(parts[1].substr(1))];
        ++tableRows;
      }
      const std::map<long, long> sampled = {{10, adults[{replicate, 10}]},
                                            {20, adults[{replicate, 20}]},
                                            {25, adults[{replicate, 25}]}};
      EXPECT_GT(sampled.at(25), 0);
      EXPECT_EQ(perGeneration, sampled);
    }
    EXPECT_EQ(static_cast<long>(Split(ReadAll(out + "/" + cell + ".samples.tsv"), '\n').size()), tableRows + 1);
  }
}

// A stop that comes when every cell is done stops nothing: the study is
// complete, as a series is.
TEST_F(Study, AStopAfterTheLastCellLeavesACompleteStudy) {
  WriteAll(PathOf("small.toml"), "seed = 1\nreplicates = 1\ngenerations = 2\n[vary]\ndensity = [1, 2]\n");
  std::atomic<bool> stop{false};
  BatchContext context;
  context.stop = &stop;
  context.stopSignal = [] { return SIGINT; };
  context.engine = [&stop](const std::vector<SeriesWriter*>& writers, const RunOptions& run,
                           RunCounters* counters) {
    RunSeriesInParallel(writers, run, counters);
    stop = true;  // Ctrl+C just as the last record is written
  };
  std::ostringstream out;
  std::ostringstream log;
  EXPECT_EQ(BatchMain({"--study", PathOf("small.toml"), "--out-dir", PathOf("s"), "-q"}, out, log, context),
            0)
      << log.str();
  EXPECT_EQ(nlohmann::json::parse(ReadAll(PathOf("s/manifest.json")))["status"], "complete");
}

// A study is refused before it runs, the settings file's faults with its
// name and line; a folder is neither created nor changed by a refusal.
TEST_F(Study, RefusalsComeFirstAndLeaveFoldersAlone) {
  const std::string done = PathOf("done");
  WriteAll(PathOf("small.toml"), "seed = 1\nreplicates = 1\ngenerations = 2\n[vary]\ndensity = [1, 2]\n");
  ASSERT_EQ(RunHere({"--study", PathOf("small.toml"), "--out-dir", done, "-q"}), 0);
  const std::map<std::string, std::string> before = FilesOf(done);

  struct Case {
    std::string file;  // the study file's text; empty: small.toml
    std::vector<std::string> options;
    std::string out;
    std::string expected;
  };
  const std::string fresh = PathOf("fresh");
  const std::vector<Case> cases = {
      {"seed = 1\nreplicates = 2\nbogus = 3\n[vary]\ndensity = [1]\n",
       {},
       fresh,
       "study.toml:3: unknown key 'bogus'"},
      {"seed = 1\n[set]\ndensity = 2\n[vary]\ndensity = [1, 2]\n", {}, fresh, "study.toml:5:"},
      {"seed = 1\n[vary]\ndensity = []\n", {}, fresh, "study.toml:3:"},
      {"seed = 1\n[vary]\ndensity = [1,\n 9]\n", {}, fresh, "study.toml:4: '9' is not allowed for density"},
      {"[vary]\nselectionFactor = [0.5, 1e-50]\n", {}, fresh, "study.toml:2: '1e-50'"},
      {"replicates = 100000000\n[vary]\ndensity = [1, 2, 3, 4, 5, 6, 7, 8]\nnumberOfKids = [1, 2]\n",
       {},
       fresh,
       "at most"},
      {"[vary]\ndensity = [1, 2, 3, 4, 5, 6, 7, 8]\nnumberOfKids = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n"
       "mutationRate = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\nnatalDispersalRate = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n"
       "matingDispersalRate = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\nselectionFactor = [0.1, 0.2]\n",
       {},
       fresh,
       "study.toml: the study has more than 100000 cells"},
      {"", {"--seed", "3"}, fresh, "--seed cannot be given with --study"},
      {"", {"--out", PathOf("x.txt")}, fresh, "--out cannot be given with --study"},
      {"", {"--genotypes"}, fresh, "the study file asks for genotype samples (genotypes = true"},
      {"", {"--sample-every", "5"}, fresh, "the study file says how often genotypes are sampled"},
      {"seed = 1\nsample-every = 5\n[vary]\ndensity = [1]\n", {}, fresh,
       "study.toml:2: sample-every goes with genotypes = true"},
      {"", {"--resume"}, fresh, "holds no study to resume"},
      {"", {}, done, "holds this study already: add --resume"},
      {"seed = 2\nreplicates = 1\ngenerations = 2\n[vary]\ndensity = [1, 2]\n",
       {"--resume"},
       done,
       "holds another study"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    std::string path = PathOf("small.toml");
    if (!c.file.empty()) {
      path = PathOf("study.toml");
      WriteAll(path, c.file);
    }
    std::vector<std::string> args = {"--study", path, "--out-dir", c.out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::string log;
    EXPECT_EQ(RunHere(args, &log), 2);
    EXPECT_NE(log.find(c.expected), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_TRUE(FilesOf(done) == before);
  }

  // A manifest.json of unexpected make is refused, not a crash; a cell
  // entry of this study's manifest that cannot be read means a cell to run.
  const std::string odd = PathOf("odd");
  fs::create_directories(odd);
  WriteAll(odd + "/manifest.json", R"({"study": {"text": 5}})");
  std::string log;
  EXPECT_EQ(RunHere({"--study", PathOf("small.toml"), "--out-dir", odd, "--resume"}, &log), 2);
  EXPECT_NE(log.find("manifest.json is not a study manifest"), std::string::npos) << log;
  EXPECT_EQ(ReadAll(odd + "/manifest.json"), R"({"study": {"text": 5}})");
  nlohmann::json unreadable = nlohmann::json::parse(before.at("manifest.json"));
  unreadable["cells"][0]["cell"] = "one";
  WriteAll(done + "/manifest.json", unreadable.dump());
  ASSERT_EQ(RunHere({"--study", PathOf("small.toml"), "--out-dir", done, "--resume"}, &log), 0);
  EXPECT_NE(log.find("1 cells already complete"), std::string::npos) << log;
  std::map<std::string, std::string> after = FilesOf(done);
  for (const char* name : {"cell-1.txt", "cell-2.txt", "summary.tsv"})
    EXPECT_EQ(after[name], before.at(name));
  EXPECT_EQ(nlohmann::json::parse(after["manifest.json"])["status"], "complete");
}

// A cell whose files are not those that completed (a trace cut short, a
// data file cut inside its last record or without its last line end) is
// run again on --resume; the others are kept as they are.
TEST(StudyResume, DamagedCellsRunAgain) {
  test_support::TempFolder dir("damaged");
  WriteAll(dir / "study.toml",
           "seed = 3\nreplicates = 2\ngenerations = 30\ntrace = true\n[vary]\ndensity = [1, 2, 3, 4]\n");
  const std::string out = (dir / "out").string();
  const std::vector<std::string> study = {"--study", (dir / "study.toml").string(), "--out-dir", out};
  ASSERT_EQ(RunChild(study, (dir / "log").string()).first, 0);
  const std::map<std::string, std::string> whole = FilesOf(out);
  const std::string& trace = whole.at("cell-2.trace");
  WriteAll(out + "/cell-2.trace", trace.substr(0, trace.size() / 2));
  const std::string& cut = whole.at("cell-3.txt");
  WriteAll(out + "/cell-3.txt", cut.substr(0, cut.size() - 3));
  const std::string& unended = whole.at("cell-4.txt");
  WriteAll(out + "/cell-4.txt", unended.substr(0, unended.size() - 1));
  std::vector<std::string> resume = study;
  resume.push_back("--resume");
  const auto [status, log] = RunChild(resume, (dir / "log").string());
  ASSERT_EQ(status, 0) << log;
  EXPECT_NE(log.find("1 cells already complete"), std::string::npos) << log;
  std::map<std::string, std::string> again = FilesOf(out);
  EXPECT_EQ(nlohmann::json::parse(again.at("manifest.json"))["status"], "complete");
  again.erase("manifest.json");
  std::map<std::string, std::string> expected = whole;
  expected.erase("manifest.json");
  EXPECT_TRUE(again == expected);
}

// A kill in a study's first moments, before its first manifest, leaves
// only what the study itself makes (its lock, a working file of a cell, of
// the manifest or the summary): a new start and --resume take such a folder
// and clear those files; a file of anyone else's is still refused.
TEST(StudyResume, AFolderLeftBeforeTheFirstManifestIsTaken) {
  test_support::TempFolder dir("first-moments");
  WriteAll(dir / "study.toml", "seed = 4\nreplicates = 1\ngenerations = 5\ntrace = true\n[vary]\ndensity = [1, 2, 3]\n");
  const std::string whole = (dir / "whole").string();
  ASSERT_EQ(RunChild({"--study", (dir / "study.toml").string(), "--out-dir", whole, "-q"}, (dir / "log").string()).first, 0);
  for (const bool resume : {false, true}) {
    SCOPED_TRACE(resume ? "--resume" : "a new start");
    const fs::path out = dir / (resume ? "resumed" : "started");
    fs::create_directories(out);
    for (const char* name : {"study.lock", "cell-1.txt.partial", "cell-3.trace.partial", "manifest.json.partial",
                             "summary.tsv.partial"}) {
      WriteAll(out / name, "cut");
    }
    std::vector<std::string> args = {"--study", (dir / "study.toml").string(), "--out-dir", out.string(), "-q"};
    if (resume) args.push_back("--resume");
    WriteAll(out / "notes.txt", "mine");
    auto [status, log] = RunChild(args, (dir / "log").string());
    EXPECT_EQ(status, 2) << log;
    EXPECT_NE(log.find("holds files but no manifest.json (notes.txt, ...)"), std::string::npos) << log;
    fs::remove(out / "notes.txt");
    std::tie(status, log) = RunChild(args, (dir / "log").string());
    ASSERT_EQ(status, 0) << log;
    std::map<std::string, std::string> files = FilesOf(out);
    std::map<std::string, std::string> expected = FilesOf(whole);
    files.erase("manifest.json");
    expected.erase("manifest.json");
    EXPECT_TRUE(files == expected);
  }

  // Killed at once, again and again: each folder is taken by --resume.
  WriteAll(dir / "large.toml", "seed = 4\nreplicates = 1\ngenerations = 1\n[vary]\ndensity = [1, 2, 3, 4, 5]\n"
                               "numberOfKids = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n"
                               "mutationRate = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\nselectionFactor = [0.2, 0.5, 0.8, 0.9]\n");
  for (const int milliseconds : {0, 5, 20, 60}) {
    SCOPED_TRACE(std::to_string(milliseconds) + " ms");
    const std::string out = (dir / ("killed-" + std::to_string(milliseconds))).string();
    const std::vector<std::string> args = {"--study", (dir / "large.toml").string(), "--out-dir", out};
    {
      BatchChild first(args, (dir / "log1").string());
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      first.Signal(SIGKILL);
      first.Finish();
    }
    if (!fs::exists(out)) continue;  // killed before it made the folder
    std::vector<std::string> resume = args;
    resume.push_back("--resume");
    BatchChild again(resume, (dir / "log2").string());
    ASSERT_TRUE(again.WaitUntil([&] { return again.LogHas("cells already complete"); })) << again.Log();
    again.Signal(SIGINT);
    const int status = again.Finish();
    EXPECT_TRUE(status == 130 || status == 0) << again.Log();
  }
}

// A low limit of open files (ulimit -n 64) makes a study run fewer cells at
// once, not fail: each cell has a data file and a trace open while it runs.
TEST(StudyResume, ALowLimitOfOpenFilesIsWaitedFor) {
  test_support::TempFolder dir("open-files");
  WriteAll(dir / "study.toml", "seed = 2\nreplicates = 2\ngenerations = 20\ntrace = true\n[vary]\n"
                               "density = [1, 2, 3, 4, 5, 6, 7, 8]\nnumberOfKids = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n");
  const std::vector<std::string> study = {"--study", (dir / "study.toml").string(), "--jobs", "2", "-q", "--out-dir"};
  auto limited = study;
  limited.push_back((dir / "limited").string());
  testing::ChildSetup setup;
  setup.openFilesLimit = 64;
  const auto [status, log] = RunChild(limited, (dir / "log").string(), setup);
  ASSERT_EQ(status, 0) << log;
  auto plain = study;
  plain.push_back((dir / "plain").string());
  ASSERT_EQ(RunChild(plain, (dir / "log").string()).first, 0);
  std::map<std::string, std::string> files = FilesOf(dir / "limited");
  std::map<std::string, std::string> expected = FilesOf(dir / "plain");
  EXPECT_EQ(files.size(), 162u);
  files.erase("manifest.json");
  expected.erase("manifest.json");
  EXPECT_TRUE(files == expected);
}

// The seed decides every cell: a manifest whose seed was changed, or no
// longer agrees with the seeds its cells were run with, is refused on
// --resume instead of giving the rest of the cells another seed.
TEST(StudyResume, AManifestWithAChangedSeedIsRefused) {
  test_support::TempFolder dir("changed-seed");
  WriteAll(dir / "study.toml", "replicates = 1\ngenerations = 5\n[vary]\ndensity = [1, 2, 3]\n");
  const std::string out = (dir / "out").string();
  const std::vector<std::string> study = {"--study", (dir / "study.toml").string(), "--out-dir", out, "-q", "--resume"};
  ASSERT_EQ(RunChild({study.begin(), study.end() - 1}, (dir / "log").string()).first, 0);
  const std::string written = ReadAll(out + "/manifest.json");
  nlohmann::json manifest = nlohmann::json::parse(written);
  manifest["status"] = "stopped";
  manifest["cells"][2]["complete"] = false;
  const std::string seed = manifest["seed"];
  manifest["seed"] = seed == "7" ? "8" : "7";
  nlohmann::json unchecked = manifest;
  unchecked.erase("check");  // as a manifest written before the check was kept
  for (const auto& [changed, expected] :
       {std::pair{manifest, std::string("manifest.json has been changed: its seed")},
        std::pair{unchecked, "manifest.json does not agree with its cells: cell 1 was run with seed " + seed}}) {
    const std::map<std::string, std::string> before = [&] {
      WriteAll(out + "/manifest.json", changed.dump(2));
      return FilesOf(out);
    }();
    const auto [status, log] = RunChild(study, (dir / "log").string());
    EXPECT_EQ(status, 2) << log;
    EXPECT_NE(log.find(expected), std::string::npos) << log;
    EXPECT_TRUE(FilesOf(out) == before);
  }
  WriteAll(out + "/manifest.json", written);
  const auto [status, log] = RunChild(study, (dir / "log").string());
  EXPECT_EQ(status, 0) << log;
}

// Names that are not UTF-8 (a folder or file named in another encoding)
// are kept in the manifest with their odd bytes escaped, and the study
// completes and resumes.
TEST(StudyResume, NamesThatAreNotUtf8AreKeptEscaped) {
  test_support::TempFolder dir("names");
  const std::string file = (dir / "s\xfe.toml").string();
  WriteAll(file, "seed = 1\nreplicates = 1\ngenerations = 2\n[vary]\ndensity = [1, 2]\n");
  const std::string out = (dir / "out\xff").string();
  const auto [status, log] = RunChild({"--study", file, "--out-dir", out, "-q"}, (dir / "log").string());
  ASSERT_EQ(status, 0) << log;
  const nlohmann::json manifest = nlohmann::json::parse(ReadAll(out + "/manifest.json"));
  EXPECT_EQ(manifest["study"]["file"], (dir / "s\\xfe.toml").string());
  EXPECT_NE(manifest["command"].get<std::string>().find("out\\xff"), std::string::npos);
  std::ostringstream ignored;
  std::ostringstream err;
  EXPECT_EQ(BatchMain({"--study", file, "--out-dir", out, "-q", "--resume"}, ignored, err), 0) << err.str();
}

// A fatal error of the model ends the batch command with one plain line on
// standard error, for a series and a study; standard output stays the
// user's.
TEST(StudyResume, FatalErrorsArePlainLines) {
  test_support::TempFolder dir("fatal");
  WriteAll(dir / "study.toml", "seed = 1\nreplicates = 1\ngenerations = 2\n[vary]\ndensity = [1, 2]\n");
  BatchContext context;
  context.engine = [](const std::vector<SeriesWriter*>&, const RunOptions&, RunCounters*) {
    throw FatalError("Out of memory!");
  };
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--out", (dir / "x.txt").string(), "-q"},
           {"--study", (dir / "study.toml").string(), "--out-dir", (dir / "out").string(), "-q"}}) {
    std::ostringstream out;
    std::ostringstream log;
    EXPECT_EQ(BatchMain(args, out, log, context), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(log.str().rfind("talveron-batch: fatal error: Out of memory!\n", 0), 0u) << log.str();
    EXPECT_EQ(log.str().find("Push any key"), std::string::npos);
  }
}

}  // namespace
}  // namespace talveron::batch
