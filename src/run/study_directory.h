// The folder of a study: the cells' files (data file, trace, genotype
// samples: CellFiles), summary.tsv and manifest.json,
// and while it runs study.lock (the lock of the one process writing it)
// and journal.jsonl (a line per cell completed since the manifest was last
// written). The manifest and the summary are rewritten whole (a temporary
// file renamed over them) every few seconds and at the end; the journal,
// appended as each cell completes, keeps the cost of a cell the same
// however many there are. A study stopped in any way, power cut included,
// can be resumed: cells whose files are as they were when they completed
// (size and checksum) are kept, the rest run again.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "run/output_lock.h"
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
  // Creates `dir` when missing and takes its lock. A folder with the
  // manifest of another study is refused, and so is one with this study's
  // unless `resume`, and one that holds files but no manifest. On resume
  // the study's seed, when the file gives none, is the one first taken.
  // Checks that every cell's files can be created there. Throws StudyError
  // for refusals, OutputBusy when another process writes the folder and
  // FileError when it cannot be written. The manifest is rewritten at most
  // every `saveEvery` (and at the end).
  StudyDirectory(std::string dir, const SettingsFile& file, std::uint64_t clockSeed, bool resume,
                 StudyIdentity identity, std::chrono::milliseconds saveEvery = std::chrono::seconds(5));
  ~StudyDirectory();
  StudyDirectory(const StudyDirectory&) = delete;
  StudyDirectory& operator=(const StudyDirectory&) = delete;

  const StudyPlan& plan() const { return plan_; }
  bool CellComplete(long cell) const { return complete_[static_cast<std::size_t>(cell - 1)]; }
  long CellsComplete() const;
  std::string PathOf(const std::string& name) const;

  // A cell's files are in place: record their sizes and checksums and its
  // time in the journal (and, when it is time, summary and manifest).
  // Thread-safe; throws FileError when they cannot be read or written.
  void CellFinished(long cell, double seconds);
  // Marks the manifest: "complete", "stopped" or "failed" (and the end
  // time), writes it and the summary, and removes the journal.
  void Finish(const std::string& status);

  // What makes a cell's file the one that completed.
  struct FileCheck {
    std::string name;
    long long bytes = 0;
    std::string fnv1a64;  // 16 hexadecimal digits
  };

 private:
  // Keeps a cell the manifest or the journal says is complete when its
  // files are still those that completed.
  void Keep(long cell, double seconds, const std::vector<FileCheck>& checks);
  void SaveLocked();
  void WriteSummary() const;
  void WriteManifest() const;
  void AppendJournal(long cell);

  std::string dir_;
  StudyPlan plan_;
  StudyIdentity identity_;
  std::string started_;
  std::string ended_;
  std::string status_ = "running";
  std::vector<bool> complete_;
  long completeCount_ = 0;
  std::vector<double> seconds_;
  std::vector<std::string> summaryRows_;
  std::vector<std::vector<FileCheck>> checks_;
  std::unique_ptr<OutputLock> lock_;
  int journal_ = -1;
  std::chrono::steady_clock::duration saveEvery_;
  std::chrono::steady_clock::time_point nextSave_;
  mutable std::mutex mutex_;
};

}  // namespace talveron
