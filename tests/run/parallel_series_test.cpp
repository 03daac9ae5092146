// Replicates run at once, in any order, write the bytes of a series run in
// one piece: environment state and unfinished spans carried over, records
// in order, long replicates written as they grow.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "model_support.h"
#include "record/trace.h"
#include "run/parallel_series.h"
#include "run/series.h"
#include "run/settings_file.h"
#include "string_sink.h"

namespace talveron {
namespace {

using testing::StringSink;

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Texts {
  std::string data;
  std::string trace;
};

// The series as it runs in one piece.
Texts InOnePiece(const SeriesPlan& plan) {
  World world;
  world.params = plan.params;
  DataRecorder recorder;
  recorder.choices = plan.recording;
  StringSink sink;
  recorder.SetSink(&sink);
  Texts texts;
  texts.trace = kTraceHeader;
  SeriesCallbacks callbacks;
  callbacks.censusTaken = [&texts](long replicate, const World& w) {
    texts.trace += TraceLines(replicate, w.gGenerationNumber, w.geneFrequencies);
  };
  SeriesOptions options;
  options.baseSeed = plan.baseSeed;
  options.replicates = plan.replicates;
  options.generations = plan.generations;
  RunSeries(world, recorder, options, callbacks);
  texts.data = sink.text;
  return texts;
}

class ParallelSeries : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("talveron_parallel_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Texts InParallel(const SeriesPlan& plan, int jobs, std::size_t bufferLimit = RunOptions{}.bufferLimit,
                   std::size_t heldInMemory = std::size_t{256} << 10) {
    const std::string data = (dir_ / "data.txt").string();
    const std::string trace = (dir_ / "data.trace").string();
    SeriesWriter writer(plan, data, trace);
    writer.heldInMemory = heldInMemory;
    RunOptions options;
    options.jobs = jobs;
    options.bufferLimit = bufferLimit;
    RunSeriesInParallel({&writer}, options);
    EXPECT_TRUE(writer.Complete());
    writer.Commit();
    return {ReadAll(data), ReadAll(trace)};
  }

  // The same kept in memory, as the Python package keeps it.
  static Texts InMemory(const SeriesPlan& plan, int jobs) {
    StringSink data;
    StringSink trace;
    SeriesWriter writer(plan, data, &trace);
    RunOptions options;
    options.jobs = jobs;
    RunSeriesInParallel({&writer}, options);
    EXPECT_TRUE(writer.Complete());
    return {data.text, trace.text};
  }

  std::filesystem::path dir_;
};

SeriesPlan Plan(const std::string& record, long span, long replicates, long generations) {
  SeriesPlan plan;
  plan.baseSeed = 977;
  plan.replicates = replicates;
  plan.generations = generations;
  plan.recording.gAveragingSpan = span;
  EXPECT_TRUE(ApplyRecordName(record, plan.recording));
  plan.params.density = 2;
  plan.params.gMatingPrefTarget = 2;
  plan.params.gIncludeGeneralViability = true;
  plan.params.gGenerationsToEnvironmentalChange = 7;  // switches inside and across replicates
  return plan;
}

TEST_F(ParallelSeries, WritesTheBytesOfTheSeriesInOnePiece) {
  const std::vector<SeriesPlan> plans = {
      Plan("timed", 10, 5, 40),
      Plan("total", 7, 5, 23),          // spans straddle replicates
      Plan("preference", 50, 6, 12),    // a span covers several replicates
      Plan("specialization", 4, 3, 8),  // spans end with replicates
      Plan("mating", 1, 3, 15),
      Plan("none", 10, 3, 9),
  };
  for (const SeriesPlan& plan : plans) {
    const Texts expected = InOnePiece(plan);
    for (int jobs : {1, 3}) {
      const Texts actual = InParallel(plan, jobs);
      EXPECT_TRUE(actual.data == expected.data) << RecordName(plan.recording) << ", jobs " << jobs;
      EXPECT_TRUE(actual.trace == expected.trace) << RecordName(plan.recording) << ", jobs " << jobs;
      const Texts kept = InMemory(plan, jobs);
      EXPECT_TRUE(kept.data == expected.data) << RecordName(plan.recording) << " in memory, jobs " << jobs;
      EXPECT_TRUE(kept.trace == expected.trace) << RecordName(plan.recording) << " in memory, jobs " << jobs;
    }
  }
}

// A long replicate hands its text over as it grows instead of holding it to
// the end: what it holds stays small, and the bytes stay the same, also
// when replicates whose turn has not come hold their text in a file.
TEST_F(ParallelSeries, LongReplicatesAreWrittenAsTheyGrow) {
  for (const SeriesPlan& plan : {Plan("total", 3, 5, 150), Plan("timed", 10, 5, 150)}) {
    const Texts expected = InOnePiece(plan);
    for (const std::size_t held : {std::size_t{1} << 20, std::size_t{300}}) {
      const Texts actual = InParallel(plan, 3, 200, held);
      EXPECT_TRUE(actual.data == expected.data) << RecordName(plan.recording) << ", held " << held;
      EXPECT_TRUE(actual.trace == expected.trace) << RecordName(plan.recording) << ", held " << held;
    }
  }

  const SeriesPlan longPlan = Plan("total", 3, 3, 150);  // a run keeps a reference to its plan
  ReplicateRun run(longPlan, 1, true);
  std::size_t most = 0;
  while (!run.Done()) {
    run.RunGeneration();
    most = std::max(most, run.BufferedBytes());
    if (run.BufferedBytes() > 200) run.TakePiece();
  }
  EXPECT_LT(most, 400u);
}

TEST_F(ParallelSeries, AStopKeepsCompleteRecordsOnly) {
  SeriesPlan plan = Plan("timed", 10, 50, 30);
  const std::string data = (dir_ / "stopped.txt").string();
  { std::ofstream(data) << "the old file"; }
  {
    SeriesWriter writer(plan, data, (dir_ / "stopped.trace").string());
    StopFlag stop{false};
    RunOptions options;
    options.jobs = 2;
    options.stop = &stop;
    options.tickSeconds = 0.001;
    options.tick = [&] {
      if (writer.recordsWritten() >= 3) stop = true;
    };
    RunSeriesInParallel({&writer}, options);
    EXPECT_FALSE(writer.Complete());
    writer.Abandon();
  }
  EXPECT_EQ(ReadAll(data), "the old file");
  const std::string partial = ReadAll(data + ".partial");
  const std::string trace = ReadAll(dir_ / "stopped.trace.partial");
  const std::string full = InOnePiece(plan).data;
  // Records are whole lines ending in \r; the trace has the same replicates.
  ASSERT_EQ(full.compare(0, partial.size(), partial), 0);
  ASSERT_EQ(partial.back(), '\r');
  const long records = std::count(partial.begin(), partial.end(), '\r') -
                       std::count(full.begin(), full.begin() + static_cast<long>(full.find("A\tB")), '\r') - 2;
  EXPECT_GE(records, 3);
  EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 1 + records * 2 * plan.generations);
}

