#include "run/parallel_series.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <thread>

#include "record/population_stats.h"
#include "record/vcf/spill_file.h"
#include "record/trace.h"
#include "run/series.h"
#include "run/settings_file.h"

namespace talveron {
namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool AveragesSomething(const RecordingChoices& choices) {
  return !choices.gGetTimedCriteria &&
         (choices.gGetAverageLeftHabitatTotal || choices.gGetAveragedLeftHabitatPreference ||
          choices.gGetAverageLeftHabitatSpecialization || choices.gGetAverageLeftHabitatMatingPreference);
}

// The header goes through a recorder, as in a series run in one piece.
class OutputSink : public TextSink {
 public:
  explicit OutputSink(OutputFile& file) : file_(file) {}
  void Append(std::string_view text) override { file_.Write(text); }
  void Flush() override {
    file_.Sync();
    file_.MarkComplete();
  }

 private:
  OutputFile& file_;
};

}  // namespace

// Text of a replicate held for its turn, spilled to a temporary file: data
// and trace text in the order they came, each a kind, a length and the
// bytes.
class HeldText {
 public:
  explicit HeldText(std::vector<std::string> folders) : file_(std::move(folders)) {}

  void Put(char kind, std::string_view text) {
    if (text.empty()) return;
    const std::uint64_t size = text.size();
    std::string entry(1, kind);
    entry.append(reinterpret_cast<const char*>(&size), sizeof size);
    entry.append(text);
    file_.Append(entry);
  }

  // Calls `take(kind, text)` for the text in order, a part at a time.
  template <typename Take>
  void Replay(Take take) {
    std::string part;
    for (std::uint64_t at = 0; at < file_.size();) {
      char kind = 0;
      std::uint64_t size = 0;
      file_.Read(at, &kind, 1);
      file_.Read(at + 1, &size, sizeof size);
      at += 1 + sizeof size;
      for (std::uint64_t done = 0; done < size;) {
        part.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size - done, kPart)));
        file_.Read(at, part.data(), part.size());
        at += part.size();
        done += part.size();
        take(kind, std::string_view(part));
      }
    }
  }

 private:
  static constexpr std::uint64_t kPart = 1 << 16;
  SpillFile file_;
};

constexpr char kHeldData = 'D';
constexpr char kHeldTrace = 'T';

// The environment switches after every generation whose number the period
// divides: floor(G / period) times a replicate. From 2 the first switch
// gives 0, then 1, 0, 1, ...: after t switches, 2 when t is 0, 0 when t is
// odd, 1 when it is even.
int ViabilityBefore(const SeriesPlan& plan, long replicate) {
  const unsigned long long perReplicate =
      static_cast<unsigned long long>(EnvironmentSwitches(plan.params, plan.changes, plan.generations));
  const unsigned long long earlier = static_cast<unsigned long long>(replicate - 1);
  if (perReplicate == 0 || earlier == 0) return 2;
  const bool odd = (perReplicate % 2 == 1) && (earlier % 2 == 1);
  return odd ? 0 : 1;
}

// Every generation of an averaging series counts once towards the span.
long SpanCountBefore(const SeriesPlan& plan, long replicate) {
  if (!AveragesSomething(plan.recording)) return 0;
  const unsigned __int128 generations =
      static_cast<unsigned __int128>(replicate - 1) * static_cast<unsigned __int128>(plan.generations);
  return static_cast<long>(generations % static_cast<unsigned __int128>(plan.recording.gAveragingSpan));
}

ReplicateRun::ReplicateRun(const SeriesPlan& plan, long replicate, bool trace)
    : plan_(plan), trace_(trace), world_(std::make_unique<World>(&hooks_)) {
  startSeconds_ = Now();
  piece_.replicate = replicate;
  piece_.seed = ReplicateSeed(plan.baseSeed, replicate);
  World& world = *world_;
  world.params = plan.params;
  world.gCurrentViability = ViabilityBefore(plan, replicate);
  recorder_.choices = plan.recording;
  recorder_.SetSink(&buffer_);
  recorder_.DetachFirstSpan(SpanCountBefore(plan, replicate));
  world.SeedRandom(piece_.seed);
  world.gGenerationNumber = 0;
  world.ClearIndividuals();
  world.InitPopulations();
}

