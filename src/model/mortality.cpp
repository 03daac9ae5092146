// Viability selection of the newborn and density-dependent mortality with
// habitat selection. Both walk the adult list once, head to tail, and decide
// each individual on its own; the dead leave the list at once.
#include <algorithm>

#include "model/world.h"

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

  // An adult's chance depends on nothing but its habitat and its
  // habitatSpec, and the censuses stay fixed during the walk, so the test
  // of each of the six pairs is worked out once, before it.
  DrawBelow survival[kHabitats][3];
  for (int habitat = 0; habitat < kHabitats; ++habitat) {
    const float basicSurvival = habitat == 1 ? basicSurvival1 : basicSurvival0;
    const float delta = basicSurvival * selectionFactor;
    for (int habitatSpec = 0; habitatSpec < 3; ++habitatSpec) {
      float adjustedSurvival = basicSurvival;
      if (habitatSpec == habitat) {
        adjustedSurvival = basicSurvival + delta;
      } else if (habitatSpec != kNeutralAllele) {
        adjustedSurvival = basicSurvival - delta;
      }
      survival[habitat][habitatSpec] = SurvivalChance(PercentOf(adjustedSurvival));
    }
  }

  // The walk, once with the map drawn and once without: without, it calls
  // nothing, and the compiler can keep all it carries in registers.
  auto walk = [this, &survival]<bool kErase>() {
    LocalRng draws(rng);
    std::size_t kept = 0;
    Individ* const records = adults.data();
    const std::size_t size = adults.size();
    for (std::size_t i = 0; i < size; ++i) {
      const Individ& adult = records[i];
      const bool survives = SurvivalTest(draws, survival[adult.habitat][adult.habitatSpec]);
      if (kErase && !survives) hooks_->ClearCell(CellLeft(adult.habitat, adult.x), CellTop(adult.y));
      KeepIf(records, survives, i, kept);
    }
    adults.resize(kept);
  };
  if (hooks_->MinimizeDisplay()) {
    walk.operator()<false>();
  } else {
    walk.operator()<true>();
  }

  if (adults.empty()) {
    hooks_->ShowInfo("Extinction");
    hooks_->WaitForKey();
  }
  CheckLinkedList("CheckLinkedList (Mortality end)");
}

void World::MortalityDuringDispersal() {
  if (adults.empty()) hooks_->ShowError("Extinction");
  CheckLinkedList("CheckLinkedList (MortalityDuringDispersal start)");

  // The chance depends on generalViability alone: its test for each of
  // the three alleles is worked out once, before the walk. The newborn have
  // no cell yet, so nothing is wiped from the map.
  DrawBelow survival[3];
  for (int allele = 0; allele < 3; ++allele) survival[allele] = SurvivalChance(PercentOf(ViabilityFactor(allele)));
  {
    LocalRng draws(rng);
    std::size_t kept = 0;
    Individ* const records = adults.data();
    const std::size_t size = adults.size();
    for (std::size_t i = 0; i < size; ++i) {
      KeepIf(records, SurvivalTest(draws, survival[records[i].generalViability]), i, kept);
    }
    adults.resize(kept);
  }

  if (adults.empty()) {
    hooks_->ShowInfo("Extinction");
    hooks_->WaitForKey();
  }
  CheckLinkedList("CheckLinkedList (MortalityDuringDispersal end)");
}

}  // namespace talveron
