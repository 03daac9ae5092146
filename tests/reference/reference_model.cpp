// The reference model: every phase written out the long way, on a doubly
// linked list with one shared cursor, drawing its random numbers in exactly
// the order the model prescribes (draws whose outcome changes nothing
// included). Display calls, waits and messages do nothing here; the list
// consistency checks are left out, as they change nothing.
#include "reference_model.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace talveron::reference {
namespace {

constexpr int kHabitats = 2;
constexpr int kColumns = 32;
constexpr int kRows = 40;
constexpr std::int16_t kCellsPerHabitat = 1280;
constexpr std::int16_t kHabitatCap = 640;  // half of a habitat's cells
constexpr int kNeutralGenes = 10;

// One individual, a node of the adult list or of the young list.
struct Individ {
  std::uint16_t habitat = 0;
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  bool sex = false;  // false is a female
  std::uint16_t habitatPref = 2;
  std::uint16_t habitatSpec = 2;
  std::uint16_t matingPrefType = 2;
  std::uint16_t matingPrefValue = 0;
  std::uint16_t signalType = 2;
  std::uint16_t signalValue = 0;
  std::int16_t generalViability = 2;
  std::uint16_t neutralGenes[kNeutralGenes] = {};
  Individ* next = nullptr;
  Individ* previous = nullptr;
};

// The platform generator: xoshiro256** seeded through SplitMix64, reduced
// to 16-bit values uniform on -32767..32767.
class PlatformRandom {
 public:
  void Seed(std::uint64_t seed) {
    std::uint64_t x = seed;
    for (std::uint64_t& word : s_) word = SplitMix64(x);
  }

  std::int16_t Random() {
    std::uint64_t v = Next() >> 48;
    while (v == 65535) v = Next() >> 48;
    return static_cast<std::int16_t>(static_cast<std::int32_t>(v) - 32767);
  }

 private:
  static std::uint64_t Rotl(std::uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
  }

  static std::uint64_t SplitMix64(std::uint64_t& x) {
    x += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = x;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

  std::uint64_t Next() {
    const std::uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return result;
  }

  std::uint64_t s_[4] = {};
};

// A chance in single precision, limited to 0..1, in whole per cent: times
// 100 in double precision, truncated.
std::int16_t WholePercent(float chance) {
  if (chance > 1.0f) chance = 1.0f;
  if (chance < 0.0f) chance = 0.0f;
  return static_cast<std::int16_t>(static_cast<double>(chance) * 100.0);
}

// The truncated per-mille of count among total; an empty habitat gives 0.
std::int32_t PerMille(std::int32_t count, std::int32_t total) {
  if (total == 0) return 0;
  return (1000 * count) / total;
}

std::string NumToString(std::int32_t number) { return std::to_string(number); }

class Model {
 public:
  Model(const ReferenceParameters& parameters, const ReferenceRecording& recording)
      : p_(parameters), rec_(recording) {}

  ~Model() { ClearIndividuals(); }

  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  ReferenceOutput RunSeries(const ReferenceSeries& series);

 private:
  // Random numbers.
  std::int16_t Randomize(std::int16_t range);
  bool SurvivalTest(std::int16_t percentSurvival);

  // The lists.
  void WipeIndividual();
  void ClearIndividuals();
  void AdvanceInRing();

  // The phases.
  void InitPopulations();
  void Reproduction();
  bool CheckForCompatibility(const Individ* male, const Individ& femalePartner, std::int16_t habitatmatch);
  void MakeOffspring(const Individ& femalePartner, const Individ& malePartner);
  void Mutate(Individ& kid);
  std::uint16_t MutatedAllele(std::uint16_t allele);
  std::uint16_t MutatedValue(std::uint16_t value);
  void Dispersal();
  std::int16_t ChooseTargetHabitat(const Individ& individual, std::int16_t lastTarget);
  void MortalityDuringDispersal();
  void Mortality();
  void EnvironmentalChange();

  // Census and recording.
  void TallyLinkedList();
  void AppendTraceLines();
  void GetGenerationFrequencies();
  void GetData();
  void EvaluateTimedCriteria();
  void AverageLeftHabitat();
  void WriteInitialFields();
  void WriteReplicateData();
  void WriteStringToFile();

  const ReferenceParameters p_;
  const ReferenceRecording rec_;
  PlatformRandom random_;

  // The lists, their counts and the shared cursor.
  Individ* adultsHeadPtr = nullptr;
  Individ* adultsTailPtr = nullptr;
  Individ* youngHeadPtr = nullptr;
  Individ* youngTailPtr = nullptr;
  Individ* currentPtr = nullptr;
  std::int16_t totalAdults = 0;
  std::int16_t totalYoung = 0;

  // The grid of the current generation's placement, and how many of each
  // habitat's cells it has marked.
  std::int16_t map[kHabitats][kColumns][kRows] = {};
  std::int16_t markedCells[kHabitats] = {};
  std::int16_t habitat0Census = 0;
  std::int16_t habitat1Census = 0;

  // Model state that is not a parameter.
  std::int16_t gCurrentViability = 2;
  bool gFalseAlarm = false;

