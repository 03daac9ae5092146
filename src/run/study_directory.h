// The folder of a study: the cells' files, summary.tsv and manifest.json.
// The manifest is rewritten whole (a temporary file renamed over it) after
// every cell, so a study stopped in any way, power cut included, can be
// resumed: complete cells are kept, the rest run again.
#pragma once

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "run/study.h"

namespace talveron {

// Refusals before anything runs (exit status 2).
class StudyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct StudyIdentity {
  std::string program;      // "talveron-batch", "talveron-mpi"
  std::string version;
  std::string commandLine;  // as typed, quoted
  std::string studyPath;
};

class StudyDirectory {
 public:
  // Creates `dir` when missing. A folder with the manifest of another study
  // is refused, and so is one with this study's unless `resume`. On resume
  // the study's seed, when the file gives none, is the one first taken.
  // Checks that every cell's files can be created there. Throws StudyError.
  StudyDirectory(std::string dir, const SettingsFile& file, std::uint64_t clockSeed, bool resume,
                 StudyIdentity identity);

  const StudyPlan& plan() const { return plan_; }
  bool CellComplete(long cell) const { return complete_[static_cast<std::size_t>(cell - 1)]; }
  long CellsComplete() const;
  std::string PathOf(const std::string& name) const;

  // A cell's files are in place: record its time and rewrite summary and
  // manifest. Thread-safe; throws FileError when they cannot be written.
  void CellFinished(long cell, double seconds);
  // Marks the manifest: "complete", "stopped" or "failed" (and the end time).
  void Finish(const std::string& status);

 private:
  void SaveLocked();
  void WriteWhole(const std::string& name, const std::string& text) const;

  std::string dir_;
  StudyPlan plan_;
  StudyIdentity identity_;
  std::string started_;
  std::string ended_;
  std::string status_ = "running";
  std::vector<bool> complete_;
  std::vector<double> seconds_;
  std::vector<std::string> summaryRows_;
  mutable std::mutex mutex_;
};

}  // namespace talveron
