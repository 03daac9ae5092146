// The binding of the Python package: the run library and the model,
// reached from Python. Everything a result is made of comes from the same
// code as the batch command's; this file only converts between the two
// languages, releases the interpreter while replicates run, reports
// progress, and turns Ctrl+C into a stop at the end of the running
// generation that keeps every complete record.
//
// Objects that Python may share between threads (Simulation, StudyFolder)
// hold an ObjectLock: every method takes it first, and while it is held no
// other thread touches the object, whether or not the interpreter is
// released. A method added later takes it the same way:
//
//   .def("name", Locked(&Simulation::Name))
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "model/fatal_error.h"
#include "model/individual.h"
#include "model/parameters.h"
#include "model/version.h"
#include "record/genotype_sample.h"
#include "record/genotype_vcf_text.h"
#include "record/output_file.h"
#include "record/trace.h"
#include "record/vcf/genotype_output.h"
#include "run/parallel_series.h"
#include "run/replicate_state.h"
#include "run/settings_file.h"
#include "run/study.h"
#include "run/study_directory.h"
#include "run/study_run.h"

namespace py = pybind11;

namespace talveron::python {
void RegisterScenarios(py::module_& m);  // scenarios_binding.cpp
namespace {

constexpr int kTraceColumns = 13;  // replicate, generation, habitat and the ten counts

// The adults are handed to numpy record by record, as they lie in memory.
static_assert(sizeof(Individ) == 21, "the numpy record of an individual must match Individ");
static_assert(offsetof(Individ, generalViability) == 10 && offsetof(Individ, neutralGenes) == 11,
              "the numpy record of an individual must match Individ");

// Raised as ValueError: the value and what is allowed.
[[noreturn]] void Refuse(const std::string& message) { throw py::value_error(message); }

// --- one thread at a time per object -----------------------------------------------

// The lock of an object that Python may share between threads. It is taken
// with the interpreter released, so that a thread waiting for it never
// holds the interpreter that the holder needs (to look at Ctrl+C, to build
// its results). A method called again from the thread that holds it (from
// a signal handler that runs while the object works) is refused: the
// object is in the middle of a change.
class ObjectLock {
 public:
  class Held {
   public:
    explicit Held(ObjectLock& lock) : lock_(lock) {
      if (lock_.owner_.load() == std::this_thread::get_id()) {
        throw std::runtime_error("the object is busy in this thread (called from within one of its own calls)");
      }
      if (!lock_.mutex_.try_lock()) {
        py::gil_scoped_release release;
        lock_.mutex_.lock();
      }
      lock_.owner_.store(std::this_thread::get_id());
    }
    ~Held() {
      lock_.owner_.store(std::thread::id());
      lock_.mutex_.unlock();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    ObjectLock& lock_;
  };

