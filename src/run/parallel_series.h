// Running the replicates of one or more series at once, on threads or on
// other machines, with files byte for byte those of running them one after
// another.
//
// A replicate takes two things from the one before it: the environment
// state and an unfinished averaging span. The environment changes at fixed
// generation numbers, so its state at the start of replicate k follows from
// k alone (ViabilityBefore). Of the span, a replicate can know how many
// generations are already counted (the series' generations so far modulo
// the span) but not their sums; it keeps its first span as sums and the
// writer, which takes the replicates in order, completes it with the sums
// the one before left behind.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/parameter_schedule.h"
#include "model/parameters.h"
#include "model/world.h"
#include "record/genotype_sample.h"
#include "record/output_file.h"
#include "record/recorder.h"

namespace talveron {

class StateReader;
class StateWriter;

// Everything that defines a series' results.
struct SeriesPlan {
  Parameters params;
  RecordingChoices recording;
  std::uint64_t baseSeed = 0;
  long replicates = 2;
  long generations = 5000;
  // Changes during each replicate (a replicate starts from `params`).
  ParameterSchedule changes;
  // The trace's lines carry the population-genetic statistics.
  bool traceStats = false;
  // Genotype samples: the adults of sampled generations go with the
  // replicate's last piece (IsSampledGeneration).
  bool genotypes = false;
  long sampleEvery = 0;
};

// gCurrentViability at the start of replicate k (from 1) of a series.
int ViabilityBefore(const SeriesPlan& plan, long replicate);
// Generations of the unfinished averaging span at the start of replicate k.
long SpanCountBefore(const SeriesPlan& plan, long replicate);

// What a replicate gives its writer, whole or, for a long one, in pieces.
struct ReplicatePiece {
  long replicate = 0;
  std::string data;   // data-file text, without the span begun before it
  std::string trace;  // trace lines
  bool firstSpanCompleted = false;
  SpanSums firstSpan;
  // The rest is known once the replicate has ended.
  bool finished = false;
  SpanSums lastSpan;  // the unfinished span it leaves to the next
  std::uint64_t seed = 0;
  std::uint64_t draws = 0;
  double seconds = 0;
  std::map<std::string, long> messages;  // non-fatal messages and their counts
  // Genotype samples, when the plan asks for them: all with the last piece,
  // or each with the piece of its generation (ReplicateRun::HandOnSamples).
  std::vector<GenotypeSample> samples;
};

// One replicate of a series, run generation by generation.
class ReplicateRun {
 public:
  ReplicateRun(const SeriesPlan& plan, long replicate, bool trace);
  ReplicateRun(const ReplicateRun&) = delete;
  ReplicateRun& operator=(const ReplicateRun&) = delete;

  bool Done() const { return generation_ >= plan_.generations; }
  void RunGeneration();
  // Text produced so far; after Done(), the whole rest with the record.
  ReplicatePiece TakePiece();
  // Text and samples produced and not yet taken.
  std::size_t BufferedBytes() const { return piece_.data.size() + piece_.trace.size() + sampleBytes_; }
  // Each sampled generation goes with the next piece taken, rather than
  // all with the last one: the engines' runs, whose writers keep the
  // samples on disk as they come.
  void HandOnSamples() { handOnSamples_ = true; }
  long generation() const { return generation_; }
  // The replicate's population and its criteria so far, to be read between
  // generations.
  const World& world() const { return *world_; }
  // The parameters in force, to be set between generations.
  Parameters& parameters() { return world_->params; }
  // A new stream of random numbers from here on.
  void Reseed(std::uint64_t seed) { world_->SeedRandom(seed); }
  const DataRecorder& recorder() const { return recorder_; }
  // Its whole state between generations as fields, and back into a run
  // made from the same plan (replicate_state.h).
  void SaveState(StateWriter& out) const;
  void RestoreState(StateReader& in);

 private:
  class Hooks : public ModelHooks {
   public:
    void ShowError(std::string_view message) override { ++counts[std::string(message)]; }
    std::map<std::string, long> counts;
  };
  class Buffer : public TextSink {
   public:
    explicit Buffer(std::string& text) : text_(text) {}
    void Append(std::string_view text) override { text_.append(text); }
    void Flush() override {}

   private:
    std::string& text_;
  };

  const SeriesPlan& plan_;
  bool trace_;
  long generation_ = 0;
  Hooks hooks_;
  std::unique_ptr<World> world_;
  DataRecorder recorder_;
  ReplicatePiece piece_;
  std::vector<GenotypeSample> samples_;  // until the last piece
  bool handOnSamples_ = false;
  std::size_t sampleBytes_ = 0;  // of piece_.samples
  Buffer buffer_{piece_.data};
  double startSeconds_ = 0;
};

class HeldText;

// Writes a series' data file (and trace) from pieces of replicates that
// arrive in any order: each replicate's record is written when all before
// it are, and marked complete once both files hold it. Thread-safe.
//
// The text of a replicate whose turn has not come is held until it has:
// up to `heldInMemory` bytes in memory, the rest in a temporary file that
// has no name and goes with the process (in $TMPDIR, else beside the data
// file, else in /tmp: a full or failing folder hands what it holds on to
// the next). So a series takes as much memory for a long replicate as for
// a short one. A pipe or device cannot be cut back: when either output is
// one, every replicate's text is held until the replicate is complete, so
// that a stream, like a file, only ever holds complete replicates.
class SeriesWriter {
 public:
  // Creates the files (as partial files) and writes the header; throws
  // FileError.
  SeriesWriter(const SeriesPlan& plan, const std::string& dataPath, const std::string& tracePath);
  // A series kept in memory: the data file's text goes to `data`, the
  // trace's (with its column heads) to `trace` when one is given, each
  // flushed after every complete record. Commit and Abandon do nothing;
  // dataFile() and traceFile() are for files only.
  SeriesWriter(const SeriesPlan& plan, TextSink& data, TextSink* trace);
  ~SeriesWriter();