  // Run control.
  std::int32_t gTotalGenerations = 0;
  std::int32_t gTotalReplicates = 0;
  std::int32_t gReplicateNumber = 0;
  std::int32_t gGenerationNumber = 0;

  // Census.
  std::int16_t geneFrequencies[2][3][3][3] = {};
  std::int16_t gHabitatTotal[2] = {};
  std::int16_t gHabitatSpecTotal[2][3] = {};
  std::int16_t gMatingPrefTotal[2][3] = {};
  std::int16_t gRed[2] = {};
  std::int16_t gBlu[2] = {};

  // Criteria and running averages.
  std::int32_t gNumbersAveraged = 0;
  std::int32_t gSumOfLeftHabitatTotal = 0;
  std::int32_t gSumOfLeftHabitatPreference = 0;
  std::int32_t gSumOfLeftHabitatSpecialization = 0;
  std::int32_t gSumOfLeftHabitatMatingPreference = 0;
  std::int32_t gGenerationWithHabitatPreferences50 = 0;
  std::int32_t gGenerationWithHabitatSpecialization50 = 0;
  std::int32_t gGenerationWithHabitatSpecialization95 = 0;
  std::int32_t gGenerationWithMatingPreference50 = 0;
  std::int32_t gGenerationWithMatingPreference95 = 0;
  bool gLeftHabitatRedPreference = false;
  bool gPreferenceFad = false;

