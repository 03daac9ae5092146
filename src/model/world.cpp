#include "model/world.h"

#include <algorithm>

#include "model/fatal_error.h"

namespace talveron {

int PercentOf(float chance) {
  if (chance > 1.0f) chance = 1.0f;
  if (chance < 0.0f) chance = 0.0f;
  return static_cast<int>(static_cast<double>(chance) * 100.0);
}

World::World(ModelHooks* hooks) : hooks_(hooks ? hooks : &defaultHooks_) {
  rng.SetBadRangeHandler([this] { hooks_->ShowError("Bad scaledRandomNumber"); });
}

void World::SetHooks(ModelHooks* hooks) { hooks_ = hooks ? hooks : &defaultHooks_; }

void World::SeedRandom(std::uint64_t seed) { rng.Seed(seed); }

void World::ClearIndividuals() {
  if (!adults.empty()) hooks_->EraseMapArea();
  adults.clear();
}

void World::InitPopulations() {
  adults.clear();
  int total[2] = {0, 0};
  const int habitats = params.initiallyOneHabitat ? 1 : 2;
  const bool draw = !hooks_->MinimizeDisplay();
  for (int habitat = 0; habitat < habitats; ++habitat) {
    for (int x = 0; x < kColumns; ++x) {
      for (int y = 0; y < kRows; ++y) {
        if (rng.Randomize(8) >= params.density) continue;
        Individ founder;
        founder.habitat = static_cast<std::uint8_t>(habitat);
        founder.x = static_cast<std::uint8_t>(x);
        founder.y = static_cast<std::uint8_t>(y);
        founder.sex = rng.Randomize(2) != 0;
        adults.push_back(founder);
        ++total[habitat];
        if (draw) hooks_->DrawIndividual(CellLeft(habitat, x), CellTop(y), founder);
      }
    }
  }
  hooks_->ZeroResults(total[0], total[1]);
}

void World::WipeIndividual(std::size_t index) {
  if (index >= adults.size()) throw FatalError("WipeIndividual() recieves null pointer!");
  EraseCellOf(adults[index], !hooks_->MinimizeDisplay());
  adults.erase(adults.begin() + static_cast<std::ptrdiff_t>(index));
}

void World::TallyLinkedList() {
  geneFrequencies.Clear();
  for (const Individ& adult : adults) {
    ++geneFrequencies.count[adult.habitat][adult.habitatSpec][adult.habitatPref][adult.matingPrefType];
  }
  if (!hooks_->MinimizeDisplay()) hooks_->ShowResults(geneFrequencies);
}

void World::ChangeEnvironmentIfDue() {
  const std::int32_t period = params.gGenerationsToEnvironmentalChange;
  if (period <= 0 || gGenerationNumber % period != 0) return;
  gCurrentViability = gCurrentViability == 0 ? 1 : 0;
}

float World::ViabilityFactor(int generalViability) const {
  if (generalViability == kNeutralAllele) return 1.0f;
  return generalViability == gCurrentViability ? params.gViabilityFactor : -params.gViabilityFactor;
}

}  // namespace talveron
