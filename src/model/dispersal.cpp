// Dispersal: the young become the adults, the viability selection acts on
// them, every survivor settles on a free cell of the habitat its preference
// or migration chooses, and each habitat is held to 640 adults.
#include "model/order_index.h"
#include "model/world.h"

namespace talveron {

// Both run once per settler; inline in the loop that places them.
//
// Natal habitats and preferences come in no order the processor could
// learn, so the choice branches on neither where the rule lets it: the
// migration draw is made for either natal habitat (except habitat 1 under
// asymmetrical dispersal, whose young stay without a draw) and then picks
// the other habitat or the same one; preferences 0 and 1 are their own
// targets.
inline int World::ChooseTargetHabitat(LocalRng& draws, const DrawBelow& migrates, const Individ& individual,
                                      int& lastTarget) {
  int target;
  if (params.restrictedNatalDispersal) {
    const bool natalZero = individual.habitat == 0;
    if (params.asymmetricalNatalDispersal && !natalZero) {
      target = 1;
    } else {
      target = natalZero != draws.Below(migrates) ? 0 : 1;
    }
  } else {
    const int preference = individual.habitatPref;
    if (preference == kNeutralAllele) {
      target = draws.Coin();
    } else if (preference == 0 || preference == 1) {
      target = preference;
    } else {
      target = lastTarget;
    }
    if (target != 0 && target != 1) {
      hooks_->ShowError("Dispersal (habitat value)");
      target = 0;
    }
  }
  lastTarget = target;
  return target;
}

inline void World::PlaceOnFreeCell(LocalRng& draws, Individ& individual, int target) {
  int x;
  int y;
  do {
    x = draws.Randomize(kColumns);
    y = draws.Randomize(kRows);
  } while (map[target][x][y] != 0);
  map[target][x][y] = 1;
  individual.habitat = static_cast<std::uint8_t>(target);
  individual.x = static_cast<std::uint8_t>(x);
  individual.y = static_cast<std::uint8_t>(y);
}

void World::Dispersal() {
  hooks_->ShowInfo("Dispersal");
  if (young.empty()) hooks_->ShowError("Extinct -- dispersal start");

  adults.swap(young);
  young.clear();
  CheckLinkedList("CheckLinkedList (Dispersal start)");

  MortalityDuringDispersal();

  for (auto& habitat : map)
    for (auto& column : habitat) column.fill(0);
  int freeCells[kHabitats] = {kCellsPerHabitat, kCellsPerHabitat};
  int census[kHabitats] = {0, 0};
  int lastTarget = 2;
  const DrawBelow migrates(100, params.natalDispersalRate);

  // An individual whose target habitat has no free cell left dies there;
  // the search for a cell is thus always finite. The walk, once with the
  // map drawn and once without: without, it calls nothing but the rare
  // report of a bad allele, and the compiler can keep what it carries in
  // registers.
  auto settle = [&]<bool kDraw>() {
    LocalRng draws(rng);
    std::size_t kept = 0;
    Individ* const records = adults.data();
    const std::size_t size = adults.size();
    for (std::size_t i = 0; i < size; ++i) {
      Individ& settler = records[i];
      const int target = ChooseTargetHabitat(draws, migrates, settler, lastTarget);
      if (freeCells[target] == 0) continue;
      PlaceOnFreeCell(draws, settler, target);
      --freeCells[target];
      if (kDraw) hooks_->DrawIndividual(CellLeft(target, settler.x), CellTop(settler.y), settler);
      if (kept != i) records[kept] = settler;
      ++kept;
      ++census[target];
    }
    adults.resize(kept);
  };
  if (hooks_->MinimizeDisplay()) {
    settle.operator()<false>();
  } else {
    settle.operator()<true>();
  }

  // The census of the placed adults, counted while placing them: each one
  // now lives in the habitat it was placed in.
  habitat0Census = census[0];
  habitat1Census = census[1];
  CapHabitats();
  CheckLinkedList("CheckLinkedList (Dispersal end)");
}

// Trials pick among all adults; a pick from a habitat within its limit
// removes nothing, so an overfull habitat loses adults at random until it
// holds exactly the cap. (Every adult is in habitat 0 or 1 by now, so a pick
// is removed exactly when its own habitat is over the cap.)
void World::CapHabitats() {
  if (habitat0Census <= kHabitatCap && habitat1Census <= kHabitatCap) return;
  int census[kHabitats] = {habitat0Census, habitat1Census};
  const bool shown = !hooks_->MinimizeDisplay();
  OrderIndex members(adults.size());
  // Each adult's habitat, in a list small enough to stay at hand while the
  // picks jump about in the records.
  std::vector<std::uint8_t> habitatOf(adults.size());
  for (std::size_t slot = 0; slot < adults.size(); ++slot) habitatOf[slot] = adults[slot].habitat;
  LocalRng draws(rng);
  // The count is kept here rather than read back from the index after every
  // removal, which would put a round trip through memory before each draw.
  int count = static_cast<int>(members.Count());
  // While both habitats are over the cap, every pick is removed, and the
  // index finds and removes it in one walk.
  while (census[0] > kHabitatCap && census[1] > kHabitatCap) {
    const std::size_t slot = members.RemoveAt(static_cast<std::size_t>(draws.Randomize(count)));
    EraseCellOf(adults[slot], shown);
    --census[habitatOf[slot]];
    --count;
  }
  while (census[0] > kHabitatCap || census[1] > kHabitatCap) {
    const auto r = static_cast<std::size_t>(draws.Randomize(count));
    const OrderIndex::Place place = members.Find(r);
    const std::size_t slot = members.SlotAt(place);
    int& ofHabitat = census[habitatOf[slot]];
    if (ofHabitat > kHabitatCap) {
      EraseCellOf(adults[slot], shown);
      members.Remove(place);
      --ofHabitat;
      --count;
    }
  }
  habitat0Census = census[0];
  habitat1Census = census[1];
  std::size_t kept = 0;
  Individ* const records = adults.data();
  const std::size_t size = adults.size();
  for (std::size_t slot = 0; slot < size; ++slot) KeepIf(records, members.Contains(slot), slot, kept);
  adults.resize(kept);
}

}  // namespace talveron