 private:
  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
};

// A member function of a class with a `lock_` member, wrapped to run under
// that lock.
template <typename Class, typename Result, typename... Args>
auto Locked(Result (Class::*method)(Args...)) {
  return [method](Class& self, Args... args) -> Result {
    ObjectLock::Held held(self.lock_);
    return (self.*method)(std::forward<Args>(args)...);
  };
}
template <typename Class, typename Result, typename... Args>
auto Locked(Result (Class::*method)(Args...) const) {
  return [method](const Class& self, Args... args) -> Result {
    ObjectLock::Held held(self.lock_);
    return (self.*method)(std::forward<Args>(args)...);
  };
}

// --- settings ----------------------------------------------------------------------

// A series' settings as the package gives them: every value as text, read
// by the same functions as the batch command's options.
SeriesPlan MakePlan(const std::string& seed, const std::string& replicates, const std::string& generations,
                    const std::string& record, const std::string& span,
                    const std::vector<std::pair<std::string, std::string>>& parameters) {
  SeriesPlan plan;
  const auto seedValue = ReadSeed(seed);
  if (!seedValue) Refuse("seed=" + seed + ": " + kSeedAllowed);
  plan.baseSeed = *seedValue;
  const auto replicatesValue = ReadCount(replicates);
  if (!replicatesValue) Refuse("replicates=" + replicates + ": " + kCountAllowed);
  plan.replicates = *replicatesValue;
  const auto generationsValue = ReadCount(generations);
  if (!generationsValue) Refuse("generations=" + generations + ": " + kCountAllowed);
  plan.generations = *generationsValue;
  const auto spanValue = ReadCount(span);
  if (!spanValue) Refuse("span=" + span + ": " + kCountAllowed);
  plan.recording.gAveragingSpan = *spanValue;
  if (!ApplyRecordName(record, plan.recording)) Refuse("record='" + record + "': allowed are " + kRecordNames);
  for (const auto& [name, text] : parameters) {
    if (auto error = SetParameter(plan.params, name, text)) Refuse(*error);
  }
  return plan;
}

// A plan as the package's keywords: seed, replicates, generations, record,
// span and every parameter as text that reads back to the same value. It
// travels to other processes (an executor's workers) as it is.
py::dict PlanSettings(const SeriesPlan& plan) {
  py::dict settings;
  settings["seed"] = std::to_string(plan.baseSeed);
  settings["replicates"] = std::to_string(plan.replicates);
  settings["generations"] = std::to_string(plan.generations);
  settings["record"] = RecordName(plan.recording);
  settings["span"] = std::to_string(plan.recording.gAveragingSpan);
  py::list parameters;
  for (const ParameterInfo& info : ParameterTable()) {
    parameters.append(py::make_tuple(std::string(info.name), FormatParameter(plan.params, info)));
  }
  settings["parameters"] = parameters;
  py::list changes;
  for (const ParameterChange& change : plan.changes.changes()) {
    changes.append(py::make_tuple(change.generation, ChangedValues(change)));
  }
  settings["changes"] = changes;
  settings["stats"] = plan.traceStats;
  return settings;
}

int Jobs(const std::string& jobs) {
  if (jobs.empty()) return AvailableCores();
  const auto value = ReadJobs(jobs);
  if (!value) Refuse("jobs=" + jobs + ": " + JobsAllowed());
  return *value;
}

// --- running with the interpreter released ------------------------------------------

// While a run goes on with the interpreter released, the calling thread
// comes back a few times a second: it looks at Python's signals and hands
// the progress to `progress` (a callable taking the generations run, or
// None). When a signal handler raises (Ctrl+C) or the callable does, the
// run is asked to stop at the end of the running generation and the
// exception is kept for the caller, who decides what to hand back with it.
class Ticker {
 public:
  explicit Ticker(py::object progress = py::none()) : progress_(std::move(progress)) {}
  ~Ticker() {
    // The callable is Python's: dropped with the interpreter held.
    py::gil_scoped_acquire acquire;
    progress_ = py::none();
  }

  void Tick() {
    if (pending_) return;
    py::gil_scoped_acquire acquire;
    if (PyErr_CheckSignals() != 0) {
      Keep();
      return;
    }
    if (!progress_.is_none()) {
      try {
        progress_(counters_.generations.load());
      } catch (py::error_already_set& error) {
        error.restore();
        Keep();
      }
    }
  }
  void Apply(RunOptions& options) {
    options.stop = &stop_;
    options.tickSeconds = 0.1;
    options.tick = [this] { Tick(); };
  }
  RunCounters& counters() { return counters_; }
  StopFlag& flag() { return stop_; }
  bool stopped() const { return stop_.load(); }
  // With the interpreter held: the exception that stopped the run (taken
  // from the ticker), or None.
  py::object TakePending() {
    if (!pending_) return py::none();
    py::object value = pending_->value();
    pending_.reset();
    return value;
  }
  // With the interpreter held: raises the exception that stopped the run.
  void RaiseIfPending() {
    if (pending_) {
      pending_->restore();
      pending_.reset();
      throw py::error_already_set();
    }
  }

