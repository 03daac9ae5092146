#include "record/census_totals.h"

#include <cstdint>

namespace talveron {

CensusTotals GetGenerationFrequencies(const GeneFrequencies& frequencies) {
  CensusTotals totals;
  for (int h = 0; h < 2; ++h) {
    for (int s = 0; s < 3; ++s) {
      for (int p = 0; p < 3; ++p) {
        for (int m = 0; m < 3; ++m) {
          const int c = frequencies.count[h][s][p][m];
          totals.habitatTotal[h] += c;
          totals.habitatSpecTotal[h][s] += c;
          totals.matingPrefTotal[h][m] += c;
          if (p == 0) totals.red[h] += c;
          if (p == 1) totals.blu[h] += c;
          if (s == 0 && p == 0) totals.redred[h] += c;
          if (s == 1 && p == 1) totals.blublu[h] += c;
        }
      }
    }
  }
  return totals;
}

int PerMille(int count, int total) {
  if (total == 0) return 0;
  return static_cast<int>(static_cast<std::int32_t>(1000 * count) / total);
}

}  // namespace talveron
