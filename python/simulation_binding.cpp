// The binding of one replicate, step by step: the Simulation, its census,
// adults and criteria, its parameters set between generations, and its
// whole state, saved and restored for copies, pickles and files.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding.h"
#include "model/individual.h"
#include "model/parameters.h"
#include "model/world_state.h"
#include "record/trace.h"
#include "run/parallel_series.h"
#include "run/replicate_state.h"

namespace talveron::python {
namespace {

// The adults are handed to numpy record by record, as they lie in memory.
static_assert(sizeof(Individ) == 21, "the numpy record of an individual must match Individ");
static_assert(offsetof(Individ, generalViability) == 10 && offsetof(Individ, neutralGenes) == 11,
              "the numpy record of an individual must match Individ");

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

}  // namespace

void RegisterSimulation(py::module_& m) {
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
}

}  // namespace talveron::python
