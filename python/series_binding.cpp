// The binding of a series: its plan, checked by the batch command's own
// readers; the series run in memory, its data file and trace handed back
// whole (the trace as rows of numbers or as its text) and saved as the
// batch command saves them; and the parameters' table.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding.h"
#include "model/parameters.h"
#include "record/genotype_sample.h"
#include "record/output_file.h"
#include "record/trace.h"
#include "run/parallel_series.h"
#include "run/settings_file.h"
#include "run/study.h"

namespace talveron::python {
namespace {

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

}  // namespace

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

namespace {

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

// The trace of a series: none, rows of numbers, or the file's text.
enum class TraceForm { None, Rows, Text };

// Runs a series in memory. Returns (data file, trace, records, stop): the
// data file's bytes and the trace (an int32 array of 13 columns, or its
// text as bytes) hold every complete record, `records` of them; `stop` is
// the exception that stopped the series early (Ctrl+C), or None.
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

void RegisterSeries(py::module_& m) {
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
  m.def("save_series", &SaveSeries, py::arg("data_path"), py::arg("data"), py::arg("trace_path"),
        py::arg("trace"));
  m.def("parameter_table", &ParameterList);
  m.def("wilson_interval", &WilsonInterval, py::arg("successes"), py::arg("trials"));
  m.def("available_cores", &AvailableCores);
}

}  // namespace talveron::python
