// The binding of a study: its folder, open for running every cell's series
// into it, here on threads of this process or, cell by cell, by an
// executor elsewhere, whose results are written into the folder as the
// study's own run would have written them.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding.h"
#include "model/version.h"
#include "record/genotype_sample.h"
#include "run/output_lock.h"
#include "run/settings_file.h"
#include "run/study.h"
#include "run/study_directory.h"
#include "run/study_run.h"

namespace talveron::python {
namespace {

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

}  // namespace

void RegisterStudy(py::module_& m) {
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
}

}  // namespace talveron::python
