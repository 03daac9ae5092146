// The adults of a sampled generation, kept for the genotype file, and which
// generations are sampled.
#pragma once

#include <vector>

#include "model/individual.h"

namespace talveron {

struct GenotypeSample {
  long generation = 0;
  std::vector<Individ> adults;  // in the adult list's order
};

// Sampled: every generation that `every` divides, and the last one;
// `every` 0 samples the last generation only.
inline bool IsSampledGeneration(long generation, long every, long generations) {
  return generation == generations || (every > 0 && generation % every == 0);
}

}  // namespace talveron
