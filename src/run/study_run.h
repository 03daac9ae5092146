// Running a study: every cell that is not complete yet as a series of its
// own, a few hundred cells at a time, each cell's files put in place and the
// summary and manifest rewritten as soon as its last record is written.
#pragma once

#include <functional>
#include <vector>

#include "record/genotype_sample.h"
#include "record/output_file.h"
#include "record/vcf/genotype_output.h"
#include "run/parallel_series.h"
#include "run/study_directory.h"

namespace talveron {

// A cell's genotype samples: each replicate's VCF file (and index) and the
// cell's samples table, as a series writes them (GenotypeOutput, without
// the lists), under
// their working names until the cell's series is complete, then put in
// place together with its data file. A stopped cell keeps what it wrote
// under the working names; running it again writes them anew.
class CellGenotypes {
 public:
  CellGenotypes(const StudyDirectory& study, const StudyCell& cell);

  // A sampled generation of a replicate that runs (GenotypeOutput::Add).
  void Add(long replicate, GenotypeSample sample) { output_.Add(replicate, std::move(sample)); }
  // The replicate's files, in replicate order; throws FileError.
  void Finish(long replicate) { output_.Finish(replicate); }
  // The replicate's samples at once, in replicate order; throws FileError.
  void Write(long replicate, const std::vector<GenotypeSample>& samples) { output_.Write(replicate, samples); }
  // Complete under the working names; throws FileError.
  void Close() { output_.Close(); }
  // What Close() left to put in place.
  std::vector<PendingFile> Files() const { return output_.Files(); }
  // Every file under its own name; throws FileError.
  void Commit() { output_.Commit(); }
  void Abandon() { output_.Abandon(); }
  const std::string& tablePath() const { return output_.tablePath(); }

 private:
  GenotypeOutput output_;
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
