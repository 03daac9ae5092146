// The binding of the Python package: the run library and the model,
// reached from Python. Everything a result is made of comes from the same
// code as the batch command's; this file only converts between the two
// languages, releases the interpreter while replicates run and turns
// Ctrl+C into a stop at the end of the running generation.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/fatal_error.h"
#include "model/individual.h"
#include "model/parameters.h"
#include "model/version.h"
#include "record/output_file.h"
#include "record/trace.h"
#include "run/parallel_series.h"
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

int Jobs(const std::string& jobs) {
  if (jobs.empty()) return AvailableCores();
  const auto value = ReadJobs(jobs);
  if (!value) Refuse("jobs=" + jobs + ": " + JobsAllowed());
  return *value;
}

// Ctrl+C while the interpreter is released: the calling thread looks at
// Python's signals a few times a second and, when one raised, asks the run
// to stop at the end of the running generation. The exception is kept and
// raised once the run has returned.
class Interrupt {
 public:
  void Check() {
    if (pending_) return;
    py::gil_scoped_acquire acquire;
    if (PyErr_CheckSignals() != 0) {
      pending_ = std::make_unique<py::error_already_set>();
      stop_ = true;
    }
  }
  StopFlag& flag() { return stop_; }
  bool stopped() const { return stop_.load(); }
  // With the interpreter held.
  void RaiseIfPending() {
    if (pending_) {
      pending_->restore();
      pending_.reset();
      throw py::error_already_set();
    }
  }

 private:
  StopFlag stop_{false};
  std::unique_ptr<py::error_already_set> pending_;
};