  // Pieces of one replicate come in the order it made them; pieces of
  // different replicates in any order. Throws FileError.
  void Deliver(ReplicatePiece piece);
  long recordsWritten() const;
  bool Complete() const { return recordsWritten() == plan_.replicates; }
  // Both files complete, still under their working names; throws
  // FileError.
  void Close();
  // What Close() left to put in place: the trace, then the data file.
  std::vector<PendingFile> Files() const;
  // Close() and both files in place; throws FileError.
  void Commit();
  // Keeps both partial files with their complete records.
  void Abandon();

  const SeriesPlan& plan() const { return plan_; }
  const OutputFile& dataFile() const { return *data_; }
  const OutputFile* traceFile() const { return trace_.get(); }
  // Whether the replicates' census goes to a trace.
  bool traced() const { return trace_ != nullptr || traceSink_ != nullptr; }

  // Where the genotype samples of the pieces go as they arrive: from any
  // thread, before the writer's lock, in order within a replicate. Unset,
  // a replicate's samples are gathered and go with its record to
  // recordWritten, all at once.
  std::function<void(long replicate, std::vector<GenotypeSample>& samples)> samplesArrived;

  // Called for each record once it is written, in replicate order, with
  // the number of records now written. It runs under the writer's lock: it
  // may Commit() or Abandon(), but not call what locks (IsNext,
  // recordsWritten, Complete, Deliver).
  std::function<void(const ReplicatePiece&, long written)> recordWritten;

  // Bytes of held text kept in memory per replicate before it goes to a
  // temporary file.
  std::size_t heldInMemory = std::size_t{256} << 10;

  // Every replicate's text is held until the replicate is complete, also
  // for files: they then only ever grow by whole replicates, written at
  // once, and a process killed without warning leaves complete records.
  void HoldWholeReplicates() {
    std::lock_guard lock(mutex_);
    holdWhole_ = true;
  }

  // A stop: set, no further replicate is begun, and the long text of one
  // being written to files is cut back to the last complete record at
  // once (a stream gets the replicate whole). Set by the engines.
  const std::atomic<bool>* stop = nullptr;

 private:
  struct Held {
    ReplicatePiece piece;  // the fields of its last piece, and the text held in memory
    std::unique_ptr<HeldText> spilled;  // text from before it, when there was much
  };
  void HoldLocked(ReplicatePiece piece);
  void WriteWaitingLocked();
  void WriteLocked(ReplicatePiece& piece, HeldText* spilled = nullptr);
  bool StopSeen() const { return stop != nullptr && stop->load(); }
  void StopLocked();
  // The folder beside the data file, for held text when $TMPDIR fails.
  std::string heldBeside_;
  void WriteData(std::string_view text);
  void WriteTrace(std::string_view text);

  SeriesPlan plan_;
  DataRecorder format_;  // the header and the text of completed spans
  std::unique_ptr<OutputFile> data_;
  std::unique_ptr<OutputFile> trace_;
  TextSink* dataSink_ = nullptr;  // in memory, instead of the files
  TextSink* traceSink_ = nullptr;
  mutable std::mutex mutex_;
  long next_ = 1;
  bool holdWhole_ = false;  // an output is a pipe or device, or HoldWholeReplicates
  bool stopped_ = false;
  bool firstSpanWritten_ = false;
  SpanSums carry_;
  std::map<long, Held> waiting_;  // not yet their turn
  std::map<long, std::vector<GenotypeSample>> gathered_;  // samples of pieces before the last
};

// Replicates that may run at once, and the cores of this machine that the
// process may use (the default).
inline constexpr int kMaxJobs = 1024;
int AvailableCores();
// How many replicates may be taken ahead of the one whose record is due,
// for `workers` running at once: 2 x workers, fewer where the limit of open
// files would not hold as many held replicates.
long long HeldWindow(int workers);
// Files this process may still open (ulimit -n less those open).
long long DescriptorsFree();
// The number of jobs from text: a whole number from 1 to kMaxJobs.
std::optional<int> ReadJobs(std::string_view text);
// "allowed is a whole number from 1 to 1024"
std::string JobsAllowed();

// Stops a run at the end of the running generation when set.
using StopFlag = std::atomic<bool>;

struct RunOptions {
  int jobs = 1;
  const StopFlag* stop = nullptr;
  // Called about every `tickSeconds` on the calling thread while the run goes on.
  std::function<void()> tick;
  double tickSeconds = 0.25;
  // A replicate hands its text to the writer whenever it holds this much.
  std::size_t bufferLimit = std::size_t{64} << 10;
};

// Counters a run keeps for progress lines.
struct RunCounters {
  std::atomic<long long> generations{0};
};

// Runs every replicate of every series, series by series and replicate by
// replicate in order of taking, on `jobs` threads. Returns when all are
// written or a stop was seen; rethrows the first error of a worker (after
// stopping the others).
void RunSeriesInParallel(const std::vector<SeriesWriter*>& series, const RunOptions& options,
                         RunCounters* counters = nullptr);

}  // namespace talveron
