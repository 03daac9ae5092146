// The binding of the Python package: the run library and the model,
// reached from Python as the module talveron._talveron. Everything a result
// is made of comes from the same code as the batch command's; the binding
// only converts between the two languages, releases the interpreter while
// replicates run, reports progress, and turns Ctrl+C into a stop at the
// end of the running generation that keeps every complete record.
//
// Each part is bound in a file of its own (binding.h names them):
//   series_binding.cpp      a series' plan, the series run in memory and saved
//   study_binding.cpp       a study's folder and its cells
//   simulation_binding.cpp  one replicate step by step, and its state
//   scenarios_binding.cpp   scheduled changes, statistics and genotype samples
//   binding.cpp             what they share: locks, the ticker, arrays, files
#include <pybind11/pybind11.h>

#include <exception>
#include <string>

#include "binding.h"
#include "model/fatal_error.h"
#include "model/version.h"
#include "model/world_state.h"
#include "record/data_file.h"

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

  // The series first: the others name its Plan in their signatures.
  RegisterSeries(m);
  RegisterSimulation(m);
  RegisterStudy(m);
  RegisterScenarios(m);
}