void ReplicateRun::RunGeneration() {
  World& world = *world_;
  ++generation_;
  if (!plan_.changes.empty()) plan_.changes.ApplyAt(generation_, world.params);
  world.gGenerationNumber = static_cast<int>(generation_);
  talveron::RunGeneration(world, &recorder_);
  if (trace_) {
    piece_.trace += plan_.traceStats
                        ? TraceLinesWithStats(piece_.replicate, generation_, world.geneFrequencies, world.adults)
                        : TraceLines(piece_.replicate, generation_, world.geneFrequencies);
  }
  if (plan_.genotypes && IsSampledGeneration(generation_, plan_.sampleEvery, plan_.generations)) {
    if (handOnSamples_) {
      piece_.samples.push_back({generation_, world.adults});
      sampleBytes_ += world.adults.size() * sizeof(Individ);
    } else {
      samples_.push_back({generation_, world.adults});
    }
  }
  if (Done()) {
    if (!handOnSamples_) piece_.samples = std::move(samples_);
    world.gGenerationNumber = static_cast<int>(plan_.generations + 1);
    recorder_.WriteReplicateData();
    piece_.finished = true;
    piece_.lastSpan = recorder_.CurrentSpan();
    piece_.draws = world.rng.DrawCount();
    piece_.seconds = Now() - startSeconds_;
    piece_.messages = hooks_.counts;
  }
}

ReplicatePiece ReplicateRun::TakePiece() {
  recorder_.WriteStringToFile();
  piece_.firstSpanCompleted = recorder_.firstSpanCompleted();
  piece_.firstSpan = recorder_.firstSpan();
  ReplicatePiece piece = std::move(piece_);
  piece_ = ReplicatePiece{};
  sampleBytes_ = 0;
  piece_.replicate = piece.replicate;
  piece_.seed = piece.seed;
  return piece;
}

SeriesWriter::SeriesWriter(const SeriesPlan& plan, const std::string& dataPath, const std::string& tracePath)
    : plan_(plan) {
  format_.choices = plan.recording;
  data_ = std::make_unique<OutputFile>(dataPath);
  if (!tracePath.empty()) {
    trace_ = std::make_unique<OutputFile>(tracePath);
    trace_->Write(plan.traceStats ? TraceHeaderWithStats() : kTraceHeader);
    trace_->Sync();
    trace_->MarkComplete();
  }
  holdWhole_ = data_->direct() || (trace_ && trace_->direct());
  for (const OutputFile* file : {data_.get(), trace_.get()}) {
    if (file == nullptr || file->direct() || !heldBeside_.empty()) continue;
    heldBeside_ = std::filesystem::path(file->writtenPath()).parent_path().string();
    if (heldBeside_.empty()) heldBeside_ = ".";
  }
  OutputSink sink(*data_);
  format_.SetSink(&sink);
  format_.WriteInitialFields(plan.params, plan.replicates, plan.generations);
  format_.SetSink(nullptr);
}

SeriesWriter::SeriesWriter(const SeriesPlan& plan, TextSink& data, TextSink* trace)
    : plan_(plan), dataSink_(&data), traceSink_(trace) {
  format_.choices = plan.recording;
  if (traceSink_ != nullptr) {
    traceSink_->Append(plan.traceStats ? TraceHeaderWithStats() : kTraceHeader);
    traceSink_->Flush();
  }
  format_.SetSink(dataSink_);
  format_.WriteInitialFields(plan.params, plan.replicates, plan.generations);
  format_.SetSink(nullptr);
}

void SeriesWriter::WriteData(std::string_view text) {
  if (data_) {
    data_->Write(text);
  } else {
    dataSink_->Append(text);
  }
}

void SeriesWriter::WriteTrace(std::string_view text) {
  if (trace_) {
    trace_->Write(text);
  } else if (traceSink_ != nullptr) {
    traceSink_->Append(text);
  }
}

SeriesWriter::~SeriesWriter() = default;

long SeriesWriter::recordsWritten() const {
  std::lock_guard lock(mutex_);
  return next_ - 1;
}

