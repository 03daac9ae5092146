// Viability selection of the newborn and density-dependent mortality with
// habitat selection. Both walk the adult list once, head to tail, and decide
// each individual on its own; the dead leave the list at once.
#include <algorithm>

#include "core/world.h"

namespace talveron {

void World::Mortality() {
  const float fdensity = static_cast<float>(params.density);
  if (hooks_->StepMode()) hooks_->ShowInfo("Mortality");
  if (adults.empty()) hooks_->ShowError("Extinction");
  CheckLinkedList("CheckLinkedList (Mortality start)");

  const float maxAdults = static_cast<float>(static_cast<double>(fdensity) * 640 * 0.125);
  auto basicSurvivalOf = [maxAdults](int census) {
    if (census == 0) return 1.0f;
    return std::min(1.0f, maxAdults / static_cast<float>(census));
  };
  const float basicSurvival0 = basicSurvivalOf(habitat0Census);
  const float basicSurvival1 = basicSurvivalOf(habitat1Census);
  const float selectionFactor = params.selectionFactor;
  const bool erase = !hooks_->MinimizeDisplay();

  std::size_t kept = 0;
  for (std::size_t i = 0; i < adults.size(); ++i) {
    const Individ adult = adults[i];
    const float basicSurvival = adult.habitat == 1 ? basicSurvival1 : basicSurvival0;
    const float delta = basicSurvival * selectionFactor;
    float adjustedSurvival = basicSurvival;
    if (adult.habitatSpec == adult.habitat) {
      adjustedSurvival = basicSurvival + delta;
    } else if (adult.habitatSpec != kNeutralAllele) {
      adjustedSurvival = basicSurvival - delta;
    }
    if (SurvivalTest(PercentOf(adjustedSurvival))) {
      adults[kept++] = adult;
    } else if (erase) {
      hooks_->ClearCell(CellLeft(adult.habitat, adult.x), CellTop(adult.y));
    }
  }
  adults.resize(kept);

  if (adults.empty()) {
    hooks_->ShowInfo("Extinction");
    hooks_->WaitForKey();
  }
  CheckLinkedList("CheckLinkedList (Mortality end)");
}

void World::MortalityDuringDispersal() {
  if (adults.empty()) hooks_->ShowError("Extinction");
  CheckLinkedList("CheckLinkedList (MortalityDuringDispersal start)");

  // The newborn have no cell yet, so nothing is wiped from the map.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < adults.size(); ++i) {
    const Individ adult = adults[i];
    if (SurvivalTest(PercentOf(ViabilityFactor(adult.generalViability)))) adults[kept++] = adult;
  }
  adults.resize(kept);

  if (adults.empty()) {
    hooks_->ShowInfo("Extinction");
    hooks_->WaitForKey();
  }
  CheckLinkedList("CheckLinkedList (MortalityDuringDispersal end)");
}

}  // namespace talveron
