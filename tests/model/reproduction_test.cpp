// Mate choice, broods, inheritance and mutation.
#include <gtest/gtest.h>

#include "model_support.h"

namespace talveron {
namespace {

using testing::Adult;
using testing::DrawFor;
using testing::Female;
using testing::Male;
using testing::RecordingHooks;

// Zero and one adult: nobody is served and the single adult is freed.
TEST(Reproduction, FewerThanTwoAdultsLeaveNoYoung) {
  World world;
  world.adults = {Female()};
  world.Reproduction();
  EXPECT_EQ(world.totalYoung(), 0);
  EXPECT_EQ(world.totalAdults(), 0);
  EXPECT_EQ(world.rng.DrawCount(), 0u);
}

// Only males: one starting draw, a walk round the ring, no offspring.
TEST(Reproduction, NoFemaleEndsThePhase) {
  World world;
  world.adults = {Male(), Male(), Male()};
  world.Reproduction();
  EXPECT_EQ(world.totalYoung(), 0);
  EXPECT_EQ(world.totalAdults(), 0);
  EXPECT_EQ(world.rng.DrawCount(), 1u);
}

// One female and one male with the default loci: her only candidate is
// him, she survives meeting him (one draw) and has numberOfKids young.
TEST(Reproduction, OnePairProducesAFullBrood) {
  World world;
  world.params.numberOfKids = 5;
  world.adults = {Female(0), Male(1)};
  world.SeedRandom(4);
  world.Reproduction();
  EXPECT_EQ(world.totalYoung(), 5);
  for (const Individ& kid : world.young) EXPECT_EQ(kid.habitat, 1);  // the father's
  EXPECT_EQ(world.totalAdults(), 0);
}

// Only females: each draws candidates until she has drawn more than four
// times the adults left, and no survival draw is ever made.
TEST(Reproduction, OnlyFemalesSearchInVain) {
  World world;
  world.adults = {Female(), Female()};
  world.Reproduction();
  // start, mating-habitat draw, then 4 x 1 + 1 candidates, for one female;
  // the other is then the last adult and is not served.
  EXPECT_EQ(world.rng.DrawCount(), 1u + 1u + 5u);
  EXPECT_EQ(world.totalYoung(), 0);
}

// Every offspring draws its 17 inheritance coins and its sex, then one test
// per mutable locus: 3 always, up to 14 more with the optional loci. (A
// rate of 32767 makes a mutation, and its extra draw, all but impossible.)
TEST(Reproduction, EachOffspringDrawsItsCoinsAndOneTestPerMutableLocus) {
  for (const bool optional : {false, true}) {
    World world;
    world.params.numberOfKids = 3;
    world.params.mutationRate = 32767;
    world.params.gMatingPrefTarget = optional ? 2 : 0;
    world.params.gIncludeSignalValue = optional;
    world.params.gIncludeGeneralViability = optional;
    world.params.gIncludeNeutralGenes = optional;
    world.adults = {Female(0), Male(0)};
    world.SeedRandom(6);
    world.Reproduction();
    ASSERT_EQ(world.totalYoung(), 3);
    // start, mating habitat, candidate, survival; then the brood
    const std::uint64_t perKid = 18u + (optional ? 17u : 3u);
    EXPECT_EQ(world.rng.DrawCount(), 4u + 3u * perKid) << (optional ? "optional loci" : "defaults");
  }
}

// Each locus, from habitatPref to the last neutral gene, comes from the
// parent its own coin picks (1 the father, 0 the mother), whatever the
// coins of the other loci; the sex coin makes a son.
TEST(Reproduction, EveryLocusComesFromTheParentItsCoinPicks) {
  const std::vector<int> pattern = {1, 0, 0, 1, 1, 0, 1, 0, 1, 1, 0, 0, 0, 1, 0, 1, 1};
  for (const bool complement : {false, true}) {
    World world;
    world.params.numberOfKids = 1;
    Individ mother = Female(0);
    mother.habitatPref = 0;
    mother.habitatSpec = 0;
    mother.matingPrefValue = 3;
    mother.signalType = 0;
    mother.signalValue = 4;
    mother.generalViability = 0;
    Individ father = Male(1);
    father.habitatPref = 1;
    father.habitatSpec = 1;
    father.matingPrefType = 1;
    father.matingPrefValue = 7;
    father.signalType = 1;
    father.signalValue = 8;
    father.generalViability = 1;
    father.neutralGenes.fill(1);
    world.adults = {mother, father};
    std::vector<int> draws = {DrawFor(0, 2), DrawFor(50, 100), DrawFor(0, 1), DrawFor(50, 100)};
    for (int coin : pattern) draws.push_back(DrawFor(complement ? 1 - coin : coin, 2));
    draws.push_back(DrawFor(1, 2));                              // a son
    for (int i = 0; i < 3; ++i) draws.push_back(DrawFor(1, 100));  // no mutation
    for (int draw : draws) world.rng.Script({draw});
    world.Reproduction();
    ASSERT_EQ(world.totalYoung(), 1);
    EXPECT_TRUE(world.rng.ScriptEmpty());
    const Individ& kid = world.young[0];
    auto from = [&](int locus) -> const Individ& {
      return (pattern[static_cast<std::size_t>(locus)] == 1) != complement ? father : mother;
    };
    EXPECT_EQ(kid.habitatPref, from(0).habitatPref);
    EXPECT_EQ(kid.habitatSpec, from(1).habitatSpec);
    EXPECT_EQ(kid.matingPrefType, from(2).matingPrefType);
    EXPECT_EQ(kid.matingPrefValue, from(3).matingPrefValue);
    EXPECT_EQ(kid.signalType, from(4).signalType);
    EXPECT_EQ(kid.signalValue, from(5).signalValue);
    EXPECT_EQ(kid.generalViability, from(6).generalViability);
    for (int gene = 0; gene < kNeutralGenes; ++gene) {
      const auto g = static_cast<std::size_t>(gene);
      EXPECT_EQ(kid.neutralGenes[g], from(7 + gene).neutralGenes[g]) << "gene " << gene;
    }
    EXPECT_TRUE(kid.sex);
    EXPECT_EQ(kid.habitat, 1);  // the father's
    EXPECT_EQ(kid.x, 0);
    EXPECT_EQ(kid.y, 0);
  }
}

// A search cost of 1 kills every female at the first male, without a draw.
TEST(Reproduction, FullSearchCostKillsAtTheFirstMale) {
  World world;
  world.params.gSearchCost = 1.0f;
  world.adults = {Female(), Male(), Female(), Male()};
  world.SeedRandom(8);
  world.Reproduction();
  EXPECT_EQ(world.totalYoung(), 0);
}

// Search cost 0.1 gives 89 per cent: a draw of 10 kills, 11 spares.
TEST(Reproduction, SearchCostIsTruncatedToWholePerCent) {
  for (const auto& [deathDraw, survives] : {std::pair{10, false}, std::pair{11, true}}) {
    World world;
    world.params.gSearchCost = 0.1f;
    world.params.numberOfKids = 1;
    world.adults = {Female(), Male()};
    // start at 1 (the male), walk on to her; mating habitat; candidate 0
    // (the male, the only adult left); survival draw.
    world.rng.Script({DrawFor(0, 2), DrawFor(50, 100), DrawFor(0, 1), DrawFor(deathDraw, 100)});
    world.Reproduction();
    EXPECT_EQ(world.totalYoung(), survives ? 1 : 0) << "draw " << deathDraw;
  }
}

// A female whose viability allele misfits the environment cannot survive
// meeting a male when general viability is included.
TEST(Reproduction, MisfitViabilityFemaleNeverBreeds) {
  World world;
  world.params.gIncludeGeneralViability = true;
  Individ female = Female();
  female.generalViability = 0;  // the environment is still in state 2
  world.adults = {female, Male()};
  world.SeedRandom(12);
  world.Reproduction();
  EXPECT_EQ(world.totalYoung(), 0);
}

// With males mating once and more females than males, the males run out
// and later females leave no young.
TEST(Reproduction, MalesMatingOnceRunOut) {
  World world;
  world.params.gMalesMateOnce = true;
  world.params.numberOfKids = 1;
  world.adults = {Female(), Female(), Female(), Female(), Male()};
  world.SeedRandom(21);
  world.Reproduction();
  EXPECT_LE(world.totalYoung(), 1);
}

// The same seed and adults give the same young, draw for draw.
TEST(Reproduction, IsDeterministicForASeed) {
  auto run = [] {
    World world;
    world.SeedRandom(77);
    world.params.density = 3;
    world.InitPopulations();
    world.Reproduction();
    return std::make_pair(world.totalYoung(), world.rng.DrawCount());
  };
  EXPECT_EQ(run(), run());
}

class Compatibility : public ::testing::Test {
 protected:
  Individ Preferring(int type, int value = 0) {
    Individ female = Female();
    female.matingPrefType = static_cast<std::uint8_t>(type);
    female.matingPrefValue = static_cast<std::uint8_t>(value);
    return female;
  }
  Individ Signalling(int type, int value) {
    Individ male = Male();
    male.signalType = static_cast<std::uint8_t>(type);
    male.signalValue = static_cast<std::uint8_t>(value);
    return male;
  }
  World world;
};

TEST_F(Compatibility, NoPreferenceAcceptsAnyMaleOfTheSearchedHabitat) {
  EXPECT_TRUE(world.CheckForCompatibility(Male(1), Preferring(2), 0));
  world.params.restrictedMatingDispersal = true;
  EXPECT_FALSE(world.CheckForCompatibility(Male(1), Preferring(2), 0));
  EXPECT_TRUE(world.CheckForCompatibility(Male(1), Preferring(2), 1));
}

// Target 1: a female of type 0 accepts only males specialized to habitat 0.
TEST_F(Compatibility, SpecializationTargetRejectsGeneralists) {
  world.params.gMatingPrefTarget = 1;
  Individ male = Male();
  male.habitatSpec = 0;
  EXPECT_TRUE(world.CheckForCompatibility(male, Preferring(0), 0));
  male.habitatSpec = 2;
  EXPECT_FALSE(world.CheckForCompatibility(male, Preferring(0), 0));
  EXPECT_EQ(world.rng.DrawCount(), 0u);
}

// Target 2, equal types, threshold 3: a signal of 4 is accepted outright;
// a signal of 3 only when the missed-detection rate / 4 beats the draw.
TEST_F(Compatibility, WeakSignalsPassOnlyByMissedDetection) {
  world.params.gMatingPrefTarget = 2;
  EXPECT_TRUE(world.CheckForCompatibility(Signalling(1, 4), Preferring(1, 3), 0));
  EXPECT_EQ(world.rng.DrawCount(), 0u);
  world.params.gMissedDetectionRate = 40;  // 40 / 4 = 10
  world.rng.Script({DrawFor(9, 100), DrawFor(10, 100)});
  EXPECT_TRUE(world.CheckForCompatibility(Signalling(1, 3), Preferring(1, 3), 0));
  EXPECT_FALSE(world.CheckForCompatibility(Signalling(1, 3), Preferring(1, 3), 0));
}

// A mismatched viability allele silences the male's signal entirely.
TEST_F(Compatibility, MisfitMaleHasNoEffectiveSignal) {
  world.params.gMatingPrefTarget = 2;
  Individ male = Signalling(1, 9);
  male.generalViability = 0;  // environment state 2
  world.rng.Script({DrawFor(0, 100)});
  EXPECT_FALSE(world.CheckForCompatibility(male, Preferring(1, 1), 0));
}

// The wrong signal type is accepted only by a false alarm, at the rate
// divided by her threshold + 1, and the alarm is remembered for the brood.
TEST_F(Compatibility, FalseAlarmAtTheReducedRate) {
  world.params.gMatingPrefTarget = 2;
  world.params.gFalseAlarmRate = 30;  // threshold 2: 30 / 3 = 10
  world.rng.Script({DrawFor(10, 100), DrawFor(9, 100)});
  EXPECT_FALSE(world.CheckForCompatibility(Signalling(0, 5), Preferring(1, 2), 0));
  EXPECT_FALSE(world.gFalseAlarm);
  EXPECT_TRUE(world.CheckForCompatibility(Signalling(0, 5), Preferring(1, 2), 0));
  EXPECT_TRUE(world.gFalseAlarm);
}

// After a false alarm the brood is numberOfKids / payoff; a payoff above
// the brood size leaves no young.
TEST(Reproduction, FalseAlarmDividesTheBrood) {
  for (const auto& [payoff, expected] : {std::pair{2, 2}, std::pair{5, 0}}) {
    World world;
    world.params.gMatingPrefTarget = 2;
    world.params.gFalseAlarmRate = 100;
    world.params.gFalseAlarmPayoff = static_cast<std::int16_t>(payoff);
    world.params.numberOfKids = 4;
    Individ female = Female();
    female.matingPrefType = 1;
    Individ male = Male();
    male.signalType = 0;
    world.adults = {female, male};
    world.SeedRandom(5);
    world.Reproduction();
    EXPECT_EQ(world.totalYoung(), expected) << "payoff " << payoff;
  }
}

// Strengths mutate by one step and stay within 0..9.
TEST(Mutation, StrengthsAreClampedAtBothEnds) {
  for (const auto& [start, up, expected] : {std::tuple{9, true, 9}, std::tuple{0, false, 0},
                                            std::tuple{4, true, 5}, std::tuple{4, false, 3}}) {
    World world;
    world.params.gIncludeSignalValue = true;
    world.params.numberOfKids = 1;
    world.params.mutationRate = 2;  // a draw of 0 mutates, 1 does not
    Individ female = Female();
    female.matingPrefValue = static_cast<std::uint8_t>(start);
    female.matingPrefType = 1;
    Individ male = Male();
    male.matingPrefType = 1;
    male.matingPrefValue = static_cast<std::uint8_t>(start);
    world.adults = {female, male};
    std::vector<int> draws = {DrawFor(0, 2), DrawFor(50, 100), DrawFor(0, 1), DrawFor(50, 100)};
    for (int i = 0; i < 17; ++i) draws.push_back(DrawFor(0, 2));  // inherit from the mother
    draws.push_back(DrawFor(0, 2));                                 // a daughter
    // habitatPref and habitatSpec keep; the strength mutates by its step;
    // the preference type keeps.
    for (int value : {1, 1, 0, up ? 1 : 0, 1}) draws.push_back(DrawFor(value, 2));
    for (int draw : draws) world.rng.Script({draw});
    world.Reproduction();
    ASSERT_EQ(world.totalYoung(), 1);
    EXPECT_EQ(world.young[0].matingPrefValue, expected) << start << (up ? " up" : " down");
  }
}

}  // namespace
}  // namespace talveron