 private:
  void Keep() {
    pending_ = std::make_unique<py::error_already_set>();
    stop_ = true;
  }
  py::object progress_;
  StopFlag stop_{false};
  RunCounters counters_;
  std::unique_ptr<py::error_already_set> pending_;
};

// Runs `work` with the interpreter released. Reads nothing of Python's
// while released: `work` gets its inputs as C++ values.
template <typename Work>
void RunReleased(Work&& work) {
  std::exception_ptr failure;
  {
    py::gil_scoped_release release;
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

// --- a series ----------------------------------------------------------------------

// The text of a data file (or trace) kept whole, and how much of it is
// complete records: the writer flushes after each.
class TextBuffer : public TextSink {
 public:
  void Append(std::string_view text) override { text_.append(text); }
  void Flush() override { complete_ = text_.size(); }
  // Everything so far is complete (the header).
  void MarkComplete() { complete_ = text_.size(); }
  std::string Complete() && {
    text_.resize(complete_);
    return std::move(text_);
  }

 private:
  std::string text_;
  std::size_t complete_ = 0;
};

// The trace's lines read into rows of numbers as they arrive, in order:
// the trace is held once, as the array that becomes the DataFrame.
class TraceRows : public TextSink {
 public:
  void Append(std::string_view text) override {
    partial_.append(text);
    std::size_t start = 0;
    for (std::size_t end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n', start)) {
      Line(std::string_view(partial_).substr(start, end - start));
      start = end + 1;
    }
    partial_.erase(0, start);
  }
  void Flush() override { complete_ = values.size(); }
  std::vector<std::int32_t> Complete() && {
    values.resize(complete_);
    return std::move(values);
  }
  std::vector<std::int32_t> values;

 private:
  void Line(std::string_view line) {
    if (!headerSeen_) {
      headerSeen_ = true;
      return;
    }
    const char* p = line.data();
    const char* end = p + line.size();
    for (int column = 0; column < kTraceColumns; ++column) {
      std::int32_t value = 0;
      while (p < end && *p >= '0' && *p <= '9') value = value * 10 + (*p++ - '0');
      values.push_back(value);
      if (p < end) ++p;  // the tab
    }
  }
  std::string partial_;
  bool headerSeen_ = false;
  std::size_t complete_ = 0;
};

// A vector handed to numpy without a copy: the array owns it.
py::array_t<std::int32_t> RowsArray(std::vector<std::int32_t>&& values, py::ssize_t columns) {
  auto* owned = new std::vector<std::int32_t>(std::move(values));
  py::capsule free(owned, [](void* p) { delete static_cast<std::vector<std::int32_t>*>(p); });
  const py::ssize_t rows = static_cast<py::ssize_t>(owned->size()) / columns;
  return py::array_t<std::int32_t>({rows, columns}, {columns * static_cast<py::ssize_t>(sizeof(std::int32_t)),
                                                     static_cast<py::ssize_t>(sizeof(std::int32_t))},
                                   owned->data(), free);
}

// The trace of a series: none, rows of numbers, or the file's text.
enum class TraceForm { None, Rows, Text };

// Runs a series in memory. Returns (data file, trace, records, stop): the
// data file's bytes and the trace (an int32 array of 13 columns, or its
// text as bytes) hold every complete record, `records` of them; `stop` is
// the exception that stopped the series early (Ctrl+C), or None.
// The genotype samples of a series' records as Python takes them: a list
// of (replicate, generation, adults as a uint8 array of one row each).
py::list SampleList(const std::vector<std::pair<long, std::vector<GenotypeSample>>>& samples) {
  py::list list;
  for (const auto& [replicate, taken] : samples) {
    for (const GenotypeSample& sample : taken) {
      py::array_t<std::uint8_t> bytes(
          {static_cast<py::ssize_t>(sample.adults.size()), static_cast<py::ssize_t>(sizeof(Individ))});
      if (!sample.adults.empty()) {
        std::memcpy(bytes.mutable_data(), sample.adults.data(), sample.adults.size() * sizeof(Individ));
      }
      list.append(py::make_tuple(replicate, sample.generation, bytes));
    }
  }
  return list;
}

// The samples of a series as SampleList gives them, back as each
// replicate's samples in the order given; every replicate of 1..replicates
// must have some.
std::vector<std::vector<GenotypeSample>> SamplesByReplicate(const py::object& samples, long replicates,
                                                            const std::string& where) {
  std::vector<std::vector<GenotypeSample>> byReplicate(static_cast<std::size_t>(replicates));
  for (const py::handle item : samples) {
    const auto entry = py::cast<py::tuple>(item);
    if (entry.size() != 3) Refuse(where + "each is (replicate, generation, adults) as run_series gives them");
    const long replicate = py::cast<long>(entry[0]);
    if (replicate < 1 || replicate > replicates) {
      Refuse(where + "replicate " + std::to_string(replicate) + ": allowed is 1 to " + std::to_string(replicates));
    }
    const auto adults = py::cast<py::array_t<std::uint8_t, py::array::c_style | py::array::forcecast>>(entry[2]);
    if (adults.ndim() != 2 || adults.shape(1) != static_cast<py::ssize_t>(sizeof(Individ))) {
      Refuse(where + "the adults must be rows of " + std::to_string(sizeof(Individ)) + " bytes, as run_series gives them");
    }
    GenotypeSample sample;
    sample.generation = py::cast<long>(entry[1]);
    sample.adults.resize(static_cast<std::size_t>(adults.shape(0)));
    if (!sample.adults.empty()) std::memcpy(sample.adults.data(), adults.data(), sample.adults.size() * sizeof(Individ));
    byReplicate[static_cast<std::size_t>(replicate - 1)].push_back(std::move(sample));
  }
  return byReplicate;
}

// Genotype samples as talveron-batch --genotypes writes them: FILE.vcf.gz
// (FILE-rK.vcf.gz for each replicate of several) with its index, for every
// replicate that has samples, and FILE.samples.tsv and the lists of
// samples beside them; their headers name `parameters` and `changes` (as
// Plan.settings() gives them). Returns the paths written.
std::vector<std::string> SaveGenotypes(
    const std::string& path, long replicates, const py::object& samples,
    const std::vector<std::pair<std::string, std::string>>& parameters,
    const std::vector<std::pair<long long, std::vector<std::pair<std::string, std::string>>>>& changes) {
  const std::string suffix = ".vcf.gz";
  if (path.size() <= suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
    Refuse("path='" + path + "': the genotype file's name ends in .vcf.gz (bgzip-compressed VCF)");
  }
  if (replicates < 1) Refuse("replicates=" + std::to_string(replicates) + ": " + kCountAllowed);
  const auto byReplicate = SamplesByReplicate(samples, replicates, "save_genotypes: samples: ");
  GenotypeSettings settings;
  for (const auto& [name, text] : parameters) {
    if (auto error = SetParameter(settings.params, name, text)) Refuse("save_genotypes: " + *error);
  }
  for (const auto& [generation, values] : changes) {
    for (const auto& [name, text] : values) {
      if (auto error = settings.changes.Add(generation, name, text)) Refuse("save_genotypes: " + *error);
    }
  }
  std::vector<std::string> written;
  RunReleased([&] {
    GenotypeOutput output(path, replicates, settings);
    try {
      for (long k = 1; k <= replicates; ++k) {
        const auto& taken = byReplicate[static_cast<std::size_t>(k - 1)];
        if (taken.empty()) continue;
        output.Write(k, taken);
        written.push_back(GenotypeFilePath(path, k, replicates));
        written.push_back(written.back() + ".tbi");
      }
      output.Commit();
    } catch (...) {
      output.Abandon();
      throw;
    }
    written.push_back(output.tablePath());
    for (const std::string& list : output.listPaths()) written.push_back(list);
  });
  return written;
}

py::tuple RunSeries(const SeriesPlan& plan, TraceForm trace, const std::string& jobs, py::object progress,
                    py::object samples) {
  RunOptions options;
  options.jobs = Jobs(jobs);
  Ticker ticker(std::move(progress));
  ticker.Apply(options);
  TextBuffer data;
  TraceRows rows;
  TextBuffer traceText;
  TextSink* traceSink = trace == TraceForm::Rows ? static_cast<TextSink*>(&rows)
                        : trace == TraceForm::Text ? static_cast<TextSink*>(&traceText)
                                                   : nullptr;
  if (trace == TraceForm::Rows) {
    // Room for the whole trace at once, where that is a sensible size.
    const double values = 2.0 * kTraceColumns * static_cast<double>(plan.replicates) *
                          static_cast<double>(plan.generations);
    if (values <= double(1 << 28)) rows.values.reserve(static_cast<std::size_t>(values));
  }
  SeriesWriter writer(plan, data, traceSink);
  data.MarkComplete();
  traceText.MarkComplete();
  // The samples of each record written, so that a stopped series gives
  // those of its complete records.
  std::vector<std::pair<long, std::vector<GenotypeSample>>> taken;
  if (plan.genotypes && !samples.is_none()) {
    writer.recordWritten = [&](const ReplicatePiece& piece, long) { taken.emplace_back(piece.replicate, piece.samples); };
  }
  RunReleased([&] { RunSeriesInParallel({&writer}, options, &ticker.counters()); });
  py::object stop = ticker.TakePending();
  if (!taken.empty()) samples.attr("extend")(SampleList(taken));
  py::object traceResult = py::none();
  if (trace == TraceForm::Rows) traceResult = RowsArray(std::move(rows).Complete(), kTraceColumns);
  if (trace == TraceForm::Text) traceResult = py::bytes(std::move(traceText).Complete());
  return py::make_tuple(py::bytes(std::move(data).Complete()), traceResult, writer.recordsWritten(), stop);
}

// Files written together, as the batch command writes a series: each
// beside its name until all are complete, then put in place; on a failure
// the old files stay as they were.
class FilesTogether {
 public:
  explicit FilesTogether(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) files_.push_back(std::make_unique<OutputFile>(path));
  }
  ~FilesTogether() {
    if (!committed_) {
      for (auto& file : files_) file->Abandon();
    }
  }
  OutputFile& operator[](std::size_t i) { return *files_[i]; }
  void Commit() {
    // All are closed before any takes its name.
    for (auto& file : files_) file->Close();
    for (auto& file : files_) file->Commit();
    committed_ = true;
  }

 private:
  std::vector<std::unique_ptr<OutputFile>> files_;
  bool committed_ = false;
};

// The data file and the trace of a series, as the batch command writes
// them: beside their names until both are complete, then put in place.
void SaveSeries(const std::string& dataPath, const std::string& data, const std::string& tracePath,
                const py::object& trace) {
  std::vector<std::string> paths = {dataPath};
  if (!tracePath.empty()) paths.push_back(tracePath);
  if (const std::string collision = OutputCollision(paths); !collision.empty()) {
    Refuse("save: " + collision + "; give each its own file");
  }
  py::array_t<std::int32_t, py::array::c_style> rows;
  if (!tracePath.empty()) rows = py::array_t<std::int32_t, py::array::c_style>::ensure(trace);
  if (!tracePath.empty() && (!rows || rows.ndim() != 2 || rows.shape(1) != kTraceColumns)) {
    Refuse("save: the trace must have the trace's 13 columns");
  }
  const std::int32_t* row = tracePath.empty() ? nullptr : rows.data();
  const py::ssize_t rowCount = tracePath.empty() ? 0 : rows.shape(0);
  RunReleased([&] {
    FilesTogether files(paths);
    files[0].Write(data);
    if (row != nullptr) {
      files[1].Write(kTraceHeader);
      std::string text;
      for (py::ssize_t r = 0; r < rowCount; ++r, row += kTraceColumns) {
        TraceCounts counts{};
        std::copy(row + 3, row + kTraceColumns, counts.begin());
        text += TraceLine(row[0], row[1], row[2], counts);
        if (text.size() > (1 << 20)) {
          files[1].Write(text);
          text.clear();
        }
      }
      files[1].Write(text);
    }
    files.Commit();
  });
}

// --- one replicate -----------------------------------------------------------------

// The census of both habitats, as the trace's two lines.
std::vector<std::int32_t> CensusRows(long generation, const GeneFrequencies& frequencies) {
  std::vector<std::int32_t> values;
  for (int habitat = 0; habitat < 2; ++habitat) {
    values.push_back(1);
    values.push_back(static_cast<std::int32_t>(generation));
    values.push_back(habitat);
    for (const int count : TraceCountsOf(frequencies, habitat)) values.push_back(count);
  }
  return values;
}

// One replicate, generation by generation: replicate 1 of a series. The
// run underneath is planned one generation longer than the replicate, so
// that its record is never closed and the criteria stay to be read at the
// end; no generation depends on how many follow it.
class Simulation {
 public:
  explicit Simulation(const SeriesPlan& plan) : plan_(plan), runPlan_(Longer(plan)), run_(runPlan_, 1, false) {}

  // Returns (generations run, stop): `stop` is the exception that ended
  // the steps early (Ctrl+C), or None.
  py::tuple Step(long generations) {
    if (generations < 0) Refuse("step(" + std::to_string(generations) + "): allowed is a whole number from 0");
    const long todo = std::min(generations, plan_.generations - run_.generation());
    Ticker ticker;
    long done = 0;
    RunReleased([&] {
      auto last = std::chrono::steady_clock::now();
      for (; done < todo && !ticker.stopped(); ++done) {
        run_.RunGeneration();
        if (const auto now = std::chrono::steady_clock::now(); now - last > std::chrono::milliseconds(100)) {
          last = now;
          ticker.Tick();
        }
      }
    });
    return py::make_tuple(done, ticker.TakePending());
  }

  // Parameters set between generations: from the next generation on, as
  // a scheduled change at it would be.
  void Set(const std::vector<std::pair<std::string, std::string>>& parameters) {
    Parameters changed = run_.parameters();
    for (const auto& [name, text] : parameters) {
      if (auto reason = UnchangeableReason(name)) Refuse("set(): " + name + " cannot change during a replicate: it " + *reason);
      if (auto error = SetParameter(changed, name, text)) Refuse(*error);
    }
    run_.parameters() = changed;
  }

  void Reseed(std::uint64_t seed) { run_.Reseed(seed); }

  // The parameters in force, as NAME and text that reads back to the value.
  std::vector<std::pair<std::string, std::string>> ParameterTexts() const {
    std::vector<std::pair<std::string, std::string>> values;
    for (const ParameterInfo& info : ParameterTable()) {
      values.emplace_back(std::string(info.name), FormatParameter(run_.world().params, info));
    }
    return values;
  }

  // The whole state where it stands, sealed as a "Simulation": the plan,
  // then the run with its world and generator (run/replicate_state.h).
  py::bytes State() const {
    StateWriter out;
    WritePlan(out, plan_);
    run_.SaveState(out);
    return py::bytes(SealState("Simulation", out.bytes()));
  }

  // A Simulation where the state saved by State() stood, nothing run
  // again; StateError (ValueError) naming `source` when the bytes are not
  // a whole state of this version.
  static std::unique_ptr<Simulation> FromState(const std::string& sealed, const std::string& source) {
    StateReader in(OpenState(sealed, "Simulation", source), source);
    auto simulation = std::make_unique<Simulation>(ReadPlan(in));
    simulation->run_.RestoreState(in);
    in.ExpectEnd();
    return simulation;
  }

  long generation() const { return run_.generation(); }
  long generations() const { return plan_.generations; }
  bool done() const { return run_.generation() >= plan_.generations; }
  std::uint64_t seed() const { return plan_.baseSeed; }

  // The trace's two lines of the current generation; before the first, the
  // founders'.
  py::array_t<std::int32_t> Census() const {
    const World& world = run_.world();
    if (run_.generation() > 0) return RowsArray(CensusRows(run_.generation(), world.geneFrequencies), kTraceColumns);
    GeneFrequencies founders;
    for (const Individ& adult : world.adults) {
      ++founders.count[adult.habitat][adult.habitatSpec][adult.habitatPref][adult.matingPrefType];
    }
    return RowsArray(CensusRows(0, founders), kTraceColumns);
  }

  py::array_t<std::uint8_t> Adults() const {
    const std::vector<Individ>& adults = run_.world().adults;
    py::array_t<std::uint8_t> bytes({static_cast<py::ssize_t>(adults.size()), static_cast<py::ssize_t>(sizeof(Individ))});
    if (!adults.empty()) std::memcpy(bytes.mutable_data(), adults.data(), adults.size() * sizeof(Individ));
    return bytes;
  }

  py::dict Criteria() const {
    const DataRecorder& recorder = run_.recorder();
    const long met[5] = {recorder.gGenerationWithHabitatPreferences50, recorder.gGenerationWithHabitatSpecialization50,
                         recorder.gGenerationWithHabitatSpecialization95, recorder.gGenerationWithMatingPreference50,
                         recorder.gGenerationWithMatingPreference95};
    py::dict criteria;
    const char* names[5] = {"A", "B", "C", "D", "E"};
    for (int c = 0; c < 5; ++c) {
      criteria[names[c]] = met[c] == 0 ? py::object(py::none()) : py::object(py::int_(met[c]));
    }
    return criteria;
  }

  mutable ObjectLock lock_;

 private:
  static SeriesPlan Longer(SeriesPlan plan) {
    ++plan.generations;
    return plan;
  }
  SeriesPlan plan_;
  SeriesPlan runPlan_;
  ReplicateRun run_;
};

// --- a study -----------------------------------------------------------------------

// A study's folder, open for running: every cell's series into it, as
// talveron-batch --study runs it, here (Run) or, cell by cell, elsewhere
// (CellSettings, then WriteCell with what the cell's series gave).
class StudyFolder {
 public:
  StudyFolder(const std::string& text, const std::string& name, const std::string& outDir, bool resume,
              const std::string& description) {
    SettingsFile file;
    try {
      file = ParseSettingsText(text, name);
    } catch (const SettingsFileError& error) {
      Refuse(error.what());
    }
    if (file.vary.empty()) Refuse(name + ": a study needs a [vary] table of lists (for one series, use run_series)");
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto clockSeed =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    try {
      RunReleased([&] {
        study_ = std::make_unique<StudyDirectory>(
            outDir, file, clockSeed, resume,
            StudyIdentity{"talveron (Python)", std::string(kTalveronVersion), description, name});
      });
    } catch (const StudyError& error) {
      Refuse(error.what());
    } catch (const OutputBusy& busy) {
      const std::string message = "out_dir='" + outDir + "' is being written by " + busy.holder() +
                                  "; wait for it to end before resuming, or choose another folder";
      PyErr_SetString(PyExc_BlockingIOError, message.c_str());
      throw py::error_already_set();
    }
  }

  std::uint64_t seed() const { return Open().plan().seed; }
  std::string record() const { return RecordName(Open().plan().file.settings.recording); }
  std::vector<std::string> axes() const {
    std::vector<std::string> names;
    for (const StudyAxis& axis : Open().plan().file.vary) names.push_back(axis.name);
    return names;
  }
  // Per cell: number, varied values, base seed, data file's and trace's
  // names, each replicate's genotype file and the samples table (none and
  // "" when the cell samples no genotypes).
  py::list Cells() const {
    py::list cells;
    for (const StudyCell& cell : Open().plan().cells) {
      std::vector<std::string> genotypes;
      if (!cell.genotypesName.empty()) {
        for (long k = 1; k <= cell.plan.replicates; ++k) genotypes.push_back(CellGenotypeFile(cell, k));
      }
      cells.append(py::make_tuple(cell.number, cell.values, cell.plan.baseSeed, cell.dataName, cell.traceName,
                                  genotypes, cell.samplesName));
    }
    return cells;
  }
  bool CellComplete(long cell) const { return Open().CellComplete(Cell(cell).number); }

  // Runs every cell not complete yet on `jobs` threads. Returns the
  // exception that stopped it early (Ctrl+C), or None; the manifest says
  // "complete", "stopped" or "failed".
  py::object Run(const std::string& jobs, py::object progress) {
    RunOptions options;
    options.jobs = Jobs(jobs);
    Ticker ticker(std::move(progress));
    ticker.Apply(options);
    RunReleased([&] {
      bool complete = false;
      try {
        complete = RunStudyCells(Open(), options, {}, &ticker.counters());
      } catch (...) {
        Finish("failed");
        throw;
      }
      Finish(complete ? "complete" : "stopped");
    });
    return ticker.TakePending();
  }

  // What a cell's series needs, as run_series' keywords (see PlanSettings),
  // and whether it keeps a trace.
  py::dict CellSettings(long cell) const {
    const StudyCell& found = Cell(cell);
    py::dict settings = PlanSettings(found.plan);
    settings["trace"] = !found.traceName.empty();
    // Which generations are sampled: None for none, 0 for the last only.
    settings["sample_every"] = found.samplesName.empty() ? py::object(py::none()) : py::int_(found.plan.sampleEvery);
    return settings;
  }

  // A cell's series run elsewhere: its data file and trace (text), and
  // for a cell that samples genotypes the samples its series gave (as
  // run_series hands them out), written into the folder as its own run
  // would have written them, and the cell marked complete.
  void WriteCell(long cell, const std::string& data, const std::string& trace, double seconds,
                 const py::object& samples) {
    const StudyCell& found = Cell(cell);
    if (Open().CellComplete(found.number)) Refuse("cell " + std::to_string(cell) + " is complete already");
    std::vector<std::vector<GenotypeSample>> byReplicate;
    if (!found.samplesName.empty()) {
      if (samples.is_none()) {
        Refuse("cell " + std::to_string(cell) + " samples genotypes: write_cell needs the samples of its series");
      }
      const std::string where = "write_cell(" + std::to_string(cell) + "): samples: ";
      byReplicate = SamplesByReplicate(samples, found.plan.replicates, where);
      for (long k = 1; k <= found.plan.replicates; ++k) {
        if (byReplicate[static_cast<std::size_t>(k - 1)].empty()) Refuse(where + "none of replicate " + std::to_string(k));
      }
    }
    RunReleased([&] {
      std::vector<std::string> paths = {Open().PathOf(found.dataName)};
      if (!found.traceName.empty()) paths.push_back(Open().PathOf(found.traceName));
      FilesTogether files(paths);
      std::unique_ptr<CellGenotypes> genotypes;
      try {
        if (!found.samplesName.empty()) {
          genotypes = std::make_unique<CellGenotypes>(Open(), found);
          for (long k = 1; k <= found.plan.replicates; ++k) {
            genotypes->Write(k, byReplicate[static_cast<std::size_t>(k - 1)]);
          }
        }
        files[0].Write(data);
        if (!found.traceName.empty()) files[1].Write(trace);
        files.Commit();
        if (genotypes) genotypes->Commit();
      } catch (...) {
        if (genotypes) genotypes->Abandon();
        throw;
      }
      Open().CellFinished(found.number, seconds);
    });
  }

  // Ends the study's run: "complete", "stopped" or "failed" in the
  // manifest, the summary written, the journal and the lock gone.
  void Finish(const std::string& status) {
    if (!study_) return;
    study_->Finish(status);
    finished_ = true;
  }
  void Close(const std::string& status) {
    if (!study_) return;
    if (!finished_) RunReleased([&] { Finish(status); });
    RunReleased([&] { study_.reset(); });
  }

  mutable ObjectLock lock_;

 private:
  StudyDirectory& Open() const {
    if (!study_) throw std::runtime_error("the study's folder is closed");
    return *study_;
  }
  const StudyCell& Cell(long cell) const {
    const auto& cells = Open().plan().cells;
    if (cell < 1 || cell > static_cast<long>(cells.size())) {
      Refuse("cell=" + std::to_string(cell) + ": allowed is a whole number from 1 to " +
             std::to_string(cells.size()));
    }
    return cells[static_cast<std::size_t>(cell - 1)];
  }
  std::unique_ptr<StudyDirectory> study_;
  bool finished_ = false;
};

py::list ParameterList() {
  const Parameters defaults;
  py::list table;
  for (const ParameterInfo& info : ParameterTable()) {
    const char* kind = info.kind == ParameterKind::Boolean   ? "boolean"
                       : info.kind == ParameterKind::Integer ? "integer"
                                                             : "decimal";
    table.append(py::make_tuple(std::string(info.name), FormatParameter(defaults, info), info.minimum,
                                info.maximum, kind, std::string(info.meaning), AllowedValues(info)));
  }
  return table;
}

}  // namespace
}  // namespace talveron::python

PYBIND11_MODULE(_talveron, m) {
  using namespace talveron;
  using namespace talveron::python;
  m.doc() = "The compiled core of the talveron package; use the package, not this module.";
  m.attr("version") = std::string(kTalveronVersion);

  py::register_exception_translator([](std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const FileError& error) {
      PyErr_SetString(PyExc_OSError, error.what());
    } catch (const FatalError& error) {
      PyErr_SetString(PyExc_RuntimeError, error.what());
    } catch (const StateError& error) {
      PyErr_SetString(PyExc_ValueError, error.what());
    }
  });

