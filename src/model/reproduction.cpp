// Reproduction: females, visited in a random order, search the adult list
// for compatible mates at a cost; each successful female leaves a brood in
// the young list, and then every adult is freed. The adult list is walked as
// a ring: advancing past the tail continues at the head.
#include <array>
#include <cstddef>

#include "model/world.h"

namespace talveron {
namespace {

// What a female's turn keeps while she searches.
struct Turn {
  Individ female;
  int habitatmatch = 0;
};

// The inherited loci, habitatPref to the last neutral gene, as one run of
// bytes in the record, in the order in which their coins are drawn.
constexpr std::size_t kInheritedLoci = 7 + kNeutralGenes;
constexpr std::size_t kFirstLocus = offsetof(Individ, habitatPref);
static_assert(offsetof(Individ, habitatSpec) == kFirstLocus + 1);
static_assert(offsetof(Individ, matingPrefType) == kFirstLocus + 2);
static_assert(offsetof(Individ, matingPrefValue) == kFirstLocus + 3);
static_assert(offsetof(Individ, signalType) == kFirstLocus + 4);
static_assert(offsetof(Individ, signalValue) == kFirstLocus + 5);
static_assert(offsetof(Individ, generalViability) == kFirstLocus + 6);
static_assert(offsetof(Individ, neutralGenes) == kFirstLocus + 7);
static_assert(sizeof(Individ::neutralGenes) == kNeutralGenes);
const unsigned char* InheritedLoci(const Individ& individual) {
  return reinterpret_cast<const unsigned char*>(&individual) + kFirstLocus;
}
unsigned char* InheritedLoci(Individ& individual) {
  return reinterpret_cast<unsigned char*>(&individual) + kFirstLocus;
}

int Clamp(int value, int low, int high) { return value < low ? low : (value > high ? high : value); }

// `steps` (at most the ring's size) steps on from `position` in a ring of
// `size`: past the tail the walk goes on at the head. One subtraction does
// what a division would, because position + steps stays below twice the size.
std::size_t AdvanceOnRing(std::size_t position, std::size_t steps, std::size_t size) {
  position += steps;
  return position >= size ? position - size : position;
}

}  // namespace

void World::Reproduction() {
  hooks_->ShowInfo("Reproduction");
  CheckLinkedList("Reproduction start");
  young.clear();

  const bool shown = !hooks_->MinimizeDisplay();
  // The list in order, as positions into `adults`: served females and,
  // with gMalesMateOnce, their mates leave it; the records stay in place
  // until every female has had her turn.
  MateRing members(adults);
  // Search cost: a female's chance to survive meeting one male, which
  // depends on nothing but her generalViability allele and stays fixed
  // during the phase, worked out once per allele, as are the other tests
  // whose chances are parameters.
  MatingTests tests;
  for (std::size_t allele = 0; allele < tests.diesMeetingMale.size(); ++allele) {
    float viabilityFactor = 1.0f;
    if (params.gIncludeGeneralViability && allele != kNeutralAllele) {
      viabilityFactor = ViabilityFactor(static_cast<int>(allele));
    }
    const float adjustedSurvival = (1.0f - params.gSearchCost) * viabilityFactor;
    tests.diesMeetingMale[allele] = DrawBelow(100, 100 - PercentOf(adjustedSurvival));
  }
  tests.seeksOtherHabitat = DrawBelow(100, params.matingDispersalRate);
  tests.mutates = DrawBelow(params.mutationRate, 1);
  while (members.size() > 1) {
    if (!ServeFemale(members, tests, shown)) break;  // no female was left to serve
  }

  if (members.size() == 0) adults.clear();
  ClearIndividuals();
  if (!adults.empty()) hooks_->ShowError("Reproduction -- final totalAdults not zero");
}

// The compatibility test, inline in the mate search, which makes it for
// every male a female survives meeting.
inline bool World::IsCompatible(LocalRng& draws, const Individ& male, const Individ& female,
                                int habitatmatch) {
  const int target = params.gMatingPrefTarget;
  const int trait = target == 0 ? male.matingPrefType : (target == 1 ? male.habitatSpec : male.signalType);
  if (params.restrictedMatingDispersal && male.habitat != habitatmatch) return false;
  if (female.matingPrefType == kNeutralAllele) return true;
  if (target != 2) return trait == female.matingPrefType;

  if (male.signalType != female.matingPrefType) {  // a false alarm, or nothing
    if (draws.Randomize(100) < params.gFalseAlarmRate / (female.matingPrefValue + 1)) {
      gFalseAlarm = true;
      return true;
    }
    return false;
  }
  if (female.matingPrefValue == 0) return true;

  float actualSignalValue = static_cast<float>(male.signalValue) * ViabilityFactor(male.generalViability);
  if (actualSignalValue > 9.0f) actualSignalValue = 9.0f;
  if (actualSignalValue < 0.0f) actualSignalValue = 0.0f;
  if (actualSignalValue > static_cast<float>(female.matingPrefValue)) return true;

  // A missed detection.
  const int r = draws.Randomize(100);
  return static_cast<float>(params.gMissedDetectionRate) / (actualSignalValue + 1.0f) > static_cast<float>(r);
}

// Serves one female; returns false, changing nothing, when none is left.
bool World::ServeFemale(MateRing& members, const MatingTests& tests, bool shown) {
  LocalRng draws(rng);
  // The first female at or after a random point of the ring.
  std::size_t n = members.size();
  const auto start = static_cast<std::size_t>(draws.Randomize(static_cast<int>(n)));
  std::size_t position = AdvanceOnRing(0, start + 1, n);
  position = members.FirstFemaleFrom(position);
  if (position == n) return false;

  Turn turn;
  turn.female = adults[members.AdultAt(position)];
  // The habitat she searches: from habitat 0 a draw may send her to 1, and
  // from 1 (where she was born or was just sent) a draw may send her to 0.
  // Either habitat (every adult lives in 0 or 1) makes the first draw, so
  // it is made before any branch on her habitat, which the processor could
  // not guess.
  const bool fromZero = turn.female.habitat == 0;
  const bool moves = draws.Below(tests.seeksOtherHabitat);
  turn.habitatmatch = fromZero != moves ? 0 : 1;
  if (fromZero && moves && draws.Below(tests.seeksOtherHabitat)) turn.habitatmatch = 0;

  EraseCellOf(turn.female, shown);
  members.Erase(position);
  position = 0;  // the search starts from the head
  n = members.size();

  // Search cost: the test of her death on meeting one male. With no chance
  // to survive it she dies without a draw.
  const DrawBelow& diesMeetingMale = tests.diesMeetingMale[static_cast<std::size_t>(turn.female.generalViability)];
  const bool diesSurely = diesMeetingMale.value() >= 100;

  gFalseAlarm = false;
  bool compatible = false;
  bool femaleDiedTrying = false;
  long possibleMatesChecked = 0;
  if (n >= 1) {
    for (;;) {
      position = AdvanceOnRing(position, static_cast<std::size_t>(draws.Randomize(static_cast<int>(n))), n);
      ++possibleMatesChecked;
      femaleDiedTrying = possibleMatesChecked > 4 * static_cast<long>(n);
      if (members.MaleAt(position)) {
        const Individ& candidate = adults[members.AdultAt(position)];
        if (diesSurely || draws.Below(diesMeetingMale)) {
          femaleDiedTrying = true;
          break;
        }
        compatible = IsCompatible(draws, candidate, turn.female, turn.habitatmatch);
        if (compatible) break;
      }
      if (femaleDiedTrying) break;
    }
  }
  if (!compatible || femaleDiedTrying) return true;

  const Individ male = adults[members.AdultAt(position)];
  if (params.gMalesMateOnce) {
    EraseCellOf(male, shown);
    members.Erase(position);
  }

  int kids = params.numberOfKids;
  if (gFalseAlarm) kids = params.numberOfKids / params.gFalseAlarmPayoff;
  for (int kid = 0; kid < kids; ++kid) MakeOffspring(draws, tests.mutates, turn.female, male);
  return true;
}

bool World::CheckForCompatibility(const Individ& male, const Individ& female, int habitatmatch) {
  LocalRng draws(rng);
  return IsCompatible(draws, male, female, habitatmatch);
}

// Inline: it runs for every offspring, between the draws of its inheritance.
inline void World::Mutate(LocalRng& draws, const DrawBelow& mutation, Individ& kid) {
  auto mutates = [&draws, &mutation] { return draws.Below(mutation); };
  // An allele becomes neutral; the neutral allele becomes 0 or 1.
  auto flipAllele = [&draws](auto& locus) {
    using Allele = std::remove_reference_t<decltype(locus)>;
    locus = locus == kNeutralAllele ? static_cast<Allele>(draws.Randomize(2)) : kNeutralAllele;
  };
  auto stepValue = [&draws](std::uint8_t& value) {
    const int step = draws.Randomize(2) == 1 ? 1 : -1;
    value = static_cast<std::uint8_t>(Clamp(value + step, 0, 9));
  };

  if (mutates()) flipAllele(kid.habitatPref);
  if (mutates()) flipAllele(kid.habitatSpec);
  if (params.gIncludeSignalValue && mutates()) stepValue(kid.matingPrefValue);
  if (mutates()) {
    flipAllele(kid.matingPrefType);
    if (kid.matingPrefType == kNeutralAllele) kid.matingPrefValue = 0;
  }
  const bool signals = params.gMatingPrefTarget == 2;
  if (signals && params.gIncludeSignalValue && mutates()) stepValue(kid.signalValue);
  if (signals && mutates()) {
    flipAllele(kid.signalType);
    if (kid.signalType == kNeutralAllele) kid.signalValue = 0;
  }
  if (params.gIncludeGeneralViability && mutates()) flipAllele(kid.generalViability);
  if (params.gIncludeNeutralGenes) {
    for (auto& gene : kid.neutralGenes) {
      if (mutates()) gene = gene == 0 ? 1 : 0;
    }
  }
}

inline void World::MakeOffspring(LocalRng& draws, const DrawBelow& mutation, const Individ& mother,
                                 const Individ& father) {
  // One Randomize(2) per locus, in the order habitatPref, habitatSpec,
  // matingPrefType, matingPrefValue, signalType, signalValue,
  // generalViability, neutralGenes[0..9], then one for the sex. They are
  // all drawn first, in that order, and applied afterwards: nothing between
  // them depends on another draw, and a run of bare draws is what the
  // generator does fastest. A coin of 1 picks the father's allele, 0 the
  // mother's; here it comes as a byte of all ones or all zeros.
  std::array<std::uint8_t, kInheritedLoci + 1> coins;  // the loci's, then the sex's
  draws.Coins(coins);
  const bool male = coins[kInheritedLoci] != 0;

  // The loci lie side by side in the record, in the order of their coins,
  // so each byte of the kid's is its father's where the coin's byte is all
  // ones and its mother's where it is zero: one blend of the two records
  // (the vector unit does it several bytes at a time), never a branch on a
  // coin, which the processor could only guess.
  Individ& kid = young.emplace_back();  // appended at the tail, its fields set below
  const unsigned char* const maternal = InheritedLoci(mother);
  const unsigned char* const paternal = InheritedLoci(father);
  unsigned char* const loci = InheritedLoci(kid);
  for (std::size_t i = 0; i < kInheritedLoci; ++i) {
    loci[i] = static_cast<unsigned char>((maternal[i] & ~coins[i]) | (paternal[i] & coins[i]));
  }
  kid.sex = male;
  Mutate(draws, mutation, kid);
  kid.habitat = father.habitat;
  CheckYoungLinkedList("end one kid");
}

}  // namespace talveron
