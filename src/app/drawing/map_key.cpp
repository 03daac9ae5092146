#include "app/drawing/map_key.h"

namespace talveron::app {

MapKey MapKeyFor(const DisplayFlags& display) {
  if (display.gHabitatSpecDisplay) {
    return {"Habitat specialization", {"specialized to habitat 0", "specialized to habitat 1", "not specialized"}};
  }
  if (display.gHabitatPreferenceDisplay) {
    return {"Habitat preference", {"prefers habitat 0", "prefers habitat 1", "no preference"}};
  }
  if (display.gMatingPreferenceDisplay) {
    return {"Mating preference", {"mates with type 0", "mates with type 1", "mates with any"}};
  }
  return {"All three loci: disc preference, ring specialization, centre mating",
          {"habitat 0 / type 0", "habitat 1 / type 1", "neutral"}};
}

}  // namespace talveron::app
