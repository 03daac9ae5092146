// Who may write where: one process per output file and per study folder,
// one file under one name however it is spelled, paths that cannot be used
// reported as such, and files the command did not make left alone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
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
using testing::RunChild;
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

std::vector<std::string> Series(std::vector<std::string> outputs) {
  std::vector<std::string> args = {"--seed", "1", "--replicates", "1", "--generations", "3", "-q"};
  args.insert(args.end(), outputs.begin(), outputs.end());
  return args;
}

// The names in a folder.
std::set<std::string> NamesIn(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

// While a series and a study run, a second run on any of their files or on
// the study's folder is refused before it writes, naming the process; a
// writer killed with -9 blocks no one after it.
TEST(OutputClaims, ASecondWriterIsRefusedWhileTheFirstRuns) {
  TempFolder dir("claims");
  const std::string out = (dir / "x.txt").string();
  const std::string trace = (dir / "x.trace").string();
  {
    BatchChild first({"--seed", "1", "--replicates", "100000", "--generations", "20", "--jobs", "1", "--verbose",
                      "--out", out, "--trace", trace},
                     (dir / "log1").string());
    ASSERT_TRUE(first.WaitUntil([&] { return first.LogHas("replicate 1: seed"); })) << first.Log();
    const std::string holder = "is being written by process " + std::to_string(first.pid());
    const std::vector<std::vector<std::string>> seconds = {
        {"--out", (dir / "." / "x.txt").string()},
        {"--out", (dir / "y.txt").string(), "--trace", out},
        {"--out", (dir / "z.txt").string(), "--trace", trace},
    };
    for (const auto& outputs : seconds) {
      const Outcome second = RunHere(Series(outputs));
      EXPECT_EQ(second.status, 2) << outputs.back();
      EXPECT_NE(second.log.find(holder), std::string::npos) << second.log;
    }
    EXPECT_EQ(NamesIn(dir.path()), (std::set<std::string>{"log1", "x.txt.lock", "x.txt.partial", "x.trace.lock",
                                                          "x.trace.partial"}));
    first.Signal(SIGKILL);
    EXPECT_EQ(first.Finish(), 128 + SIGKILL);
  }
  ASSERT_EQ(RunHere(Series({"--out", out, "--trace", trace})).status, 0);
  EXPECT_FALSE(fs::exists(out + ".lock"));

  const std::string folder = (dir / "study").string();
  WriteAll(dir / "study.toml", "seed = 1\nreplicates = 1000\ngenerations = 100\n[vary]\ndensity = [1, 2]\n");
  const std::vector<std::string> study = {"--study", (dir / "study.toml").string(), "--out-dir", folder};
  {
    BatchChild first(study, (dir / "log2").string());
    ASSERT_TRUE(first.WaitUntil([&] { return fs::exists(folder + "/manifest.json"); })) << first.Log();
    const std::string holder = "is being written by process " + std::to_string(first.pid());
    for (const bool resume : {true, false}) {
      std::vector<std::string> args = study;
      if (resume) args.push_back("--resume");
      const Outcome second = RunHere(args);
      EXPECT_EQ(second.status, 2) << resume;
      EXPECT_NE(second.log.find(holder), std::string::npos) << second.log;
    }
    first.Signal(SIGKILL);
    EXPECT_EQ(first.Finish(), 128 + SIGKILL);
  }
  std::vector<std::string> resume = study;
  resume.push_back("--resume");
  BatchChild resumed(resume, (dir / "log3").string());
  ASSERT_TRUE(resumed.WaitUntil([&] { return resumed.LogHas("cells already complete"); })) << resumed.Log();
  resumed.Signal(SIGINT);
  EXPECT_EQ(resumed.Finish(), 130) << resumed.Log();
}

// Another output's working or lock file is no output of its own: naming
// x.txt.partial or x.txt.lock would replace the first run's series or its
// lock. Such names are refused before anything is made, also through a
// symbolic link. A hard link to a file another run writes, or is about to
// replace, is refused as a symbolic link to it is.
TEST(OutputClaims, AnotherOutputsWorkingAndLockFilesAreRefused) {
  TempFolder dir("working");
  const std::string out = (dir / "x.txt").string();
  const std::string trace = (dir / "x.trace").string();
  WriteAll(out, "old data\r");
  BatchChild first({"--seed", "1", "--replicates", "100000", "--generations", "20", "--jobs", "1", "--verbose",
                    "--out", out, "--trace", trace},
                   (dir / "log1").string());
  ASSERT_TRUE(first.WaitUntil([&] { return first.LogHas("replicate 1: seed"); })) << first.Log();
  const std::string partial = ReadAll(out + ".partial").substr(0, 100);
  fs::create_symlink(out + ".partial", dir / "link.txt");
  fs::create_symlink(out + ".lock", dir / "lock-link.txt");
  for (const std::string& name : {out + ".partial", out + ".lock", trace + ".partial", trace + ".lock",
                                  (dir / "link.txt").string(), (dir / "lock-link.txt").string()}) {
    for (const char* option : {"--out", "--trace"}) {
      std::vector<std::string> outputs = {option, name};
      if (std::string(option) == "--trace") outputs.insert(outputs.end(), {"--out", (dir / "y.txt").string()});
      const Outcome second = RunHere(Series(outputs));
      EXPECT_EQ(second.status, 2) << option << " " << name;
      EXPECT_NE(second.log.find(std::string(option) + " '" + name + "': a name ending in ."), std::string::npos)
          << second.log;
    }
  }
  fs::create_hard_link(out + ".partial", dir / "hard-partial.txt");
  fs::create_hard_link(out, dir / "hard-old.txt");
  fs::create_hard_link(out + ".lock", dir / "hard-lock.txt");
  for (const char* name : {"hard-partial.txt", "hard-old.txt", "hard-lock.txt"}) {
    const Outcome second = RunHere(Series({"--out", (dir / name).string()}));
    EXPECT_EQ(second.status, 2) << name;
    EXPECT_NE(second.log.find("is being written by another process"), std::string::npos) << second.log;
  }
  EXPECT_EQ(NamesIn(dir.path()),
            (std::set<std::string>{"log1", "x.txt", "x.txt.lock", "x.txt.partial", "x.trace.lock", "x.trace.partial",
                                   "link.txt", "lock-link.txt", "hard-partial.txt", "hard-old.txt", "hard-lock.txt"}));
  EXPECT_EQ(ReadAll(out + ".partial").substr(0, 100), partial);
  first.Signal(SIGINT);
  EXPECT_EQ(first.Finish(), 130) << first.Log();
  EXPECT_EQ(ReadAll(out), "old data\r");
  EXPECT_NE(first.Log().find("complete records in " + out + ".partial"), std::string::npos) << first.Log();
}

// The working folder changed while it lives.
class InFolder {
 public:
  explicit InFolder(const fs::path& dir) : before_(fs::current_path()) { fs::current_path(dir); }
  ~InFolder() { fs::current_path(before_); }

 private:
  fs::path before_;
};

// A file not made yet is one file however its path is spelled: --out and
// --trace naming it twice are refused before anything is written.
TEST(OutputClaims, OneNewFileUnderTwoSpellingsIsRefused) {
  TempFolder dir("spellings");
  fs::create_directory(dir / "d");
  const InFolder here(dir.path());
  const std::string absolute = (fs::current_path() / "x.txt").string();
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"x.txt", "./x.txt"},         {"x.txt", absolute},          {"x.txt", "d/../x.txt"},
      {"d/../x.txt", "x.txt.partial"}, {"x.txt", "./x.txt.lock"},
  };
  for (const auto& [out, trace] : pairs) {
    const Outcome outcome = RunHere(Series({"--out", out, "--trace", trace}));
    EXPECT_EQ(outcome.status, 2) << out << " " << trace;
    EXPECT_NE(outcome.log.find("the same file"), std::string::npos) << outcome.log;
    EXPECT_EQ(NamesIn(dir.path()), std::set<std::string>{"d"}) << out << " " << trace;
  }
}

