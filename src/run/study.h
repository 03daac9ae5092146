// A study: one series for every combination of the values a settings file
// lists under [vary], each in a file of its own, a summary table of their
// results and a manifest that says what was run and what is complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run/parallel_series.h"
#include "run/settings_file.h"

namespace talveron {

// Largest number of replicates a study may hold, over all its cells.
inline constexpr long long kMaxStudyReplicates = 1000000000;
// Largest number of cells: each has its files, a summary row and a manifest
// entry, all kept in the one folder.
inline constexpr long long kMaxStudyCells = 100000;

struct StudyCell {
  long number = 0;                  // from 1
  std::vector<std::string> values;  // the value of each varied parameter, as in the file
  SeriesPlan plan;
  std::string dataName;   // cell-NN.txt
  std::string traceName;  // cell-NN.trace, or empty
  // Genotype samples: replicate k's adults in cell-NN-rK.vcf.gz (with its
  // index .tbi; cell-NN.vcf.gz for a single replicate) and the cell's
  // samples table cell-NN.samples.tsv; empty when none are sampled.
  std::string genotypesName;  // cell-NN.vcf.gz
  std::string samplesName;    // cell-NN.samples.tsv
};

// Every file of a complete cell, in the order the manifest checks them:
// the data file, the trace, each replicate's VCF file and its index, the
// samples table.
std::vector<std::string> CellFiles(const StudyCell& cell);
// Replicate k's VCF file of a cell that samples genotypes.
std::string CellGenotypeFile(const StudyCell& cell, long replicate);

struct StudyPlan {
  SettingsFile file;
  std::uint64_t seed = 0;
  std::vector<StudyCell> cells;
};

// Every cell of the study, the first varied parameter changing slowest.
// Cell c has base seed seed + (c - 1) x replicates. Throws
// SettingsFileError when the study has too many cells or replicates.
StudyPlan PlanStudy(const SettingsFile& file, std::uint64_t seed);

// The name of cell c's file: cell-NN with NN padded to the width of the
// number of cells.
std::string CellFileName(long cell, long cells, const std::string& extension);

// What a complete cell's data file says, for the summary.
struct CellResults {
  // Timed criteria: per criterion A..E the generations of the replicates
  // that met it; the final kind of preference of every replicate.
  std::vector<long> met[5];
  long speciation = 0;
  long fad = 0;
  // Averages: every span average of the cell.
  long spans = 0;
  double sum = 0;
  double sumOfSquares = 0;
  long last = 0;
  long replicates = 0;
};

// Reads the records of a data file; throws std::runtime_error when the
// text is not a data file of this recording mode.
CellResults ReadCellResults(const std::string& dataText, const RecordingChoices& recording);

// summary.tsv: a header and a row per complete cell.
std::string SummaryHeader(const StudyPlan& study);
std::string SummaryRow(const StudyPlan& study, const StudyCell& cell, const CellResults& results);

// The 95% Wilson score interval of `successes` in `trials`.
std::pair<double, double> WilsonInterval(long successes, long trials);

}  // namespace talveron