  py::enum_<TraceForm>(m, "TraceForm")
      .value("none", TraceForm::None)
      .value("rows", TraceForm::Rows)
      .value("text", TraceForm::Text);

  py::class_<SeriesPlan>(m, "Plan", "The settings of a series, checked.")
      .def_readonly("seed", &SeriesPlan::baseSeed)
      .def_readonly("replicates", &SeriesPlan::replicates)
      .def_readonly("generations", &SeriesPlan::generations)
      .def("settings", &PlanSettings);
  m.def("make_plan", &MakePlan, py::arg("seed"), py::arg("replicates"), py::arg("generations"),
        py::arg("record"), py::arg("span"), py::arg("parameters"));
  m.def("run_series", &RunSeries, py::arg("plan"), py::arg("trace"), py::arg("jobs"),
        py::arg("progress") = py::none(), py::arg("samples") = py::none());
  m.def("save_genotypes", &SaveGenotypes, py::arg("path"), py::arg("replicates"), py::arg("samples"),
        py::arg("parameters"), py::arg("changes"));
  m.def("save_series", &SaveSeries, py::arg("data_path"), py::arg("data"), py::arg("trace_path"),
        py::arg("trace"));
  m.def("parameter_table", &ParameterList);
  m.def("wilson_interval", &WilsonInterval, py::arg("successes"), py::arg("trials"));
  m.def("available_cores", &AvailableCores);
  m.def("individual_size", [] { return sizeof(Individ); });

