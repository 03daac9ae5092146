// What the batch command leaves in its files when things go wrong: two
// outputs in one file, a failed or stopped rerun, a file that cannot grow,
// a closed pipe; and the bytes of replicates run at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "batch/batch_run.h"
#include "batch_child.h"

namespace talveron::batch {
namespace {

namespace fs = std::filesystem;
using testing::BatchChild;
using testing::ChildSetup;
using testing::ReadAll;
using testing::RunChild;
using testing::WriteAll;

struct Outcome {
  int status;
  std::string out;
  std::string log;
};

Outcome RunHere(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream log;
  const int status = BatchMain(args, out, log);
  return {status, out.str(), log.str()};
}

constexpr const char* kLegend = "A\tB\tC\tD\tE\tF\tG\tH\tI\r\r";

// The records of a timed data file: what follows the legend.
std::string RecordsOf(const std::string& data) {
  const std::size_t legend = data.find(kLegend);
  return legend == std::string::npos ? "<no legend>" : data.substr(legend + std::string(kLegend).size());
}

long CountOf(const std::string& text, char c) {
  return static_cast<long>(std::count(text.begin(), text.end(), c));
}

// The first `count` lines of records ended by '\r'.
std::string FirstLines(const std::string& records, long count) {
  std::size_t end = 0;
  for (long i = 0; i < count && end != std::string::npos; ++i) {
    end = records.find('\r', end);
    if (end != std::string::npos) ++end;
  }
  return records.substr(0, end);
}

// The trace lines of replicates 1 to `last`, with the header.
std::string TraceUpTo(const std::string& trace, long last) {
  std::istringstream lines(trace);
  std::string line;
  std::getline(lines, line);
  std::string kept = line + "\n";
  while (std::getline(lines, line)) {
    if (std::stol(line.substr(0, line.find('\t'))) <= last) kept += line + "\n";
  }
  return kept;
}

class Outputs : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("talveron_outputs_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

// Two outputs in one file would leave neither: whichever way the file is
// named twice, the command refuses before it writes anything.
TEST_F(Outputs, OneFileNamedTwiceIsRefusedBeforeAnythingIsWritten) {
  const std::string data = PathOf("data.txt");
  WriteAll(data, "old data\r");
  fs::create_hard_link(data, PathOf("hard.txt"));
  fs::create_symlink(data, PathOf("soft.txt"));
  fs::create_symlink(PathOf("later.txt"), PathOf("dangling.txt"));  // to a file not made yet
  fs::create_directories(PathOf("real"));
  fs::create_directory_symlink(PathOf("real"), PathOf("folder"));
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {data, data},
      {data, (dir_ / "." / "data.txt").string()},
      {data, dir_.string() + "//data.txt"},
      {data, (dir_ / "real" / ".." / "data.txt").string()},
      {data, PathOf("soft.txt")},
      {PathOf("hard.txt"), data},
      {PathOf("later.txt"), PathOf("dangling.txt")},
      {PathOf("real/x.txt"), PathOf("folder/x.txt")},
      {data, data + ".partial"},
      {PathOf("y.txt.partial"), PathOf("y.txt")},
  };
  for (const auto& [out, trace] : pairs) {
    const Outcome outcome =
        RunHere({"--seed", "1", "--replicates", "1", "--generations", "3", "--out", out, "--trace", trace});
    EXPECT_EQ(outcome.status, 2) << out << " " << trace;
    EXPECT_NE(outcome.log.find("are the same file"), std::string::npos) << outcome.log;
    EXPECT_EQ(ReadAll(data), "old data\r");
    for (const char* name :
         {"data.txt.partial", "hard.txt.partial", "later.txt", "later.txt.partial", "dangling.txt.partial",
          "real/x.txt.partial", "y.txt", "y.txt.partial.partial"}) {
      EXPECT_FALSE(fs::exists(PathOf(name))) << name << " after " << out << " " << trace;
    }
  }
  EXPECT_TRUE(fs::is_symlink(PathOf("soft.txt")));
  EXPECT_EQ(fs::hard_link_count(data), 2u);
}

// So are two relative names of a file not made yet ("a.txt", "./a.txt"),
// which once ran, put the data file in place and then failed.
TEST_F(Outputs, RelativeNamesOfOneNewFileAreRefused) {
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  const Outcome outcome =
      RunHere({"--seed", "1", "--replicates", "1", "--generations", "3", "--out", "new.txt", "--trace", "./new.txt"});
  fs::current_path(before);
  EXPECT_EQ(outcome.status, 2) << outcome.log;
  EXPECT_NE(outcome.log.find("are the same file"), std::string::npos) << outcome.log;
  EXPECT_TRUE(fs::is_empty(dir_));
}

// A rerun that fails leaves the files of the run before it as they were.
TEST_F(Outputs, AFailedRerunKeepsTheOldFiles) {
  const std::vector<std::string> series = {"--seed", "5", "--replicates", "2", "--generations", "10", "-q"};
  auto first = series;
  first.insert(first.end(), {"--out", PathOf("d.txt"), "--trace", PathOf("d.trace")});
  ASSERT_EQ(RunHere(first).status, 0);
  const std::string data = ReadAll(PathOf("d.txt"));
  const std::string trace = ReadAll(PathOf("d.trace"));
  std::vector<std::string> rerun(series.begin() + 2, series.end());
  rerun.insert(rerun.end(), {"--seed", "6", "--out", PathOf("d.txt"), "--trace", PathOf("missing/d.trace")});
  const Outcome failed = RunHere(rerun);
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.log.find("missing/d.trace"), std::string::npos) << failed.log;
  EXPECT_EQ(ReadAll(PathOf("d.txt")), data);
  EXPECT_EQ(ReadAll(PathOf("d.trace")), trace);
}

// A file that cannot grow (a size limit, as on a full disk) fails the trace
// part way: status 1 and the reason, the old files untouched, and both
// partial files with the same complete replicates, none cut in half.
TEST_F(Outputs, AWriteFailurePartWayKeepsTheSameCompleteReplicatesInBothFiles) {
  const std::vector<std::string> series = {"--seed", "4", "--replicates", "20", "--generations", "100", "-q"};
  auto reference = series;
  reference.insert(reference.end(),
                   {"--jobs", "1", "--out", PathOf("ref.txt"), "--trace", PathOf("ref.trace")});
  ASSERT_EQ(RunHere(reference).status, 0);
  const std::string refData = ReadAll(PathOf("ref.txt"));
  const std::string refTrace = ReadAll(PathOf("ref.trace"));
  ASSERT_GT(refTrace.size(), 100000u);

  WriteAll(PathOf("d.txt"), "old data\r");
  WriteAll(PathOf("d.trace"), "old trace\n");
  auto limited = series;
  limited.insert(limited.end(), {"--jobs", "2", "--out", PathOf("d.txt"), "--trace", PathOf("d.trace")});
  ChildSetup setup;
  setup.fileSizeLimit = 40000;
  const auto [status, log] = RunChild(limited, PathOf("log"), setup);
  EXPECT_EQ(status, 1) << log;
  EXPECT_NE(log.find("File too large"), std::string::npos) << log;
  EXPECT_NE(log.find("d.trace.partial"), std::string::npos) << log;
  EXPECT_EQ(ReadAll(PathOf("d.txt")), "old data\r");
  EXPECT_EQ(ReadAll(PathOf("d.trace")), "old trace\n");

  const std::string data = ReadAll(PathOf("d.txt.partial"));
  const std::string trace = ReadAll(PathOf("d.trace.partial"));
  const long records = CountOf(RecordsOf(data), '\r');
  EXPECT_GE(records, 1);
  EXPECT_LT(records, 20);
  EXPECT_EQ(refData.substr(0, data.size()), data);
  EXPECT_EQ(CountOf(RecordsOf(data), '\t'), 8 * records);  // no half record
  EXPECT_EQ(trace, TraceUpTo(refTrace, records));
  EXPECT_NE(log.find("kept " + std::to_string(records) + " complete record"), std::string::npos) << log;
}

// A stop by signal in the middle of a series ends it at the end of the
// running generation: the status of the signal, what was kept and where on
// standard error, complete records in both partial files, the old files
// untouched. A second signal ends at once, with complete records only.
TEST_F(Outputs, AStopBySignalKeepsCompleteRecordsAndTheOldFiles) {
  struct Case {
    int signal;
    int status;
    const char* name;
    bool twice;
  };
  const std::vector<std::string> series = {"--seed", "9", "--replicates", "100000", "--generations", "20"};
  for (const Case& c : {Case{SIGINT, 130, "SIGINT", false}, Case{SIGTERM, 143, "SIGTERM", false},
                        Case{SIGHUP, 143, "SIGHUP", false}, Case{SIGINT, 130, "SIGINT", true}}) {
    SCOPED_TRACE(std::string(c.name) + (c.twice ? " twice" : ""));
    const std::string out = PathOf("s.txt");
    const std::string trace = PathOf("s.trace");
    WriteAll(out, "old data\r");
    WriteAll(trace, "old trace\n");
    auto args = series;
    args.insert(args.end(), {"--jobs", "2", "--verbose", "--out", out, "--trace", trace});
    const std::string logPath = PathOf(std::string("log-") + c.name + (c.twice ? "-twice" : ""));
    BatchChild child(args, logPath);
    ASSERT_TRUE(child.WaitUntil([&] { return child.LogHas("replicate 2: seed"); })) << child.Log();
    child.Signal(c.signal);
    if (c.twice) child.Signal(c.signal);
    const int status = child.Finish();
    const std::string log = child.Log();
    EXPECT_EQ(status, c.status) << log;
    EXPECT_EQ(ReadAll(out), "old data\r");
    EXPECT_EQ(ReadAll(trace), "old trace\n");

    const std::string data = ReadAll(out + ".partial");
    const std::string traced = ReadAll(trace + ".partial");
    const long records = CountOf(RecordsOf(data), '\r');
    EXPECT_GE(records, 2);
    EXPECT_LT(records, 100000);
    if (!c.twice) {
      EXPECT_NE(log.find("stopped by " + std::string(c.name) + ": kept " + std::to_string(records) +
                         " complete records in " + out + ".partial and " + trace + ".partial; " + out +
                         " is unchanged"),
                std::string::npos)
          << log;
    }
    // What was kept is what a series of as many replicates writes.
    const std::string ref = PathOf("ref.txt");
    ASSERT_EQ(RunHere({"--seed", "9", "--replicates", std::to_string(records + 1), "--generations", "20",
                       "--jobs", "1", "-q", "--out", ref, "--trace", PathOf("ref.trace")})
                  .status,
              0);
    const std::string refRecords = RecordsOf(ReadAll(ref));
    EXPECT_EQ(RecordsOf(data), FirstLines(refRecords, records));
    const std::string refTrace = ReadAll(PathOf("ref.trace"));
    if (c.twice) {
      // Stopped at once, between the two files' records, the trace may be
      // a replicate apart from the data file, but holds whole ones.
      EXPECT_TRUE(traced == TraceUpTo(refTrace, records - 1) || traced == TraceUpTo(refTrace, records) ||
                  traced == TraceUpTo(refTrace, records + 1))
          << traced.size();
    } else {
      EXPECT_EQ(traced, TraceUpTo(refTrace, records));
    }
  }
}

// A pipe cannot be cut back: a stop in the middle of a long replicate
// leaves the stream with whole replicates only, as a file, and the message
// counts what the stream holds.
TEST_F(Outputs, AStopLeavesAStreamWithWholeReplicatesOnly) {
  const std::string fifo = PathOf("trace.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string streamed;
  std::thread reader([&] { streamed = ReadAll(fifo); });
  const std::vector<std::string> series = {"--seed", "8", "--generations", "30000", "--jobs", "2"};
  auto args = series;
  args.insert(args.end(), {"--replicates", "6", "--verbose", "--out", PathOf("p.txt"), "--trace", fifo});
  {
    BatchChild child(args, PathOf("log"));
    // Replicates 1 and 2 run at once; replicate 3 is half way when the
    // stop comes.
    const bool written = child.WaitUntil([&] { return child.LogHas("replicate 2: seed"); });
    if (written) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    child.Signal(SIGINT);
    EXPECT_EQ(child.Finish(), 130) << child.Log();
    EXPECT_TRUE(written) << child.Log();
  }
  // A reader still waiting for a writer that never came gets an end.
  const int release = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  if (release >= 0) ::close(release);
  reader.join();
  const std::string log = ReadAll(PathOf("log"));
  const std::smatch kept = [&] {
    std::smatch match;
    std::regex_search(log, match, std::regex("kept (\\d+) complete records? in " + PathOf("p.txt.partial") + " and " + fifo));
    return match;
  }();
  ASSERT_FALSE(kept.empty()) << log;
  const long records = std::stol(kept[1]);
  EXPECT_GE(records, 2);
  EXPECT_LT(records, 6);
  auto reference = series;
  reference.insert(reference.end(), {"--replicates", std::to_string(records), "-q", "--out", PathOf("r.txt"),
                                     "--trace", PathOf("r.trace")});
  ASSERT_EQ(RunHere(reference).status, 0);
  EXPECT_TRUE(streamed == ReadAll(PathOf("r.trace")))
      << streamed.size() << " bytes streamed, " << fs::file_size(PathOf("r.trace")) << " in " << records
      << " replicates";
  EXPECT_EQ(RecordsOf(ReadAll(PathOf("p.txt.partial"))), RecordsOf(ReadAll(PathOf("r.txt"))));
}

// Text held for its turn goes to $TMPDIR; a $TMPDIR that fills up part way
// hands what it holds on to the output's own folder, and the series ends
// as it would have. A full disk is made for the command alone: a small
// memory file system mounted in a namespace of its own.
TEST_F(Outputs, AFullTemporaryFolderDoesNotEndASeries) {
  if (std::system("unshare -rm true 2>/dev/null") != 0) GTEST_SKIP() << "no namespaces to mount a full disk in";
  const std::vector<std::string> series = {"--seed", "3", "--replicates", "4", "--generations", "8000", "-q"};
  auto reference = series;
  reference.insert(reference.end(), {"--jobs", "1", "--out", PathOf("r.txt"), "--trace", PathOf("r.trace")});
  ASSERT_EQ(RunHere(reference).status, 0);
  fs::create_directories(PathOf("small"));
  std::string command = "unshare -rm sh -c 'mount -t tmpfs -o size=64k tmpfs " + PathOf("small") + " && TMPDIR=" +
                        PathOf("small") + " exec " + TALVERON_BATCH_PATH;
  for (const std::string& arg : series) command += " " + arg;
  command += " --jobs 2 --out " + PathOf("f.txt") + " --trace " + PathOf("f.trace") + "' 2>" + PathOf("log");
  const int status = std::system(command.c_str());
  EXPECT_EQ(status, 0) << ReadAll(PathOf("log"));
  EXPECT_TRUE(ReadAll(PathOf("f.trace")) == ReadAll(PathOf("r.trace")));
  EXPECT_EQ(ReadAll(PathOf("f.txt")), ReadAll(PathOf("r.txt")));
  EXPECT_TRUE(fs::is_empty(PathOf("small")));
}

// Standard output is often a pipe: one that no one reads, or a full device,
// is an error (status 1), never a silent success or a death by SIGPIPE.
// A data file written to standard output goes wherever it leads, a
// regular file included.
TEST_F(Outputs, StandardOutputThatCannotBeWrittenIsAnError) {
  const std::vector<std::string> series = {"--seed", "1", "--replicates", "2", "--generations", "30", "-q"};
  ChildSetup closedPipe;
  closedPipe.stdoutToClosedPipe = true;
  auto toStdout = series;
  toStdout.insert(toStdout.end(), {"--out", "/dev/stdout"});
  auto [status, log] = RunChild(toStdout, PathOf("log"), closedPipe);
  EXPECT_EQ(status, 1);
  EXPECT_NE(log.find("Broken pipe"), std::string::npos) << log;
  std::tie(status, log) = RunChild({"--help"}, PathOf("log"), closedPipe);
  EXPECT_EQ(status, 1);
  EXPECT_NE(log.find("cannot write standard output: Broken pipe"), std::string::npos) << log;
  if (fs::exists("/dev/full")) {
    ChildSetup full;
    full.stdoutPath = "/dev/full";
    for (const char* option : {"--help", "--version"}) {
      std::tie(status, log) = RunChild({option}, PathOf("log"), full);
      EXPECT_EQ(status, 1) << option;
      EXPECT_NE(log.find("No space left on device"), std::string::npos) << log;
    }
  }

  auto plain = series;
  plain.insert(plain.end(), {"--out", PathOf("plain.txt")});
  ASSERT_EQ(RunHere(plain).status, 0);
  ChildSetup toFile;
  toFile.stdoutPath = PathOf("redirected.txt");
  auto descriptor = series;
  descriptor.insert(descriptor.end(), {"--out", "/proc/self/fd/1"});
  std::tie(status, log) = RunChild(descriptor, PathOf("log"), toFile);
  EXPECT_EQ(status, 0) << log;
  EXPECT_EQ(ReadAll(PathOf("redirected.txt")), ReadAll(PathOf("plain.txt")));
}

// Replicates run at once write the bytes of replicates run one by one,
// records and trace, the environment changing within replicates and spans
// running over from one replicate into the next; --verbose tells each
// replicate's seed and draws, in order.
TEST_F(Outputs, ReplicatesAtOnceWriteTheBytesOfOneAtATime) {
  const std::vector<std::vector<std::string>> recordings = {{"--record", "timed"},
                                                            {"--record", "preference", "--span", "7"}};
  for (const auto& recording : recordings) {
    SCOPED_TRACE(recording[1]);
    std::string texts[2][2];
    std::vector<std::string> draws[2];
    for (int jobs = 1; jobs <= 2; ++jobs) {
      std::vector<std::string> args = {"--seed",
                                       "3",
                                       "--replicates",
                                       "9",
                                       "--generations",
                                       "25",
                                       "--set",
                                       "gGenerationsToEnvironmentalChange=7",
                                       "--verbose",
                                       "--jobs",
                                       std::to_string(jobs),
                                       "--out",
                                       PathOf("j.txt"),
                                       "--trace",
                                       PathOf("j.trace")};
      args.insert(args.end(), recording.begin(), recording.end());
      const Outcome outcome = RunHere(args);
      ASSERT_EQ(outcome.status, 0) << outcome.log;
      texts[jobs - 1][0] = ReadAll(PathOf("j.txt"));
      texts[jobs - 1][1] = ReadAll(PathOf("j.trace"));
      const std::regex line(
          R"(talveron-batch: replicate (\d+): seed (\d+), 25 generations, (\d+) draws, \d+\.\d{3} s\n)");
      long expected = 1;
      for (auto it = std::sregex_iterator(outcome.log.begin(), outcome.log.end(), line);
           it != std::sregex_iterator(); ++it, ++expected) {
        EXPECT_EQ((*it)[1], std::to_string(expected));
        EXPECT_EQ((*it)[2], std::to_string(3 + expected - 1));
        draws[jobs - 1].push_back((*it)[3]);
      }
      EXPECT_EQ(expected, 10) << outcome.log;
    }
    EXPECT_EQ(texts[0][0], texts[1][0]);
    EXPECT_EQ(texts[0][1], texts[1][1]);
    EXPECT_EQ(CountOf(texts[0][1], '\n'), 1 + 9 * 25 * 2);
    EXPECT_EQ(draws[0], draws[1]);
  }
}

// Loose input is refused before anything runs: one line, status 2, the
// value quoted (at most 80 characters of it, control characters escaped).
TEST_F(Outputs, LooseInputIsRefused) {
  const std::string out = PathOf("refused.txt");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--set", "gSearchCost=1e-50"}, "'1e-50' is not allowed for gSearchCost"},
      {{"--set", "gViabilityFactor=1e39"}, "'1e39' is not allowed for gViabilityFactor"},
      {{"--set", "gSearchCost=0x1p-1"}, "'0x1p-1'"},
      {{"--set", "gSearchCost= 0.5"}, "' 0.5'"},
      {{"--set", "selectionFactor=0.5 "}, "'0.5 '"},
      {{"--seed", "1", "--seed=2"}, "--seed is given twice"},
      {{"--out", out}, "--out is given twice"},
      {{"--quiet=0"}, "--quiet takes no value"},
      {{"--help=yes"}, "--help takes no value"},
      {{"--verbose", "-q"}, "--verbose and --quiet cannot be given together"},
      {{"--jobs", "0"}, "--jobs '0': allowed is a whole number from 1 to"},
      {{"--jobs", "-2"}, "--jobs '-2'"},
      {{"--jobs", "two"}, "--jobs 'two'"},
      {{"--jobs=1.5"}, "--jobs '1.5'"},
      {{"--record", std::string(200, 'x')}, "--record '" + std::string(80, 'x') + "...'"},
      {{"--record", "a\nb\x1b"}, "--record 'a\\nb\\x1b'"},
      {{"--set", "density=\x1b[2J"}, "\\x1b[2J"},
      {{"--settings", "no\x1bsuch.toml"}, "no\\x1bsuch.toml"},
  };
  for (const auto& [args, expected] : cases) {
    std::vector<std::string> full = args;
    full.insert(full.end(), {"--out", out});
    const Outcome outcome = RunHere(full);
    EXPECT_EQ(outcome.status, 2) << args[0];
    EXPECT_NE(outcome.log.find(expected), std::string::npos) << outcome.log;
    EXPECT_LT(outcome.log.size(), 200u) << outcome.log;
    EXPECT_EQ(CountOf(outcome.log, '\n'), 1) << outcome.log;
    EXPECT_TRUE(std::all_of(outcome.log.begin(), outcome.log.end() - 1, [](char c) {
      return static_cast<unsigned char>(c) >= 0x20 && c != 0x7f;
    })) << outcome.log;
    EXPECT_FALSE(fs::exists(out)) << args[0];
  }
}

}  // namespace
}  // namespace talveron::batch