void SeriesWriter::Deliver(ReplicatePiece piece) {
  if (samplesArrived && !piece.samples.empty()) {
    samplesArrived(piece.replicate, piece.samples);
    piece.samples.clear();
  }
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  const long replicate = piece.replicate;
  if (!piece.samples.empty() || gathered_.count(replicate) != 0) {
    std::vector<GenotypeSample>& gathered = gathered_[replicate];
    for (GenotypeSample& sample : piece.samples) gathered.push_back(std::move(sample));
    piece.samples.clear();
    if (piece.finished) {
      piece.samples = std::move(gathered);
      gathered_.erase(replicate);
    }
  }
  if (replicate != next_ || (holdWhole_ && (!piece.finished || waiting_.count(replicate) != 0))) {
    HoldLocked(std::move(piece));
    if (replicate != next_) return;
  } else {
    WriteLocked(piece);
  }
  WriteWaitingLocked();
}

// Held replicates whose turn has come, in order; for a stream only whole.
void SeriesWriter::WriteWaitingLocked() {
  for (auto found = waiting_.find(next_); found != waiting_.end(); found = waiting_.find(next_)) {
    if (holdWhole_ && !found->second.piece.finished) break;
    if (StopSeen()) {
      StopLocked();
      break;
    }
    Held held = std::move(found->second);
    waiting_.erase(found);
    WriteLocked(held.piece, held.spilled.get());
    if (stopped_ || !held.piece.finished) break;  // the rest comes from the replicate, now next
  }
}

// A stop while a held replicate is written: the files are cut back to the
// last complete record now, not once the text is out. A process that is
// killed soon after a stop (mpirun ends the ranks with SIGKILL shortly
// after SIGTERM) leaves files that end on a complete record.
void SeriesWriter::StopLocked() {
  stopped_ = true;
  if (!data_) return;
  data_->Abandon();
  if (trace_) trace_->Abandon();
}

// A later piece knows all an earlier one knew of the first span, the end
// and the messages: only the text adds up.
void SeriesWriter::HoldLocked(ReplicatePiece piece) {
  Held& held = waiting_[piece.replicate];
  held.piece.data += piece.data;
  held.piece.trace += piece.trace;
  piece.data = std::move(held.piece.data);
  piece.trace = std::move(held.piece.trace);
  held.piece = std::move(piece);
  if (held.piece.data.size() + held.piece.trace.size() <= heldInMemory) return;
  if (!held.spilled) {
    held.spilled = std::make_unique<HeldText>(SpillFile::Folders(heldBeside_));
  }
  held.spilled->Put(kHeldData, held.piece.data);
  held.spilled->Put(kHeldTrace, held.piece.trace);
  held.piece.data = std::string();
  held.piece.trace = std::string();
}

// The text of an averaging replicate starts with its first span, so text
// held before this piece follows the span's.
void SeriesWriter::WriteLocked(ReplicatePiece& piece, HeldText* spilled) {
  if (piece.firstSpanCompleted && !firstSpanWritten_) {
    SpanSums first = carry_;
    first += piece.firstSpan;
    WriteData(format_.SpanText(first));
    firstSpanWritten_ = true;
  }
  if (spilled != nullptr) {
    // Files can be cut back: a stop ends a long write between parts. A
    // stream gets the replicate whole.
    struct Stopped {};
    const bool stoppable = data_ && !data_->direct() && !(trace_ && trace_->direct());
    try {
      spilled->Replay([this, stoppable](char kind, std::string_view text) {
        if (stoppable && StopSeen()) throw Stopped{};
        if (kind == kHeldData) {
          WriteData(text);
        } else {
          WriteTrace(text);
        }
      });
    } catch (const Stopped&) {
      StopLocked();
      return;
    }
  }
  WriteData(piece.data);
  WriteTrace(piece.trace);
  if (!piece.finished) return;

  if (firstSpanWritten_) {
    carry_ = piece.lastSpan;
  } else {
    // The whole replicate fell inside one span begun before it.
    const long count = piece.lastSpan.count;
    carry_ += piece.lastSpan;
    carry_.count = count;
  }
  // A record counts only once both files hold it.
  if (data_) {
    data_->Sync();
    if (trace_) trace_->Sync();
    OutputFile::MarkTogether({data_.get(), trace_.get()});
  } else {
    dataSink_->Flush();
    if (traceSink_ != nullptr) traceSink_->Flush();
  }
  ++next_;
  firstSpanWritten_ = false;
  if (recordWritten) recordWritten(piece, next_ - 1);
}

// Both files are closed before either takes its final name, so a failure
// to write out leaves both old files in place.
void SeriesWriter::Close() {
  if (!data_) return;
  data_->Close();
  if (trace_) trace_->Close();
}

