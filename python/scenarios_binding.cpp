// The binding of scheduled changes, the trace's statistics and genotype
// samples: a series' plan with them, the samples handed between C++ and
// Python (run_series gives them, a study's cells run elsewhere bring them
// back), and the genotype files written from them.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "binding.h"
#include "model/individual.h"
#include "record/genotype_sample.h"
#include "record/genotype_vcf_text.h"
#include "record/vcf/genotype_output.h"
#include "run/parallel_series.h"
#include "run/settings_file.h"

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

}  // namespace

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

void RegisterScenarios(py::module_& m) {
  m.def("plan_with", &PlanWith, py::arg("plan"), py::arg("changes"), py::arg("stats"), py::arg("sample_every"));
  m.def("save_genotypes", &SaveGenotypes, py::arg("path"), py::arg("replicates"), py::arg("samples"),
        py::arg("parameters"), py::arg("changes"));
}

}  // namespace talveron::python
