// The census read as the criteria, the averages, the trace and the graphs
// read it: the per-habitat marginals of the full table, and per-mille
// frequencies.
#pragma once

#include "model/census.h"

namespace talveron {

// The per-habitat marginals that the criteria and averages read.
struct CensusTotals {
  int habitatTotal[2] = {};
  int habitatSpecTotal[2][3] = {};
  int matingPrefTotal[2][3] = {};
  int red[2] = {};  // habitatPref 0
  int blu[2] = {};  // habitatPref 1
  int redred[2] = {};  // habitatSpec 0 and habitatPref 0
  int blublu[2] = {};  // habitatSpec 1 and habitatPref 1
};

// Folds the full table into its marginals.
CensusTotals GetGenerationFrequencies(const GeneFrequencies& frequencies);

// Truncated 1000 * count / total; 0 for an empty habitat.
int PerMille(int count, int total);

}  // namespace talveron