// Replicates held for their turn are written when it comes, possibly many
// and long at once. A stop seen then (mpirun sends SIGTERM and, a moment
// later, SIGKILL) begins no further replicate and cuts the files back at
// once: what a kill finds on disk ends on a complete record.
TEST_F(ParallelSeries, AStopWhileHeldReplicatesAreWrittenCutsTheFilesBackAtOnce) {
  const SeriesPlan plan = Plan("timed", 10, 4, 60);
  const std::string data = (dir_ / "held.txt").string();
  const std::string trace = (dir_ / "held.trace").string();
  StopFlag stop{false};
  SeriesWriter writer(plan, data, trace);
  writer.heldInMemory = 100;  // every replicate's text goes to a file while it waits
  writer.stop = &stop;
  writer.recordWritten = [&](const ReplicatePiece&, long written) {
    if (written == 1) stop = true;
  };
  std::vector<ReplicatePiece> pieces;
  for (long replicate = 1; replicate <= 4; ++replicate) {
    ReplicateRun run(plan, replicate, true);
    while (!run.Done()) {
      run.RunGeneration();
      if (run.BufferedBytes() > 500 && !run.Done()) pieces.push_back(run.TakePiece());
    }
    pieces.push_back(run.TakePiece());
  }
  // Replicates 2 to 4 wait for replicate 1, which comes last.
  for (ReplicatePiece& piece : pieces) {
    if (piece.replicate != 1) writer.Deliver(std::move(piece));
  }
  for (ReplicatePiece& piece : pieces) {
    if (piece.replicate == 1) writer.Deliver(std::move(piece));
  }
  EXPECT_EQ(writer.recordsWritten(), 1);
  // As a kill right now would leave them.
  const Texts full = InOnePiece(plan);
  const std::string written = ReadAll(data + ".partial");
  const std::string legend = "A\tB\tC\tD\tE\tF\tG\tH\tI\r\r";
  ASSERT_NE(written.find(legend), std::string::npos);
  const std::string records = written.substr(written.find(legend) + legend.size());
  EXPECT_EQ(std::count(records.begin(), records.end(), '\r'), 1);
  EXPECT_EQ(written.back(), '\r');
  EXPECT_EQ(written, full.data.substr(0, written.size()));
  const std::string traced = ReadAll(trace + ".partial");
  EXPECT_EQ(std::count(traced.begin(), traced.end(), '\n'), 1 + 2 * plan.generations);
  EXPECT_TRUE(traced == full.trace.substr(0, traced.size()));
  writer.Abandon();
}

TEST(EnvironmentState, IsKnownAtTheStartOfEveryReplicate) {
  SeriesPlan plan;
  plan.generations = 10;
  plan.params.gGenerationsToEnvironmentalChange = 3;  // 3 switches a replicate
  EXPECT_EQ(ViabilityBefore(plan, 1), 2);
  EXPECT_EQ(ViabilityBefore(plan, 2), 0);  // 2 -> 0 -> 1 -> 0
  EXPECT_EQ(ViabilityBefore(plan, 3), 1);
  plan.params.gGenerationsToEnvironmentalChange = 20;  // never
  EXPECT_EQ(ViabilityBefore(plan, 7), 2);
}

}  // namespace
}  // namespace talveron