// A folder on the path that may not be searched, a name too long, a loop of
// symbolic links: for every output, status 1 with the path and the reason,
// nothing written.
TEST(OutputClaims, PathsThatCannotBeUsedAreReported) {
  TempFolder dir("paths");
  fs::create_symlink("loop", dir / "loop");
  fs::create_directory_symlink("folder-loop", dir / "folder-loop");
  std::vector<std::pair<std::string, std::string>> bad = {
      {(dir / std::string(300, 'n')).string(), "File name too long"},
      {(dir / "loop").string(), "Too many levels of symbolic links"},
      {(dir / "folder-loop" / "x").string(), "Too many levels of symbolic links"},
  };
  // The superuser searches every folder.
  if (::geteuid() != 0) {
    fs::create_directories(dir / "locked" / "inner");
    fs::permissions(dir / "locked", fs::perms::none);
    bad.push_back({(dir / "locked" / "inner" / "x").string(), "Permission denied"});
  }
  WriteAll(dir / "study.toml", "seed = 1\nreplicates = 1\ngenerations = 2\n[vary]\ndensity = [1, 2]\n");
  const std::string ok = (dir / "ok.txt").string();
  for (const auto& [path, reason] : bad) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             Series({"--out", path}),
             Series({"--out", ok, "--trace", path}),
             {"--study", (dir / "study.toml").string(), "--out-dir", path}}) {
      SCOPED_TRACE(args[args.size() - 2] + " " + path.substr(path.size() - 10));
      const auto [status, log] = RunChild(args, (dir / "log").string());
      EXPECT_EQ(status, 1) << log;
      EXPECT_NE(log.find("cannot write '" + path + "': " + reason), std::string::npos) << log;
      EXPECT_FALSE(fs::exists(ok + ".partial"));
      EXPECT_FALSE(fs::exists(ok + ".lock"));
    }
  }
}