// The text of a series' data file, kept whole.
class TextBuffer : public TextSink {
 public:
  void Append(std::string_view text) override { text_.append(text); }
  void Flush() override {}
  std::string text_;
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
  void Flush() override {}
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

// Runs `work` with the interpreter released, looking at Ctrl+C through
// `interrupt` every tenth of a second from the run's own ticks.
template <typename Work>
void RunReleased(Interrupt& interrupt, Work&& work) {
  std::exception_ptr failure;
  {
    py::gil_scoped_release release;
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  interrupt.RaiseIfPending();
  if (failure) std::rethrow_exception(failure);
}

py::tuple RunSeries(const SeriesPlan& plan, bool trace, const std::string& jobs) {
  RunOptions options;
  options.jobs = Jobs(jobs);
  Interrupt interrupt;
  options.stop = &interrupt.flag();
  options.tickSeconds = 0.1;
  options.tick = [&interrupt] { interrupt.Check(); };
  TextBuffer data;
  TraceRows rows;
  if (trace) {
    // Room for the whole trace at once, where that is a sensible size.
    const double values = 2.0 * kTraceColumns * static_cast<double>(plan.replicates) *
                          static_cast<double>(plan.generations);
    if (values <= double(1 << 28)) rows.values.reserve(static_cast<std::size_t>(values));
  }
  SeriesWriter writer(plan, data, trace ? &rows : nullptr);
  RunReleased(interrupt, [&] { RunSeriesInParallel({&writer}, options); });
  py::object traceArray = py::none();
  if (trace) traceArray = RowsArray(std::move(rows.values), kTraceColumns);
  return py::make_tuple(py::bytes(data.text_), traceArray);
}

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
  std::exception_ptr failure;
  {
    py::gil_scoped_release release;
    std::unique_ptr<OutputFile> dataFile;
    std::unique_ptr<OutputFile> traceFile;
    try {
      dataFile = std::make_unique<OutputFile>(dataPath);
      if (!tracePath.empty()) traceFile = std::make_unique<OutputFile>(tracePath);
      dataFile->Write(data);
      if (traceFile) {
        traceFile->Write(kTraceHeader);
        const std::int32_t* row = rows.data();
        std::string text;
        for (py::ssize_t r = 0; r < rows.shape(0); ++r, row += kTraceColumns) {
          TraceCounts counts{};
          std::copy(row + 3, row + kTraceColumns, counts.begin());
          text += TraceLine(row[0], row[1], row[2], counts);
          if (text.size() > (1 << 20)) {
            traceFile->Write(text);
            text.clear();
          }
        }
        traceFile->Write(text);
      }
      // Both are closed before either takes its name.
      dataFile->Close();
      if (traceFile) traceFile->Close();
      dataFile->Commit();
      if (traceFile) traceFile->Commit();
    } catch (...) {
      if (dataFile) dataFile->Abandon();
      if (traceFile) traceFile->Abandon();
      failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

// One replicate, generation by generation: replicate 1 of a series. The
// run underneath is planned one generation longer than the replicate, so
// that its record is never closed and the criteria stay to be read at the
// end; no generation depends on how many follow it.
class Simulation {
 public:
  explicit Simulation(const SeriesPlan& plan) : plan_(plan), runPlan_(Longer(plan)), run_(runPlan_, 1, false) {}

  long Step(long generations) {
    if (generations < 0) Refuse("step(" + std::to_string(generations) + "): allowed is a whole number from 0");
    const long todo = std::min(generations, plan_.generations - run_.generation());
    Interrupt interrupt;
    long done = 0;
    RunReleased(interrupt, [&] {
      auto last = std::chrono::steady_clock::now();
      for (; done < todo && !interrupt.stopped(); ++done) {
        run_.RunGeneration();
        if (const auto now = std::chrono::steady_clock::now(); now - last > std::chrono::milliseconds(100)) {
          last = now;
          interrupt.Check();
        }
      }
    });
    return done;
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

  long generation() const { return run_.generation(); }
  long generations() const { return plan_.generations; }
  bool done() const { return run_.generation() >= plan_.generations; }
  std::uint64_t seed() const { return plan_.baseSeed; }

  // The trace's two lines of the current generation.
  py::array_t<std::int32_t> Census() const {
    std::vector<std::int32_t> values;
    for (int habitat = 0; habitat < 2; ++habitat) {
      values.push_back(1);
      values.push_back(static_cast<std::int32_t>(run_.generation()));
      values.push_back(habitat);
      for (const int count : TraceCountsOf(run_.world().geneFrequencies, habitat)) values.push_back(count);
    }
    return RowsArray(std::move(values), kTraceColumns);
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

 private:
  static SeriesPlan Longer(SeriesPlan plan) {
    ++plan.generations;
    return plan;
  }
  SeriesPlan plan_;
  SeriesPlan runPlan_;
  ReplicateRun run_;
};

// A study: every cell's series into `outDir`, as talveron-batch --study
// runs it. Returns the study's seed and the cells' numbers, varied values,
// seeds and file names.
py::tuple RunStudy(const std::string& text, const std::string& name, const std::string& outDir,
                   const std::string& jobs, bool resume, const std::string& description) {
  SettingsFile file;
  try {
    file = ParseSettingsText(text, name);
  } catch (const SettingsFileError& error) {
    Refuse(error.what());
  }
  if (file.vary.empty()) Refuse(name + ": a study needs a [vary] table of lists (for one series, use run_series)");
  RunOptions options;
  options.jobs = Jobs(jobs);
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto clockSeed = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
  std::unique_ptr<StudyDirectory> study;
  try {
    study = std::make_unique<StudyDirectory>(
        outDir, file, clockSeed, resume,
        StudyIdentity{"talveron (Python)", std::string(kTalveronVersion), description, name});
  } catch (const StudyError& error) {
    Refuse(error.what());
  }
  Interrupt interrupt;
  options.stop = &interrupt.flag();
  options.tickSeconds = 0.1;
  options.tick = [&interrupt] { interrupt.Check(); };
  RunReleased(interrupt, [&] {
    bool complete = false;
    try {
      complete = RunStudyCells(*study, options);
    } catch (...) {
      study->Finish("failed");
      throw;
    }
    study->Finish(complete ? "complete" : "stopped");
  });
  py::list cells;
  for (const StudyCell& cell : study->plan().cells) {
    cells.append(py::make_tuple(cell.number, cell.values, cell.plan.baseSeed, cell.dataName, cell.traceName));
  }
  py::list axes;
  for (const StudyAxis& axis : study->plan().file.vary) axes.append(axis.name);
  return py::make_tuple(study->plan().seed, axes, cells, RecordName(study->plan().file.settings.recording));
}

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
    }
  });

  py::class_<SeriesPlan>(m, "Plan", "The settings of a series, checked.")
      .def_readonly("seed", &SeriesPlan::baseSeed)
      .def_readonly("replicates", &SeriesPlan::replicates)
      .def_readonly("generations", &SeriesPlan::generations);
  m.def("make_plan", &MakePlan, py::arg("seed"), py::arg("replicates"), py::arg("generations"),
        py::arg("record"), py::arg("span"), py::arg("parameters"));
  m.def("run_series", &RunSeries, py::arg("plan"), py::arg("trace"), py::arg("jobs"));
  m.def("save_series", &SaveSeries, py::arg("data_path"), py::arg("data"), py::arg("trace_path"),
        py::arg("trace"));
  m.def("run_study", &RunStudy, py::arg("text"), py::arg("name"), py::arg("out_dir"), py::arg("jobs"),
        py::arg("resume"), py::arg("description"));
  m.def("parameter_table", &ParameterList);
  m.def("wilson_interval", &WilsonInterval, py::arg("successes"), py::arg("trials"));
  m.def("available_cores", &AvailableCores);
  m.def("individual_size", [] { return sizeof(Individ); });

  py::class_<Simulation>(m, "Simulation")
      .def(py::init<const SeriesPlan&>(), py::arg("plan"))
      .def("step", &Simulation::Step, py::arg("generations"))
      .def_property_readonly("generation", &Simulation::generation)
      .def_property_readonly("generations", &Simulation::generations)
      .def_property_readonly("done", &Simulation::done)
      .def_property_readonly("seed", &Simulation::seed)
      .def("census", &Simulation::Census)
      .def("adults", &Simulation::Adults)
      .def("criteria", &Simulation::Criteria)
      .def("set", &Simulation::Set, py::arg("parameters"))
      .def("reseed", &Simulation::Reseed, py::arg("seed"));
  RegisterScenarios(m);
}
