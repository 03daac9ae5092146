// The batch command against what only a process meets: signals at any
// moment, a reader that stops reading, and replicates far longer than its
// memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <random>
#include <sstream>
#include <thread>

#include "batch_child.h"
#include "temp_folder.h"

namespace talveron::batch {
namespace {

using testing::BatchChild;
using testing::ChildSetup;
using testing::ReadAll;

// Every line on standard error is one of the program's own, whole.
bool WellFormed(const std::string& log) {
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    if (line.rfind("talveron-batch: ", 0) != 0) return false;
    if (!std::all_of(line.begin(), line.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7f; })) return false;
  }
  return true;
}

// A timed data file holds its header and whole records only: it ends at
// the end of a line, and every record has its nine fields.
bool CompleteRecordsOnly(const std::string& data) {
  constexpr std::string_view kLegend = "A\tB\tC\tD\tE\tF\tG\tH\tI\r\r";
  const std::size_t legend = data.find(kLegend);
  if (legend == std::string::npos) return false;
  const std::string records = data.substr(legend + kLegend.size());
  const auto lines = std::count(records.begin(), records.end(), '\r');
  const auto fields = std::count(records.begin(), records.end(), '\t');
  return (records.empty() || records.back() == '\r') && fields == 8 * lines;
}

// A signal as the program ends, when it has let go of its files and is
// returning from main, is either taken (status 130) or too late to matter
// (status 0); never a crash, a hang or a garbled message.
TEST(Signals, AStopSignalAtAnyMomentNearTheEndIsHarmless) {
  test_support::TempFolder folder("signals");
  const std::vector<std::string> args = {"--seed", "5", "--replicates", "1", "--generations", "3", "--jobs", "1",
                                         "--out", (folder / "s.txt").string()};
  // How long one run takes, to aim the signals at its end.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(testing::RunChild(args, (folder / "first.log").string()).first, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::mt19937 random(std::random_device{}());
  std::uniform_real_distribution<double> moment(0.3 * seconds, 1.3 * seconds);
  for (int run = 0; run < 200; ++run) {
    BatchChild child(args, (folder / "log").string());
    ASSERT_TRUE(child.started());
    std::this_thread::sleep_for(std::chrono::duration<double>(moment(random)));
    child.Signal(SIGINT);
    if (run % 2 == 1) child.Signal(SIGINT);
    const int status = child.Finish();
    const std::string log = child.Log();
    ASSERT_TRUE(status == 0 || status == 130) << "run " << run << ": status " << status << "\n" << log;
    ASSERT_TRUE(WellFormed(log)) << "run " << run << ":\n" << log;
  }
}

// With the trace on standard output and a reader that has stopped reading,
// the first Ctrl+C waits for the end of a generation that cannot end; the
// second ends the program at once, the data file cut back to complete
// records.
TEST(Signals, ASecondCtrlCEndsARunStuckOnAStalledPipe) {
  test_support::TempFolder folder("stalled");
  const std::string data = (folder / "d.txt").string();
  ChildSetup setup;
  setup.stdoutToStalledPipe = true;
  BatchChild child({"--seed", "2", "--replicates", "1000", "--generations", "200", "--jobs", "2", "-q", "--out", data,
                    "--trace", "/dev/stdout"},
                   (folder / "log").string(), setup);
  ASSERT_TRUE(child.WaitUntil([&] { return child.StuckOnPipe(); })) << child.Log();
  child.Signal(SIGINT);
  ASSERT_TRUE(child.WaitUntil([&] { return child.LogHas("Ctrl+C again stops at once"); })) << child.Log();
  child.Signal(SIGINT);
  // A hang fails here instead of stalling the tests.
  EXPECT_EQ(child.Finish(30), 130) << child.Log();
  EXPECT_TRUE(child.LogHas("stopped at once")) << child.Log();
  EXPECT_TRUE(CompleteRecordsOnly(ReadAll(data + ".partial")));
}

// A long replicate's text goes to its file as it grows: the peak memory of
// a run four times as long is the same, within a margin far below the
// text the longer run writes, on one core and with replicates at once.
TEST(Signals, PeakMemoryDoesNotGrowWithTheGenerations) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer keeps freed memory for a while";
#endif
  test_support::TempFolder folder("memory");
  auto peak = [&](long generations, const std::string& replicates, const std::string& jobs) {
    const std::string out = (folder / "m.txt").string();
    BatchChild child({"--seed", "1", "--replicates", replicates, "--generations", std::to_string(generations),
                      "--jobs", jobs, "--record", "total", "--span", "1", "-q", "--out", out, "--trace",
                      (folder / "m.trace").string()},
                     (folder / "log").string());
    EXPECT_EQ(child.Finish(600), 0) << child.Log();
    return child.PeakKilobytes();
  };
  constexpr long kShort = 15000;
  for (const auto& [replicates, jobs] : {std::pair{"1", "1"}, std::pair{"2", "2"}}) {
    SCOPED_TRACE(std::string(replicates) + " replicates on " + jobs + " jobs");
    const long shorter = peak(kShort, replicates, jobs);
    const long longer = peak(4 * kShort, replicates, jobs);
    // The longer run writes about 3 MB more trace per replicate.
    EXPECT_LT(longer - shorter, 1024) << shorter << " KB, then " << longer << " KB";
  }
}

}  // namespace
}  // namespace talveron::batch