std::vector<PendingFile> SeriesWriter::Files() const {
  std::vector<PendingFile> files;
  for (const OutputFile* file : {trace_.get(), data_.get()}) {
    if (file != nullptr && !file->direct()) files.push_back(file->Pending());
  }
  return files;
}

void SeriesWriter::Commit() {
  if (!data_) return;
  Close();
  PutInPlace(Files());
}

void SeriesWriter::Abandon() {
  if (!data_) return;
  data_->Abandon();
  if (trace_) trace_->Abandon();
}

int AvailableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? static_cast<int>(cores) : 1;
}

// Each replicate held for its turn may keep a file open: the window also
// leaves room under the limit of open files (ulimit -n), so that a run
// waits for its slow replicate instead of failing.
long long DescriptorsFree() {
  rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1LL << 30;
  long long open = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator entry("/proc/self/fd", error), end; !error && entry != end;
       entry.increment(error)) {
    ++open;
  }
  return std::max(static_cast<long long>(limit.rlim_cur) - open, 0LL);
}

long long HeldWindow(int workers) {
  // Room for a few files more and the libraries' own.
  const long long room = DescriptorsFree() - 32;
  return std::min(2LL * std::max(workers, 1), std::max(room / 2, 2LL));
}

std::optional<int> ReadJobs(std::string_view text) { return ReadWholeNumber<int>(text, 1, kMaxJobs); }

std::string JobsAllowed() { return "allowed is a whole number from 1 to " + std::to_string(kMaxJobs); }

void RunSeriesInParallel(const std::vector<SeriesWriter*>& series, const RunOptions& options,
                         RunCounters* counters) {
  std::vector<long long> firstTask;  // index of each series' replicate 1
  long long total = 0;
  for (const SeriesWriter* writer : series) {
    firstTask.push_back(total);
    total += writer->plan().replicates;
  }

  std::mutex mutex;
  std::condition_variable changed;
  long long nextTask = 0;
  int running = 0;
  std::exception_ptr failure;
  std::atomic<bool> failed{false};
  auto stopped = [&] { return failed.load() || (options.stop != nullptr && options.stop->load()); };
  auto written = [&] {
    long long count = 0;
    for (const SeriesWriter* writer : series) count += writer->recordsWritten();
    return count;
  };
  // Replicates taken but not yet written stay within a window, so a slow
  // replicate does not leave an ever longer queue of finished ones behind it.
  const long long window = HeldWindow(options.jobs);
  for (SeriesWriter* writer : series) writer->stop = options.stop;

  auto work = [&] {
    try {
      for (;;) {
        long long task = 0;
        {
          std::unique_lock lock(mutex);
          while (!stopped() && nextTask < total && nextTask - written() >= window) {
            changed.wait_for(lock, std::chrono::milliseconds(20));
          }
          if (stopped() || nextTask >= total) break;
          task = nextTask++;
        }
        std::size_t s = firstTask.size() - 1;
        while (firstTask[s] > task) --s;
        SeriesWriter& writer = *series[s];
        const long replicate = static_cast<long>(task - firstTask[s]) + 1;
        ReplicateRun run(writer.plan(), replicate, writer.traced());
        run.HandOnSamples();
        while (!run.Done()) {
          if (stopped()) break;
          run.RunGeneration();
          if (counters != nullptr) ++counters->generations;
          // Written at once when its turn has come, else held for it.
          if (run.BufferedBytes() > options.bufferLimit && !run.Done()) writer.Deliver(run.TakePiece());
        }
        if (!run.Done()) break;
        writer.Deliver(run.TakePiece());
        changed.notify_all();
      }
    } catch (...) {
      std::lock_guard lock(mutex);
      if (!failure) failure = std::current_exception();
      failed = true;
    }
    std::lock_guard lock(mutex);
    --running;
    changed.notify_all();
  };

  std::vector<std::thread> threads;
  running = options.jobs;
  for (int j = 0; j < options.jobs; ++j) threads.emplace_back(work);
  {
    std::unique_lock lock(mutex);
    while (running > 0) {
      changed.wait_for(lock, std::chrono::duration<double>(options.tickSeconds));
      if (running > 0 && options.tick) {
        lock.unlock();
        options.tick();
        lock.lock();
      }
    }
  }
  for (std::thread& thread : threads) thread.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace talveron
