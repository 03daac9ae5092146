#include "model/census.h"

namespace talveron {

void GeneFrequencies::Clear() {
  for (auto& habitat : count)
    for (auto& spec : habitat)
      for (auto& pref : spec)
        for (auto& cell : pref) cell = 0;
}

int GeneFrequencies::HabitatTotal(int habitat) const {
  int total = 0;
  for (const auto& spec : count[habitat])
    for (const auto& pref : spec)
      for (int cell : pref) total += cell;
  return total;
}

}  // namespace talveron