  // The pending data text, the file written so far and the trace.
  std::string gDataString;
  std::string file_;
  std::string trace_;
};

// ---------------------------------------------------------------------------
// Random numbers

std::int16_t Model::Randomize(std::int16_t range) {
  const std::int32_t r = random_.Random();
  const std::int32_t magnitude = r < 0 ? -r : r;
  const std::int32_t product = static_cast<std::int32_t>(range) * magnitude;
  const std::int32_t quotient = product / 32768;
  // The low 16 bits of the quotient, as a signed short. A result outside
  // 0..range-1 would be reported and used all the same.
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(quotient & 0xFFFF));
}

// Dies without a draw at 0; otherwise survives when the chance is at least
// a draw of 0..100.
bool Model::SurvivalTest(std::int16_t percentSurvival) {
  if (percentSurvival == 0) return false;
  const std::int16_t r = Randomize(101);
  return percentSurvival >= r;
}

// ---------------------------------------------------------------------------
// The lists

// Unlinks and frees the adult at the cursor; the cursor becomes null.
void Model::WipeIndividual() {
  if (currentPtr == nullptr) std::abort();  // "WipeIndividual() recieves null pointer!"
  Individ* dead = currentPtr;
  if (dead == adultsHeadPtr && dead == adultsTailPtr) {
    adultsHeadPtr = nullptr;
    adultsTailPtr = nullptr;
  } else if (dead == adultsHeadPtr) {
    adultsHeadPtr = dead->next;
    adultsHeadPtr->previous = nullptr;
  } else if (dead == adultsTailPtr) {
    adultsTailPtr = dead->previous;
    adultsTailPtr->next = nullptr;
  } else {
    dead->previous->next = dead->next;
    dead->next->previous = dead->previous;
  }
  delete dead;
  currentPtr = nullptr;
}

// Frees every adult, counting totalAdults down to 0.
void Model::ClearIndividuals() {
  currentPtr = adultsHeadPtr;
  while (totalAdults > 0) {
    Individ* freed = currentPtr;
    if (currentPtr != adultsTailPtr) currentPtr = currentPtr->next;
    delete freed;
    --totalAdults;
  }
  adultsHeadPtr = nullptr;
  adultsTailPtr = nullptr;
  currentPtr = nullptr;
}

// One step along the adult list taken as a ring: from the tail to the head.
void Model::AdvanceInRing() { currentPtr = (currentPtr == adultsTailPtr) ? adultsHeadPtr : currentPtr->next; }

// ---------------------------------------------------------------------------
// Founding

void Model::InitPopulations() {
  totalAdults = 0;
  currentPtr = nullptr;
  adultsHeadPtr = nullptr;
  adultsTailPtr = nullptr;
  const int habitatsToPopulate = p_.initiallyOneHabitat ? 1 : 2;
  for (int habitat = 0; habitat < habitatsToPopulate; ++habitat) {
    for (int x = 0; x < kColumns; ++x) {
      for (int y = 0; y < kRows; ++y) {
        if (!(Randomize(8) < p_.density)) continue;
        Individ* founder = new Individ;
        founder->habitat = static_cast<std::uint16_t>(habitat);
        founder->x = static_cast<std::uint16_t>(x);
        founder->y = static_cast<std::uint16_t>(y);
        founder->habitatPref = 2;
        founder->habitatSpec = 2;
        founder->matingPrefType = 2;
        founder->matingPrefValue = 0;
        founder->signalType = 2;
        founder->signalValue = 0;
        founder->generalViability = 2;
        founder->sex = Randomize(2) != 0;
        for (std::uint16_t& gene : founder->neutralGenes) gene = 0;
        if (currentPtr != nullptr) {
          founder->previous = currentPtr;
          currentPtr->next = founder;
        } else {
          adultsHeadPtr = founder;
          founder->previous = nullptr;
        }
        currentPtr = founder;
        ++totalAdults;
      }
    }
  }
  adultsTailPtr = currentPtr;
  if (adultsTailPtr != nullptr) adultsTailPtr->next = nullptr;
}

// ---------------------------------------------------------------------------
// Reproduction

void Model::Reproduction() {
  youngHeadPtr = nullptr;
  youngTailPtr = nullptr;
  totalYoung = 0;
  currentPtr = adultsHeadPtr;

  while (totalAdults > 1) {
    // A random starting point, then the first female at or after it.
    currentPtr = adultsHeadPtr;
    const std::int16_t start = Randomize(totalAdults);
    for (int step = 0; step < start + 1; ++step) AdvanceInRing();
    std::int16_t leftToCheck = totalAdults;
    while (currentPtr->sex && leftToCheck > 0) {
      AdvanceInRing();
      --leftToCheck;
    }
    if (currentPtr->sex) break;  // no female left

    // Where she looks for a mate.
    std::int16_t habitatmatch = static_cast<std::int16_t>(currentPtr->habitat);
    if (habitatmatch == 0) {
      if (Randomize(100) < p_.matingDispersalRate) habitatmatch = 1;
    }
    if (habitatmatch == 1) {
      if (Randomize(100) < p_.matingDispersalRate) habitatmatch = 0;
    }

    // She leaves the adult list, whatever comes of her search.
    const Individ femalePartner = *currentPtr;
    WipeIndividual();
    --totalAdults;
    currentPtr = adultsHeadPtr;

    // The cost of meeting one male.
    float viabilityFactor = 1.0f;
    if (p_.gIncludeGeneralViability && femalePartner.generalViability != 2) {
      viabilityFactor =
          (femalePartner.generalViability == gCurrentViability) ? p_.gViabilityFactor : -p_.gViabilityFactor;
    }
    const float adjustedSurvival = (1 - p_.gSearchCost) * viabilityFactor;
    const std::int16_t percentSurvival = WholePercent(adjustedSurvival);

    gFalseAlarm = false;

    // The mate search.
    bool compatible = false;
    bool femaleDiedTrying = false;
    std::int16_t possibleMatesChecked = 0;
    if (totalAdults >= 1) {
      for (;;) {
        const std::int16_t steps = Randomize(totalAdults);
        for (int step = 0; step < steps; ++step) AdvanceInRing();
        ++possibleMatesChecked;
        femaleDiedTrying = possibleMatesChecked > 4 * totalAdults;
        if (currentPtr->sex) {
          if (percentSurvival == 0) {
            femaleDiedTrying = true;
            break;
          }
          if (Randomize(100) < 100 - percentSurvival) {
            femaleDiedTrying = true;
            break;
          }
          compatible = CheckForCompatibility(currentPtr, femalePartner, habitatmatch);
          if (compatible) break;
        }
        if (femaleDiedTrying) break;
      }
    }

    if (!(compatible && !femaleDiedTrying)) continue;
    const Individ malePartner = *currentPtr;
    if (p_.gMalesMateOnce) {
      WipeIndividual();
      --totalAdults;
    }

    std::int16_t kids = p_.numberOfKids;
    if (gFalseAlarm) kids = static_cast<std::int16_t>(p_.numberOfKids / p_.gFalseAlarmPayoff);
    for (int kid = 0; kid < kids; ++kid) MakeOffspring(femalePartner, malePartner);
  }

  ClearIndividuals();
}

bool Model::CheckForCompatibility(const Individ* male, const Individ& femalePartner,
                                  std::int16_t habitatmatch) {
  const std::int16_t target = p_.gMatingPrefTarget;
  std::uint16_t trait;
  if (target == 0) {
    trait = male->matingPrefType;
  } else if (target == 1) {
    trait = male->habitatSpec;
  } else {
    trait = male->signalType;
  }

  if (p_.restrictedMatingDispersal && male->habitat != habitatmatch) return false;
  if (femalePartner.matingPrefType == 2) return true;
  if (target != 2) return trait == femalePartner.matingPrefType;

  if (male->signalType != femalePartner.matingPrefType) {
    // A false alarm: her threshold divides the chance.
    const std::int16_t r = Randomize(100);
    if (r < p_.gFalseAlarmRate / (femalePartner.matingPrefValue + 1)) {
      gFalseAlarm = true;
      return true;
    }
    return false;
  }
  if (femalePartner.matingPrefValue == 0) return true;

  float viabilityFactor;
  if (male->generalViability == 2) {
    viabilityFactor = 1.0f;
  } else if (male->generalViability == gCurrentViability) {
    viabilityFactor = p_.gViabilityFactor;
  } else {
    viabilityFactor = -p_.gViabilityFactor;
  }
  float actualSignalValue = male->signalValue * viabilityFactor;
  if (actualSignalValue > 9.0f) actualSignalValue = 9.0f;
  if (actualSignalValue < 0.0f) actualSignalValue = 0.0f;
  if (actualSignalValue > femalePartner.matingPrefValue) return true;

  // A missed detection: the weaker his signal, the likelier.
  const std::int16_t r = Randomize(100);
  return p_.gMissedDetectionRate / (actualSignalValue + 1) > r;
}

void Model::MakeOffspring(const Individ& femalePartner, const Individ& malePartner) {
  Individ* kid = new Individ;
  kid->habitatPref = Randomize(2) == 1 ? malePartner.habitatPref : femalePartner.habitatPref;
  kid->habitatSpec = Randomize(2) == 1 ? malePartner.habitatSpec : femalePartner.habitatSpec;
  kid->matingPrefType = Randomize(2) == 1 ? malePartner.matingPrefType : femalePartner.matingPrefType;
  kid->matingPrefValue = Randomize(2) == 1 ? malePartner.matingPrefValue : femalePartner.matingPrefValue;
  kid->signalType = Randomize(2) == 1 ? malePartner.signalType : femalePartner.signalType;
  kid->signalValue = Randomize(2) == 1 ? malePartner.signalValue : femalePartner.signalValue;
  kid->generalViability = Randomize(2) == 1 ? malePartner.generalViability : femalePartner.generalViability;
  for (int gene = 0; gene < kNeutralGenes; ++gene) {
    kid->neutralGenes[gene] =
        Randomize(2) == 1 ? malePartner.neutralGenes[gene] : femalePartner.neutralGenes[gene];
  }
  kid->sex = Randomize(2) == 1;
  Mutate(*kid);
  kid->habitat = malePartner.habitat;

  if (youngTailPtr == nullptr) {
    youngHeadPtr = kid;
    youngTailPtr = kid;
    kid->previous = nullptr;
    kid->next = nullptr;
  } else {
    youngTailPtr->next = kid;
    kid->previous = youngTailPtr;
    youngTailPtr = kid;
    kid->next = nullptr;
  }
  ++totalYoung;
}

// A two-allele locus: the neutral 2 becomes 0 or 1, and 0 or 1 becomes 2.
std::uint16_t Model::MutatedAllele(std::uint16_t allele) {
  if (allele == 2) return static_cast<std::uint16_t>(Randomize(2));
  return 2;
}

// A strength of 0..9 takes one step up or down and stays within 0..9.
std::uint16_t Model::MutatedValue(std::uint16_t value) {
  int changed = value;
  if (Randomize(2) == 1) {
    ++changed;
  } else {
    --changed;
  }
  if (changed > 9) changed = 9;
  if (changed < 0) changed = 0;
  return static_cast<std::uint16_t>(changed);
}

// The mutation table, row by row; a row whose condition is false draws
// nothing.
void Model::Mutate(Individ& kid) {
  const std::int16_t rate = p_.mutationRate;
  if (Randomize(rate) == 0) kid.habitatPref = MutatedAllele(kid.habitatPref);
  if (Randomize(rate) == 0) kid.habitatSpec = MutatedAllele(kid.habitatSpec);
  if (p_.gIncludeSignalValue) {
    if (Randomize(rate) == 0) kid.matingPrefValue = MutatedValue(kid.matingPrefValue);
  }
  if (Randomize(rate) == 0) {
    if (kid.matingPrefType == 2) {
      kid.matingPrefType = static_cast<std::uint16_t>(Randomize(2));
    } else {
      kid.matingPrefType = 2;
      kid.matingPrefValue = 0;
    }
  }
  if (p_.gMatingPrefTarget == 2 && p_.gIncludeSignalValue) {
    if (Randomize(rate) == 0) kid.signalValue = MutatedValue(kid.signalValue);
  }
  if (p_.gMatingPrefTarget == 2) {
    if (Randomize(rate) == 0) {
      if (kid.signalType == 2) {
        kid.signalType = static_cast<std::uint16_t>(Randomize(2));
      } else {
        kid.signalType = 2;
        kid.signalValue = 0;
      }
    }
  }
  if (p_.gIncludeGeneralViability) {
    if (Randomize(rate) == 0) {
      kid.generalViability = kid.generalViability == 2 ? Randomize(2) : static_cast<std::int16_t>(2);
    }
  }
  if (p_.gIncludeNeutralGenes) {
    for (std::uint16_t& gene : kid.neutralGenes) {
      if (Randomize(rate) == 0) gene = gene == 1 ? 0 : 1;
    }
  }
}

// ---------------------------------------------------------------------------
// Dispersal

std::int16_t Model::ChooseTargetHabitat(const Individ& individual, std::int16_t lastTarget) {
  std::int16_t t;
  if (p_.restrictedNatalDispersal) {
    if (individual.habitat == 0) {
      t = Randomize(100) < p_.natalDispersalRate ? 1 : 0;
    } else if (p_.asymmetricalNatalDispersal) {
      t = 1;
    } else {
      t = Randomize(100) < p_.natalDispersalRate ? 0 : 1;
    }
  } else {
    switch (individual.habitatPref) {
      case 0:
        t = 0;
        break;
      case 1:
        t = 1;
        break;
      case 2:
        t = Randomize(2);
        break;
      default:
        t = lastTarget;
        break;
    }
    // "Dispersal (habitat value)"; with no earlier target, habitat 0.
    if (t != 0 && t != 1) t = 0;
  }
  return t;
}

void Model::Dispersal() {
  // The young become the adults; the young list's own pointers go stale.
  adultsHeadPtr = youngHeadPtr;
  adultsTailPtr = youngTailPtr;
  totalAdults = totalYoung;
  currentPtr = adultsHeadPtr;

  MortalityDuringDispersal();

  for (auto& habitat : map) {
    for (auto& column : habitat) {
      for (std::int16_t& cell : column) cell = 0;
    }
  }
  markedCells[0] = 0;
  markedCells[1] = 0;

  // Settle every survivor on a free cell of its target habitat. One that
  // finds its target habitat full dies there.
  std::int16_t placed = 0;
  std::int16_t lastTarget = 2;
  currentPtr = adultsHeadPtr;
  while (placed < totalAdults) {
    const std::int16_t t = ChooseTargetHabitat(*currentPtr, lastTarget);
    lastTarget = t;
    if (markedCells[t] == kCellsPerHabitat) {
      Individ* nextPtr = currentPtr->next;
      WipeIndividual();
      --totalAdults;
      currentPtr = nextPtr;
      continue;
    }
    std::int16_t x;
    std::int16_t y;
    do {
      x = Randomize(kColumns);
      y = Randomize(kRows);
    } while (map[t][x][y] != 0);
    map[t][x][y] = 1;
    ++markedCells[t];
    currentPtr->habitat = static_cast<std::uint16_t>(t);
    currentPtr->x = static_cast<std::uint16_t>(x);
    currentPtr->y = static_cast<std::uint16_t>(y);
    ++placed;
    if (currentPtr != adultsTailPtr) currentPtr = currentPtr->next;
  }

  // The census of the placed generation.
  habitat0Census = 0;
  habitat1Census = 0;
  currentPtr = adultsHeadPtr;
  for (int counted = 0; counted < totalAdults; ++counted) {
    if (currentPtr->habitat == 0) ++habitat0Census;
    if (currentPtr->habitat == 1) ++habitat1Census;
    if (currentPtr != adultsTailPtr) currentPtr = currentPtr->next;
  }

  // Hold each habitat to 640 adults, picking among all adults at random.
  while (habitat0Census > kHabitatCap || habitat1Census > kHabitatCap) {
    const std::int16_t r = Randomize(totalAdults);
    currentPtr = adultsHeadPtr;
    for (int step = 0; step < r; ++step) AdvanceInRing();
    if (currentPtr->habitat == 0 && habitat0Census > kHabitatCap) {
      WipeIndividual();
      --habitat0Census;
      --totalAdults;
    } else if (currentPtr->habitat == 1 && habitat1Census > kHabitatCap) {
      WipeIndividual();
      --habitat1Census;
      --totalAdults;
    }
  }
}

// ---------------------------------------------------------------------------
// Mortality

void Model::MortalityDuringDispersal() {
  currentPtr = adultsHeadPtr;
  while (currentPtr != nullptr) {
    float viabilityFactor;
    if (currentPtr->generalViability == 2) {
      viabilityFactor = 1.0f;
    } else if (currentPtr->generalViability == gCurrentViability) {
      viabilityFactor = p_.gViabilityFactor;
    } else {
      viabilityFactor = -p_.gViabilityFactor;
    }
    const std::int16_t percentSurvival = WholePercent(viabilityFactor);
    Individ* nextPtr = currentPtr->next;
    if (!SurvivalTest(percentSurvival)) {
      WipeIndividual();
      --totalAdults;
    }
    currentPtr = nextPtr;
  }
}

void Model::Mortality() {
  const float fdensity = p_.density;
  const float maxAdults = static_cast<float>(static_cast<double>(fdensity) * 640 * 0.125);
  float basicSurvival0 = 1.0f;
  float basicSurvival1 = 1.0f;
  if (habitat0Census != 0) basicSurvival0 = maxAdults / habitat0Census;
  if (habitat1Census != 0) basicSurvival1 = maxAdults / habitat1Census;
  if (basicSurvival0 > 1.0f) basicSurvival0 = 1.0f;
  if (basicSurvival1 > 1.0f) basicSurvival1 = 1.0f;

  currentPtr = adultsHeadPtr;
  while (currentPtr != nullptr) {
    const float basicSurvival = currentPtr->habitat == 1 ? basicSurvival1 : basicSurvival0;
    const float delta = basicSurvival * p_.selectionFactor;
    float adjustedSurvival;
    if (currentPtr->habitatSpec == currentPtr->habitat) {
      adjustedSurvival = basicSurvival + delta;
    } else if (currentPtr->habitatSpec != 2) {
      adjustedSurvival = basicSurvival - delta;
    } else {
      adjustedSurvival = basicSurvival;
    }
    const std::int16_t percentSurvival = WholePercent(adjustedSurvival);
    Individ* nextPtr = currentPtr->next;
    if (!SurvivalTest(percentSurvival)) {
      WipeIndividual();
      --totalAdults;
    }
    currentPtr = nextPtr;
  }
}

void Model::EnvironmentalChange() {
  if (gGenerationNumber % p_.gGenerationsToEnvironmentalChange == 0) {
    gCurrentViability = gCurrentViability == 0 ? 1 : 0;
  }
}

// ---------------------------------------------------------------------------
// Census

void Model::TallyLinkedList() {
  std::memset(geneFrequencies, 0, sizeof geneFrequencies);
  currentPtr = adultsHeadPtr;
  for (int counted = 0; counted < totalAdults; ++counted) {
    ++geneFrequencies[currentPtr->habitat][currentPtr->habitatSpec][currentPtr->habitatPref]
                     [currentPtr->matingPrefType];
    if (currentPtr != adultsTailPtr) currentPtr = currentPtr->next;
  }
}

void Model::AppendTraceLines() {
  for (int h = 0; h < 2; ++h) {
    int adults = 0;
    int specialization[3] = {};
    int preference[3] = {};
    int mating[3] = {};
    for (int s = 0; s < 3; ++s) {
      for (int p = 0; p < 3; ++p) {
        for (int m = 0; m < 3; ++m) {
          const int c = geneFrequencies[h][s][p][m];
          adults += c;
          specialization[s] += c;
          preference[p] += c;
          mating[m] += c;
        }
      }
    }
    trace_ += NumToString(gReplicateNumber) + "\t" + NumToString(gGenerationNumber) + "\t" + NumToString(h) +
              "\t" + NumToString(adults);
    for (const int* counts : {specialization, preference, mating}) {
      for (int v = 0; v < 3; ++v) trace_ += "\t" + NumToString(counts[v]);
    }
    trace_ += "\n";
  }
}

void Model::GetGenerationFrequencies() {
  for (int h = 0; h < 2; ++h) {
    gHabitatTotal[h] = 0;
    gRed[h] = 0;
    gBlu[h] = 0;
    for (int v = 0; v < 3; ++v) {
      gMatingPrefTotal[h][v] = 0;
      gHabitatSpecTotal[h][v] = 0;
    }
  }
  for (int h = 0; h < 2; ++h) {
    for (int s = 0; s < 3; ++s) {
      for (int p = 0; p < 3; ++p) {
        for (int m = 0; m < 3; ++m) {
          const std::int16_t c = geneFrequencies[h][s][p][m];
          gHabitatTotal[h] = static_cast<std::int16_t>(gHabitatTotal[h] + c);
          gHabitatSpecTotal[h][s] = static_cast<std::int16_t>(gHabitatSpecTotal[h][s] + c);
          gMatingPrefTotal[h][m] = static_cast<std::int16_t>(gMatingPrefTotal[h][m] + c);
        }
      }
    }
  }
  for (int h = 0; h < 2; ++h) {
    for (int s = 0; s < 3; ++s) {
      for (int m = 0; m < 3; ++m) {
        gRed[h] = static_cast<std::int16_t>(gRed[h] + geneFrequencies[h][s][0][m]);
        gBlu[h] = static_cast<std::int16_t>(gBlu[h] + geneFrequencies[h][s][1][m]);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Criteria and running averages

void Model::GetData() {
  GetGenerationFrequencies();
  if (rec_.gGetTimedCriteria) {
    EvaluateTimedCriteria();
    return;
  }
  AverageLeftHabitat();
}

void Model::EvaluateTimedCriteria() {
  const std::int32_t left = gHabitatTotal[0];
  const std::int32_t right = gHabitatTotal[1];

  if (gGenerationWithHabitatPreferences50 == 0) {
    if (PerMille(gRed[0], left) > 500 && PerMille(gBlu[1], right) > 500) {
      gGenerationWithHabitatPreferences50 = gGenerationNumber;
    }
  }
  if (gGenerationWithHabitatSpecialization50 == 0) {
    if (PerMille(gHabitatSpecTotal[0][0], left) > 500 && PerMille(gHabitatSpecTotal[1][1], right) > 500) {
      gGenerationWithHabitatSpecialization50 = gGenerationNumber;
    }
  }
  if (gGenerationWithHabitatSpecialization95 == 0) {
    if (PerMille(gHabitatSpecTotal[0][0], left) > 950 && PerMille(gHabitatSpecTotal[1][1], right) > 950) {
      gGenerationWithHabitatSpecialization95 = gGenerationNumber;
    }
  }

  const std::int32_t habitat1RedFrequency = PerMille(gMatingPrefTotal[0][0], left);
  const std::int32_t habitat1BluFrequency = PerMille(gMatingPrefTotal[0][1], left);
  const std::int32_t habitat2RedFrequency = PerMille(gMatingPrefTotal[1][0], right);
  const std::int32_t habitat2BluFrequency = PerMille(gMatingPrefTotal[1][1], right);

  if (gGenerationWithMatingPreference50 == 0) {
    if ((habitat1RedFrequency > 500 || habitat1BluFrequency > 500) &&
        (habitat2RedFrequency > 500 || habitat2BluFrequency > 500)) {
      gGenerationWithMatingPreference50 = gGenerationNumber;
      const int t = habitat1RedFrequency > 500 ? 0 : 1;
      const int u = habitat2RedFrequency > 500 ? 0 : 1;
      gLeftHabitatRedPreference = t == 0;
      gPreferenceFad = t == u;
    }
  }
  if (gGenerationWithMatingPreference95 == 0) {
    if ((habitat1RedFrequency > 950 || habitat1BluFrequency > 950) &&
        (habitat2RedFrequency > 950 || habitat2BluFrequency > 950)) {
      gGenerationWithMatingPreference95 = gGenerationNumber;
      const int t = habitat1RedFrequency > 950 ? 0 : 1;
      const int u = habitat2RedFrequency > 950 ? 0 : 1;
      gLeftHabitatRedPreference = t == 0;
      gPreferenceFad = t == u;
    }
  }
}

void Model::AverageLeftHabitat() {
  if (!rec_.gGetAverageLeftHabitatTotal && !rec_.gGetAveragedLeftHabitatPreference &&
      !rec_.gGetAverageLeftHabitatSpecialization && !rec_.gGetAverageLeftHabitatMatingPreference) {
    return;
  }
  const std::int32_t left = gHabitatTotal[0];
  if (rec_.gGetAverageLeftHabitatTotal) gSumOfLeftHabitatTotal += left;
  if (rec_.gGetAveragedLeftHabitatPreference) gSumOfLeftHabitatPreference += PerMille(gRed[0], left);
  if (rec_.gGetAverageLeftHabitatSpecialization) {
    gSumOfLeftHabitatSpecialization += PerMille(gHabitatSpecTotal[0][0], left);
  }
  if (rec_.gGetAverageLeftHabitatMatingPreference) {
    const std::int16_t larger =
        gMatingPrefTotal[0][0] > gMatingPrefTotal[0][1] ? gMatingPrefTotal[0][0] : gMatingPrefTotal[0][1];
    gSumOfLeftHabitatMatingPreference += PerMille(larger, left);
  }

  ++gNumbersAveraged;
  if (gNumbersAveraged < rec_.gAveragingSpan) return;

  if (rec_.gGetAverageLeftHabitatTotal) {
    gDataString += NumToString(gSumOfLeftHabitatTotal / rec_.gAveragingSpan) + "\t";
  }
  if (rec_.gGetAveragedLeftHabitatPreference) {
    gDataString += NumToString(gSumOfLeftHabitatPreference / rec_.gAveragingSpan) + "\t";
  }
  if (rec_.gGetAverageLeftHabitatSpecialization) {
    gDataString += NumToString(gSumOfLeftHabitatSpecialization / rec_.gAveragingSpan) + "\t";
  }
  if (rec_.gGetAverageLeftHabitatMatingPreference) {
    gDataString += NumToString(gSumOfLeftHabitatMatingPreference / rec_.gAveragingSpan) + "\t";
  }
  if (gDataString.size() > 250) WriteStringToFile();
  gNumbersAveraged = 0;
  gSumOfLeftHabitatTotal = 0;
  gSumOfLeftHabitatPreference = 0;
  gSumOfLeftHabitatSpecialization = 0;
  gSumOfLeftHabitatMatingPreference = 0;
}

// ---------------------------------------------------------------------------
// The data file

void Model::WriteStringToFile() {
  file_ += gDataString;
  gDataString.clear();
}

void Model::WriteInitialFields() {
  const auto flag = [](bool condition) { return std::string(condition ? "1" : "0"); };
  gDataString.clear();
  gDataString += "PARAMETERS SELECTED\r";
  gDataString += "total replicates\t\t\t" + NumToString(gTotalReplicates) + "\t\r";
  gDataString += "generations/replicate\t\t\t" + NumToString(gTotalGenerations) + "\t\r";
  gDataString += "averaging span\t\t\t" + NumToString(rec_.gAveragingSpan) + "\tgenerations\r";
  WriteStringToFile();
  gDataString += "initially two habitats\t\t" + flag(!p_.initiallyOneHabitat) + "\ttrue/false\r";
  gDataString += "density\t\t\t\t" + NumToString(p_.density) + "\t/8 of cells occupied\r";
  gDataString += "migration\t\t\t\t" + flag(!p_.noMigration) + "\ttrue/false\r";
  WriteStringToFile();
  gDataString += "restricted natal dispersal\t\t" + flag(p_.restrictedNatalDispersal) + "\ttrue/false\r";
  gDataString += "asymmetrical natal dispersal\t\t" + flag(p_.asymmetricalNatalDispersal) + "\ttrue/false\r";
  gDataString += "restricted mating dispersal\t\t" + flag(p_.restrictedMatingDispersal) + "\ttrue/false\r";
  WriteStringToFile();
  gDataString += "natal dispersal rate\t\t\t" + NumToString(p_.natalDispersalRate) + "\t\r";
  gDataString += "mating dispersal rate\t\t" + NumToString(p_.matingDispersalRate) + "\t\r";
  gDataString += "fecundity\t\t\t\t" + NumToString(p_.numberOfKids) + "\tprogeny\r";
  WriteStringToFile();
  gDataString += "mutation rate\t\t\t" + NumToString(p_.mutationRate) + "\t1/mutation rate\r";
  const float hundredths = p_.selectionFactor * 100.0f;  // single precision, then truncated
  gDataString += "selection factor\t\t\t" + NumToString(static_cast<std::int32_t>(hundredths)) + "\t/100\r";
  WriteStringToFile();

  if (rec_.gGetTimedCriteria) {
    gDataString += "\rCRITERIA FOR EACH REPLICATE\r";
    WriteStringToFile();
    const char* const legend[] = {
        "A--first generation with frequency of appropriate habitat preference > 50% in both habitats\r",
        "B--first generation with frequency of appropriate habitat specialization > 50% in both habitats\r",
        "C--first generation with frequency of appropriate habitat specialization > 95% in both habitats\r",
        "D--first generation with frequency of mating preference > 50% in both habitats\r",
        "E--first generation with frequency of mating preference > 95% in both habitats\r",
        "F--initial mating preference in left habitat (1, red; 2, blue; 0, none)\r",
        "G--initial kind of preference (1, speciation; 2, fad; 0, none)\r",
        "H--final mating preference in left habitat (1, red; 2, blue; 0, none)\r",
        "I--final kind of preference (1, speciation; 2, fad; 0, none)\r",
    };
    for (const char* line : legend) {
      gDataString += line;
      WriteStringToFile();
    }
    gDataString += "A\tB\tC\tD\tE\tF\tG\tH\tI\r\r";
    WriteStringToFile();
  } else {
    gDataString += "FOLLOWING AVERAGES ARE SHOWN FOR EACH REPLICATE (averaging span indicated above)\r";
    if (rec_.gGetAverageLeftHabitatTotal) gDataString += "average total individuals for left habitat\r";
    if (rec_.gGetAveragedLeftHabitatPreference) {
      gDataString += "average appropriate habitat preference for left habitat\r";
    }
    if (rec_.gGetAverageLeftHabitatSpecialization) {
      gDataString += "average appropriate habitat specialization for left habitat\r";
    }
    if (rec_.gGetAverageLeftHabitatMatingPreference) {
      gDataString += "average predominant mating preference for left habitat\r";
    }
    WriteStringToFile();
  }
}

void Model::WriteReplicateData() {
  if (!rec_.gGetTimedCriteria) {
    gDataString += "\r";
    WriteStringToFile();
    return;
  }
  gDataString.clear();
  for (const std::int32_t generation :
       {gGenerationWithHabitatPreferences50, gGenerationWithHabitatSpecialization50,
        gGenerationWithHabitatSpecialization95, gGenerationWithMatingPreference50,
        gGenerationWithMatingPreference95}) {
    gDataString += NumToString(generation) + "\t";
  }
  std::string f = "0";
  std::string g = "0";
  if (gGenerationWithMatingPreference95 != 0) {
    f = gLeftHabitatRedPreference ? "1" : "2";
    g = gPreferenceFad ? "2" : "1";
  }
  gDataString += f + "\t" + g + "\t";
  gDataString += f + "\t" + g + "\r";
  WriteStringToFile();
  gGenerationWithHabitatPreferences50 = 0;
  gGenerationWithHabitatSpecialization50 = 0;
  gGenerationWithHabitatSpecialization95 = 0;
  gGenerationWithMatingPreference50 = 0;
  gGenerationWithMatingPreference95 = 0;
}

// ---------------------------------------------------------------------------
// A series

ReferenceOutput Model::RunSeries(const ReferenceSeries& series) {
  gTotalReplicates = series.replicates;
  gTotalGenerations = series.generations;
  trace_ =
      "replicate\tgeneration\thabitat\tadults\tspec0\tspec1\tspec2\tpref0\tpref1\tpref2\tmate0\tmate1\tmate2"
      "\n";
  WriteInitialFields();

  for (gReplicateNumber = 1; gReplicateNumber <= gTotalReplicates; ++gReplicateNumber) {
    random_.Seed(series.baseSeed + static_cast<std::uint64_t>(gReplicateNumber - 1));
    gGenerationNumber = 0;
    ClearIndividuals();
    InitPopulations();
    for (gGenerationNumber = 1; gGenerationNumber <= gTotalGenerations; ++gGenerationNumber) {
      Reproduction();
      Dispersal();
      Mortality();
      TallyLinkedList();
      AppendTraceLines();
      EnvironmentalChange();
      GetData();
    }
    WriteReplicateData();
  }

  ReferenceOutput output;
  output.dataFile = file_;
  output.trace = trace_;
  return output;
}

}  // namespace

ReferenceOutput RunReferenceSeries(const ReferenceParameters& parameters, const ReferenceRecording& recording,
                                   const ReferenceSeries& series) {
  Model model(parameters, recording);
  return model.RunSeries(series);
}

}  // namespace talveron::reference