  py::class_<Simulation>(m, "Simulation")
      .def(py::init<const SeriesPlan&>(), py::arg("plan"))
      .def("step", Locked(&Simulation::Step), py::arg("generations"))
      .def_property_readonly("generation", Locked(&Simulation::generation))
      .def_property_readonly("generations", Locked(&Simulation::generations))
      .def_property_readonly("done", Locked(&Simulation::done))
      .def_property_readonly("seed", Locked(&Simulation::seed))
      .def("census", Locked(&Simulation::Census))
      .def("adults", Locked(&Simulation::Adults))
      .def("criteria", Locked(&Simulation::Criteria))
      .def("set", Locked(&Simulation::Set), py::arg("parameters"))
      .def("reseed", Locked(&Simulation::Reseed), py::arg("seed"))
      .def("parameters", Locked(&Simulation::ParameterTexts))
      .def("state", Locked(&Simulation::State))
      .def_static("from_state", &Simulation::FromState, py::arg("state"), py::arg("source"));
  m.attr("state_format_version") = kStateFormatVersion;

  py::class_<StudyFolder>(m, "StudyFolder")
      .def(py::init<const std::string&, const std::string&, const std::string&, bool, const std::string&>(),
           py::arg("text"), py::arg("name"), py::arg("out_dir"), py::arg("resume"), py::arg("description"))
      .def_property_readonly("seed", Locked(&StudyFolder::seed))
      .def_property_readonly("record", Locked(&StudyFolder::record))
      .def_property_readonly("axes", Locked(&StudyFolder::axes))
      .def("cells", Locked(&StudyFolder::Cells))
      .def("cell_complete", Locked(&StudyFolder::CellComplete), py::arg("cell"))
      .def("cell_settings", Locked(&StudyFolder::CellSettings), py::arg("cell"))
      .def("run", Locked(&StudyFolder::Run), py::arg("jobs"), py::arg("progress") = py::none())
      .def("write_cell", Locked(&StudyFolder::WriteCell), py::arg("cell"), py::arg("data"), py::arg("trace"),
           py::arg("seconds"), py::arg("samples") = py::none())
      .def("close", Locked(&StudyFolder::Close), py::arg("status"));
  RegisterScenarios(m);
}
