// Running a study: every cell that is not complete yet as a series of its
// own, a few hundred cells at a time, each cell's files put in place and the
// summary and manifest rewritten as soon as its last record is written.
#pragma once

#include <functional>
#include <vector>

#include "record/genotype_sample.h"
#include "record/output_file.h"
#include "run/parallel_series.h"
#include "run/study_directory.h"

namespace talveron {

// A cell's genotype samples: each replicate's VCF file (and index) written
// under its partial name as its record is, the samples table beside them,
// and all put in place together once the cell's series is complete. A
// stopped cell keeps what it wrote under the partial names; running it
// again writes them anew.
class CellGenotypes {
 public:
  CellGenotypes(const StudyDirectory& study, const StudyCell& cell);

  // The replicate's samples, in replicate order; throws FileError.
  void Write(long replicate, const std::vector<GenotypeSample>& samples);
  // Every file under its own name; throws FileError.
  void Commit();
  void Abandon();

 private:
  const StudyDirectory& study_;
  const StudyCell& cell_;
  OutputFile table_;
};

// What runs the replicates of the series given: RunSeriesInParallel, or
// the MPI command's hand-out to other processes.
using SeriesEngine = std::function<void(const std::vector<SeriesWriter*>&, const RunOptions&, RunCounters*)>;

struct StudyRunEvents {
  // A record of a cell is written; from any thread, under that cell's
  // writer's lock.
  std::function<void(const StudyCell&, const ReplicatePiece&)> recordWritten;
  // A cell's files are in place and the summary holds it.
  std::function<void(const StudyCell&)> cellFinished;
};

// Runs the study's unfinished cells with `engine` (RunSeriesInParallel when
// empty). Returns true when every cell is complete, false when options.stop
// came first: the unfinished cells keep their complete records in their
// partial files. A FileError or FatalError abandons the unfinished cells
// and is rethrown. The manifest's final status is the caller's to write
// (StudyDirectory::Finish).
bool RunStudyCells(StudyDirectory& study, const RunOptions& options, const SeriesEngine& engine = {},
                   RunCounters* counters = nullptr, const StudyRunEvents& events = {});

}  // namespace talveron
