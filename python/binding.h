// What the files of the Python binding share: objects that Python may use
// from several threads, running with the interpreter released while
// watching for Ctrl+C, arrays handed to numpy, files written together,
// and each file's registration function, which talveron_module.cpp calls.
//
// Objects that Python may share between threads (Simulation, StudyFolder)
// hold an ObjectLock: every method takes it first, and while it is held no
// other thread touches the object, whether or not the interpreter is
// released. A method added later takes it the same way:
//
//   .def("name", Locked(&Simulation::Name))
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "record/genotype_sample.h"
#include "record/output_file.h"
#include "run/parallel_series.h"

namespace py = pybind11;

namespace talveron::python {

// The registration of each part of the module.
void RegisterSeries(py::module_& m);     // series_binding.cpp
void RegisterStudy(py::module_& m);      // study_binding.cpp
void RegisterSimulation(py::module_& m);  // simulation_binding.cpp
void RegisterScenarios(py::module_& m);  // scenarios_binding.cpp

constexpr int kTraceColumns = 13;  // replicate, generation, habitat and the ten counts

// Raised as ValueError: the value and what is allowed.
[[noreturn]] inline void Refuse(const std::string& message) { throw py::value_error(message); }

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

// --- running with the interpreter released ------------------------------------------

// The number of threads from the package's text: one per core when empty.
int Jobs(const std::string& jobs);

// While a run goes on with the interpreter released, the calling thread
// comes back a few times a second: it looks at Python's signals and hands
// the progress to `progress` (a callable taking the generations run, or
// None). When a signal handler raises (Ctrl+C) or the callable does, the
// run is asked to stop at the end of the running generation and the
// exception is kept for the caller, who decides what to hand back with it.
class Ticker {
 public:
  explicit Ticker(py::object progress = py::none()) : progress_(std::move(progress)) {}
  ~Ticker();

  void Tick();
  void Apply(RunOptions& options);
  RunCounters& counters() { return counters_; }
  bool stopped() const { return stop_.load(); }
  // With the interpreter held: the exception that stopped the run (taken
  // from the ticker), or None.
  py::object TakePending();

 private:
  void Keep();
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

// --- results and files ----------------------------------------------------------------

// A vector handed to numpy without a copy: the array owns it.
py::array_t<std::int32_t> RowsArray(std::vector<std::int32_t>&& values, py::ssize_t columns);

// Files written together, as the batch command writes a series: each
// beside its name until all are complete, then put in place; on a failure
// the old files stay as they were.
class FilesTogether {
 public:
  explicit FilesTogether(const std::vector<std::string>& paths);
  ~FilesTogether();
  OutputFile& operator[](std::size_t i) { return *files_[i]; }
  void Commit();

 private:
  std::vector<std::unique_ptr<OutputFile>> files_;
  bool committed_ = false;
};

// A plan as the package's keywords: seed, replicates, generations, record,
// span and every parameter as text that reads back to the same value. It
// travels to other processes (an executor's workers) as it is.
// (series_binding.cpp)
py::dict PlanSettings(const SeriesPlan& plan);

// The genotype samples of a series' records as Python takes them: a list
// of (replicate, generation, adults as a uint8 array of one row each).
// (scenarios_binding.cpp)
py::list SampleList(const std::vector<std::pair<long, std::vector<GenotypeSample>>>& samples);

// The samples of a series as SampleList gives them, back as each
// replicate's samples in the order given; every replicate of 1..replicates
// must have some. (scenarios_binding.cpp)
std::vector<std::vector<GenotypeSample>> SamplesByReplicate(const py::object& samples, long replicates,
                                                            const std::string& where);

}  // namespace talveron::python
