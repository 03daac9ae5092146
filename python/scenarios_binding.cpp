// The binding of scheduled changes, the trace's statistics and genotype
// samples: a series' plan with them (run_series runs it and gives the
// samples). Registered from the module (RegisterScenarios).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <utility>
#include <vector>

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

}  // namespace

void RegisterScenarios(py::module_& m) {
  m.def("plan_with", &PlanWith, py::arg("plan"), py::arg("changes"), py::arg("stats"), py::arg("sample_every"));
}

}  // namespace talveron::python
