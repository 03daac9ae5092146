// The per-generation census of the adults by habitat and by their alleles
// at habitat specialization, habitat preference and mating-preference type.
#pragma once

#include <array>

namespace talveron {

struct GeneFrequencies {
  // [habitat][habitatSpec][habitatPref][matingPrefType]
  int count[2][3][3][3] = {};

  void Clear();
  int HabitatTotal(int habitat) const;
};

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