// A read-only file is not replaced, a folder of other files does not take
// a study, a folder is not a settings file: each refused, nothing changed.
TEST(OutputClaims, FilesItDidNotMakeAreLeftAlone) {
  TempFolder dir("foreign");
  const fs::path kept = dir / "kept.txt";
  WriteAll(kept, "someone's data\n");
  fs::permissions(kept, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  for (const auto& outputs : std::vector<std::vector<std::string>>{
           {"--out", kept.string()}, {"--out", (dir / "new.txt").string(), "--trace", kept.string()}}) {
    const Outcome outcome = RunHere(Series(outputs));
    EXPECT_EQ(outcome.status, 1) << outputs.back();
    EXPECT_NE(outcome.log.find("cannot write '" + kept.string() + "': the file is read-only"), std::string::npos)
        << outcome.log;
    EXPECT_EQ(ReadAll(kept), "someone's data\n");
    EXPECT_FALSE(fs::exists(dir / "new.txt.partial"));
  }

  const fs::path other = dir / "other";
  fs::create_directory(other);
  WriteAll(other / "summary.tsv", "not a study's\n");
  WriteAll(dir / "study.toml", "seed = 1\nreplicates = 1\ngenerations = 2\n[vary]\ndensity = [1, 2]\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
      {{"--study", (dir / "study.toml").string(), "--out-dir", other.string()},
       "holds files but no manifest.json (summary.tsv, ...)"},
      {{"--study", other.string(), "--out-dir", (dir / "fresh").string()}, "is a folder"},
      {Series({"--settings", other.string(), "--out", (dir / "fresh.txt").string()}), "is a folder"},
  };
  for (const auto& [args, expected] : refusals) {
    const Outcome outcome = RunHere(args);
    EXPECT_EQ(outcome.status, 2) << expected;
    EXPECT_NE(outcome.log.find(expected), std::string::npos) << outcome.log;
  }
  EXPECT_EQ(NamesIn(other), std::set<std::string>{"summary.tsv"});
  EXPECT_EQ(ReadAll(other / "summary.tsv"), "not a study's\n");
  EXPECT_EQ(NamesIn(dir.path()), (std::set<std::string>{"kept.txt", "other", "study.toml"}));
}

}  // namespace
}  // namespace talveron::batch
