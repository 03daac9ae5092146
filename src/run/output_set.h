// Every file a run writes, known before anything runs: the data file, the
// trace, the genotype samples (a VCF file and its index per replicate, the
// samples table), and whatever else a run comes to write beside them. One
// place refuses, before anything is made, what would lose someone's data:
// two of the files being one (by any spelling, link or hard link, a file's
// working name FILE.partial or its lock FILE.lock included), a name that
// is another output's working or lock file, a file another run writes, a
// read-only file, a path that cannot be used or a folder in the way. The
// files are then written under their working names and put in place
// together once the run is complete (PutInPlace), the data file last.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "record/output_file.h"
#include "run/output_lock.h"
#include "run/parallel_series.h"

namespace talveron {

struct PlannedOutput {
  std::string option;  // what named it: "--out", "--trace", "--genotypes"
  std::string path;    // as given, or made from the name given
  // For a file made from the name given: what it is to that name ("the
  // samples table"); empty for the name given itself.
  std::string role;
  // Takes FILE.lock beside it while the run goes on (the names given).
  bool locked = false;
  // Made by this run. A name planned but not written (a lock's own name, a
  // file no writer makes yet) only takes part in the collisions.
  bool written = true;
};

class OutputSet {
 public:
  // `quote` shows a path in a message (by default between single quotes).
  explicit OutputSet(std::string program, std::function<std::string(const std::string&)> quote = {})
      : program_(std::move(program)), quote_(std::move(quote)) {}
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  void Add(PlannedOutput output) { outputs_.push_back(std::move(output)); }
  const std::vector<PlannedOutput>& outputs() const { return outputs_; }

  // Every refusal, in turn, before anything is made; then the locks, held
  // until the set is destroyed. Returns 0 when the files are this run's,
  // else the exit status with the message in `why`: 2 for names that
  // collide, a working or lock file's name, a file another process
  // writes; 1 for a path that cannot be written.
  int Claim(std::string& why);

 private:
  std::string Shown(const PlannedOutput& output) const;
  std::string program_;
  std::function<std::string(const std::string&)> quote_;
  std::vector<PlannedOutput> outputs_;
  std::vector<std::unique_ptr<OutputLock>> locks_;
};

// The run record beside a data file FILE: FILE.json.
inline std::string RunRecordPath(const std::string& dataPath) { return dataPath + ".json"; }

// The files of a series with genotype samples in `vcfPath`, as planned
// outputs of --genotypes: the name given (locked), each replicate's VCF
// file and index, the samples table.
void PlanGenotypeOutputs(OutputSet& set, const std::string& vcfPath, long replicates);

// A warning when the genotype samples of a replicate may pass
// kMaxVcfSamples: its sampled generations times the most adults a
// generation can hold (one in every cell of both habitats). Only the run
// can tell whether they do (GenotypeVcfStream refuses the generation that
// would); empty when they cannot.
std::string SampleCountWarning(const SeriesPlan& plan);

}  // namespace talveron
