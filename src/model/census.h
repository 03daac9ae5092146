// The per-generation census of the adults by habitat and by their alleles
// at habitat specialization, habitat preference and mating-preference type,
// counted by the world after every generation. What the census means for the
// criteria, averages and graphs (its marginals and per-mille frequencies) is
// read from it in record/census_totals.h.
#pragma once

namespace talveron {

struct GeneFrequencies {
  // [habitat][habitatSpec][habitatPref][matingPrefType]
  int count[2][3][3][3] = {};

  void Clear();
  int HabitatTotal(int habitat) const;
};

}  // namespace talveron
