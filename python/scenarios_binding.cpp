// The binding of scheduled changes, the trace's statistics and genotype
// samples: a series' plan with them, and a series run with them. Registered
// from the module (RegisterScenarios).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "record/trace.h"
#include "run/parallel_series.h"

namespace py = pybind11;

namespace talveron::python {
namespace {

using ChangeTexts = std::vector<std::pair<long long, std::vector<std::pair<std::string, std::string>>>>;

// The plan with the changes (each generation and its NAME=TEXT, as --change
// reads them), the statistics and the samples. ValueError in the batch
// command's words.
SeriesPlan PlanWith(SeriesPlan plan, const ChangeTexts& changes, bool stats, long sampleEvery) {
  for (const auto& [generation, set] : changes) {
    for (const auto& [name, text] : set) {
      if (auto error = plan.changes.Add(generation, name, text)) throw py::value_error(*error);
    }
  }
  if (auto error = plan.changes.CheckWithin(plan.generations)) throw py::value_error(*error);
  plan.traceStats = stats;
  plan.genotypes = sampleEvery >= 0;
  plan.sampleEvery = sampleEvery > 0 ? sampleEvery : 0;
  return plan;
}

class Text : public TextSink {
 public:
  void Append(std::string_view text) override { text_.append(text); }
  void Flush() override {}
  std::string text_;
};

// A series with its trace as text and its samples; the interpreter is
// released while it runs, and Ctrl+C stops it at the end of a generation.
py::tuple RunWithSamples(const SeriesPlan& plan, bool trace, int jobs) {
  Text data;
  Text traceText;
  SeriesWriter writer(plan, data, trace ? &traceText : nullptr);
  std::vector<std::pair<long, std::vector<GenotypeSample>>> samples;
  writer.recordWritten = [&](const ReplicatePiece& piece, long) { samples.emplace_back(piece.replicate, piece.samples); };
  StopFlag stop{false};
  RunOptions options;
  options.jobs = jobs;
  options.stop = &stop;
  options.tickSeconds = 0.1;
  bool interrupted = false;
  options.tick = [&] {
    py::gil_scoped_acquire acquire;
    if (PyErr_CheckSignals() != 0) {
      interrupted = true;
      stop = true;
    }
  };
  std::exception_ptr failure;
  {
    py::gil_scoped_release release;
    try {
      RunSeriesInParallel({&writer}, options);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (interrupted) throw py::error_already_set();
  if (failure) std::rethrow_exception(failure);
  py::list sampleList;
  for (const auto& [replicate, list] : samples) {
    for (const GenotypeSample& sample : list) {
      py::array_t<std::uint8_t> bytes(
          {static_cast<py::ssize_t>(sample.adults.size()), static_cast<py::ssize_t>(sizeof(Individ))});
      if (!sample.adults.empty()) {
        std::memcpy(bytes.mutable_data(), sample.adults.data(), sample.adults.size() * sizeof(Individ));
      }
      sampleList.append(py::make_tuple(replicate, sample.generation, bytes));
    }
  }
  return py::make_tuple(py::bytes(data.text_), trace ? py::object(py::bytes(traceText.text_)) : py::object(py::none()),
                        sampleList);
}

}  // namespace

void RegisterScenarios(py::module_& m) {
  m.def("plan_with", &PlanWith, py::arg("plan"), py::arg("changes"), py::arg("stats"), py::arg("sample_every"));
  m.def("run_with_samples", &RunWithSamples, py::arg("plan"), py::arg("trace"), py::arg("jobs"));
}

}  // namespace talveron::python
