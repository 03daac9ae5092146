// The population of one simulation: the adult and young lists, the grid of
// occupied cells, the counters, the environment state and the phases of a
// generation. One World per simulation; it outlives its replicates, because
// the environment state carries from one replicate to the next.
//
// The lists are flat vectors in list order: index 0 is the head, back() the
// tail. Walking the list "as a ring" is index arithmetic modulo its size,
// and removing an individual keeps the order of the others.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "model/census.h"
#include "model/individual.h"
#include "model/mate_ring.h"
#include "model/model_hooks.h"
#include "model/parameters.h"
#include "model/random.h"

namespace talveron {

class World {
 public:
  explicit World(ModelHooks* hooks = nullptr);

  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // --- set-up of a replicate ---
  void SeedRandom(std::uint64_t seed);
  // Frees every adult and, when there were any, wipes the map area.
  void ClearIndividuals();
  // Founds the replicate's population on the grid.
  void InitPopulations();

  // --- the phases of one generation, in their order ---
  void Reproduction();
  void Dispersal();  // calls MortalityDuringDispersal
  void Mortality();
  // Counts the adults into geneFrequencies and shows the results.
  void TallyLinkedList();
  // After generationNumber: switches the environment when it is due.
  void ChangeEnvironmentIfDue();

  // --- operations the phases share, public for tests ---
  void MortalityDuringDispersal();
  // Removes the adult at `index` from the adult list, wiping its cell.
  void WipeIndividual(std::size_t index);
  bool CheckForCompatibility(const Individ& male, const Individ& female, int habitatmatch);
  // Reports list inconsistencies; the vectors keep themselves consistent,
  // so what is left is the beep for an empty list: a list walked from its
  // head up to its tail counts the head as one even when there is none.
  void CheckLinkedList(std::string_view /*message*/) {
    if (adults.empty()) hooks_->Beep();
  }
  void CheckYoungLinkedList(std::string_view /*message*/) {
    if (young.empty()) hooks_->Beep();
  }

  int totalAdults() const { return static_cast<int>(adults.size()); }
  int totalYoung() const { return static_cast<int>(young.size()); }
  bool CellTaken(int habitat, int x, int y) const { return map[habitat][x][y] != 0; }

  ModelHooks& hooks() { return *hooks_; }
  void SetHooks(ModelHooks* hooks);

  // --- state ---
  Parameters params;
  Rng rng;
  std::vector<Individ> adults;  // the adult list, head first
  std::vector<Individ> young;   // the young list, head first
  std::array<std::array<std::array<std::int16_t, kRows>, kColumns>, kHabitats> map{};
  int habitat0Census = 0;
  int habitat1Census = 0;
  int gCurrentViability = 2;  // 2 until the first environmental change, then 0, 1, 0, ...
  bool gFalseAlarm = false;
  int gGenerationNumber = 0;  // 0 while a replicate is set up, then 1..
  GeneFrequencies geneFrequencies;

 private:
  // The helpers below that draw take the generator as a LocalRng, held by
  // the walk that calls them (a female's turn, a phase's walk of the list).

  // The tests of one Reproduction phase whose chances stay fixed during it.
  struct MatingTests {
    // Per generalViability allele, the test of a female's death on meeting
    // one male: a draw of 0..99 below 100 less her chance in per cent to
    // survive it.
    std::array<DrawBelow, 3> diesMeetingMale{};
    DrawBelow seeksOtherHabitat;  // a draw of 0..99 below matingDispersalRate
    DrawBelow mutates;            // a draw of 0..mutationRate-1 that is 0
  };
  // `shown`: the map is drawn (the display is not minimized), read once per
  // phase; nothing inside a phase's walk can change it.
  bool ServeFemale(MateRing& members, const MatingTests& tests, bool shown);
  bool IsCompatible(LocalRng& draws, const Individ& male, const Individ& female, int habitatmatch);
  void EraseCellOf(const Individ& gone, bool shown) {
    if (shown) hooks_->ClearCell(CellLeft(gone.habitat, gone.x), CellTop(gone.y));
  }
  void MakeOffspring(LocalRng& draws, const DrawBelow& mutation, const Individ& mother, const Individ& father);
  void Mutate(LocalRng& draws, const DrawBelow& mutation, Individ& kid);
  // `migrates`: a draw of 0..99 below natalDispersalRate.
  int ChooseTargetHabitat(LocalRng& draws, const DrawBelow& migrates, const Individ& individual, int& lastTarget);
  void PlaceOnFreeCell(LocalRng& draws, Individ& individual, int target);
  void CapHabitats();
  // A survival chance in whole per cent (0..100): 0 dies without a draw;
  // otherwise the individual survives when the chance is at least a draw of
  // 0..100, that is when the draw is below the chance plus one.
  static DrawBelow SurvivalChance(int percentSurvival) { return DrawBelow(101, percentSurvival + 1); }
  static bool SurvivalTest(LocalRng& draws, const DrawBelow& chance) {
    if (chance.value() <= 1) return false;
    return draws.Below(chance);
  }
  // One step of a walk over `records` (the adult list's) that keeps the
  // adults who stay, in their order: the adult at `i` moves up to `kept` and
  // is counted only when it stays. No branch on the outcome, which the
  // processor could only guess; the test of `kept` against `i` changes once,
  // at the first adult that leaves. The walks hold the list's records and
  // size in locals, as a record's byte stores could otherwise change the
  // list's own pointers as far as the compiler knows.
  static void KeepIf(Individ* records, bool stays, std::size_t i, std::size_t& kept) {
    if (kept != i) records[kept] = records[i];
    kept += stays ? 1 : 0;
  }
  float ViabilityFactor(int generalViability) const;

  ModelHooks defaultHooks_;
  ModelHooks* hooks_;
};

// A chance in single precision, limited to 0..1, as whole per cent
// (multiplied in double precision and truncated: 0.9f gives 89).
int PercentOf(float chance);

}  // namespace talveron
