// What the files of the Python binding share (binding.h).
#include "binding.h"

namespace talveron::python {

int Jobs(const std::string& jobs) {
  if (jobs.empty()) return AvailableCores();
  const auto value = ReadJobs(jobs);
  if (!value) Refuse("jobs=" + jobs + ": " + JobsAllowed());
  return *value;
}

// --- Ticker ----------------------------------------------------------------------

Ticker::~Ticker() {
  // The callable is Python's: dropped with the interpreter held.
  py::gil_scoped_acquire acquire;
  progress_ = py::none();
}

void Ticker::Tick() {
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

void Ticker::Apply(RunOptions& options) {
  options.stop = &stop_;
  options.tickSeconds = 0.1;
  options.tick = [this] { Tick(); };
}

py::object Ticker::TakePending() {
  if (!pending_) return py::none();
  py::object value = pending_->value();
  pending_.reset();
  return value;
}

void Ticker::Keep() {
  pending_ = std::make_unique<py::error_already_set>();
  stop_ = true;
}

// --- results and files ----------------------------------------------------------------

py::array_t<std::int32_t> RowsArray(std::vector<std::int32_t>&& values, py::ssize_t columns) {
  auto* owned = new std::vector<std::int32_t>(std::move(values));
  py::capsule free(owned, [](void* p) { delete static_cast<std::vector<std::int32_t>*>(p); });
  const py::ssize_t rows = static_cast<py::ssize_t>(owned->size()) / columns;
  return py::array_t<std::int32_t>({rows, columns}, {columns * static_cast<py::ssize_t>(sizeof(std::int32_t)),
                                                     static_cast<py::ssize_t>(sizeof(std::int32_t))},
                                   owned->data(), free);
}

FilesTogether::FilesTogether(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) files_.push_back(std::make_unique<OutputFile>(path));
}

FilesTogether::~FilesTogether() {
  if (!committed_) {
    for (auto& file : files_) file->Abandon();
  }
}

void FilesTogether::Commit() {
  // All are closed before any takes its name.
  for (auto& file : files_) file->Close();
  for (auto& file : files_) file->Commit();
  committed_ = true;
}

}  // namespace talveron::python
