#include <gtest/gtest.h>

#include <array>
#include <set>

#include "model/random.h"

namespace talveron {
namespace {

// The generator must give the same numbers on every machine: these are
// xoshiro256** outputs after SplitMix64 seeding, computed independently.
TEST(Rng, ReproducesTheReferenceSequenceForASeed) {
  Rng rng(12345);
  EXPECT_EQ(rng.Next(), 0xbe6a36374160d49bULL);
  EXPECT_EQ(rng.Next(), 0x214aaa0637a688c6ULL);
  Rng again(12345);
  EXPECT_EQ(again.Random(), 15979);
  EXPECT_EQ(again.Random(), -24245);
  EXPECT_EQ(again.Random(), 30366);
  EXPECT_EQ(again.Random(), -29599);
  EXPECT_EQ(again.Random(), 3617);
}

TEST(Rng, ReseedingRestartsTheSequence) {
  Rng rng(99);
  const int first = rng.Random();
  rng.Random();
  rng.Seed(99);
  EXPECT_EQ(rng.Random(), first);
  EXPECT_EQ(rng.DrawCount(), 1u);
}

// Random() is uniform on -32767..32767: never -32768, both ends reachable.
TEST(Rng, RandomStaysWithinSignedSixteenBitsLessOne) {
  Rng rng(7);
  int low = 0;
  int high = 0;
  for (int i = 0; i < 2000000; ++i) {
    const int draw = rng.Random();
    ASSERT_GE(draw, -32767);
    ASSERT_LE(draw, 32767);
    low = std::min(low, draw);
    high = std::max(high, draw);
  }
  EXPECT_EQ(low, -32767);
  EXPECT_EQ(high, 32767);
}

TEST(Randomize, ScalesTheMagnitudeOfOneDraw) {
  EXPECT_EQ(ScaleDraw(-4096, 8), 1);   // 8 * 4096 / 32768
  EXPECT_EQ(ScaleDraw(32767, 100), 99);
  EXPECT_EQ(ScaleDraw(32767, 101), 100);
  EXPECT_EQ(ScaleDraw(-32767, 101), 100);
  for (int range : {1, 2, 8, 100, 101, 32767}) EXPECT_EQ(ScaleDraw(0, range), 0);
  EXPECT_EQ(ScaleDraw(32767, 1), 0);
}

TEST(Randomize, CoversEveryValueOfItsRange) {
  Rng rng(3);
  for (int range : {2, 8, 32, 40, 101}) {
    std::set<int> seen;
    for (int i = 0; i < 20000; ++i) {
      const int value = rng.Randomize(range);
      ASSERT_GE(value, 0);
      ASSERT_LT(value, range);
      seen.insert(value);
    }
    EXPECT_EQ(static_cast<int>(seen.size()), range) << "range " << range;
  }
}

// A range of 0 is reported and its value used all the same; so is a range
// above 32767 whose scaled value leaves 16 bits (40000 x 32767 / 32768 is
// 39998, a negative short). The largest short range never leaves its range.
TEST(Randomize, ReportsOnlyResultsOutsideTheirRange) {
  Rng rng(5);
  int reports = 0;
  rng.SetBadRangeHandler([&reports] { ++reports; });
  EXPECT_EQ(rng.Randomize(0), 0);
  EXPECT_EQ(reports, 1);
  rng.Randomize(10);
  EXPECT_EQ(reports, 1);
  rng.Script({32767, -32767});
  EXPECT_EQ(rng.Randomize(40000), -25538);
  EXPECT_EQ(reports, 2);
  EXPECT_EQ(rng.Randomize(32767), 32766);
  EXPECT_EQ(reports, 2);
}

// Scripted draws come first, in order, also when more are scripted before
// the first ones are used up; then the generator takes over where it was.
TEST(Randomize, TakesScriptedDrawsFirst) {
  Rng rng(5);
  Rng unscripted(5);
  rng.Script({-4096, 32767});
  EXPECT_EQ(rng.Randomize(8), 1);
  rng.Script({0});
  EXPECT_EQ(rng.Randomize(101), 100);
  EXPECT_EQ(rng.Randomize(101), 0);
  EXPECT_TRUE(rng.ScriptEmpty());
  EXPECT_EQ(rng.Random(), unscripted.Random());
  EXPECT_EQ(rng.DrawCount(), 4u);
}

// A walk draws from a local copy of the generator: the same numbers as the
// generator itself, and afterwards the generator goes on from where the copy
// stopped, its count of draws included.
TEST(LocalRng, DrawsTheSequenceOfItsRngAndHandsItBack) {
  Rng rng(11);
  Rng plain(11);
  {
    LocalRng local(rng);
    for (int range : {2, 8, 32, 40, 100, 101, 2560, 32767}) {
      for (int i = 0; i < 1000; ++i) ASSERT_EQ(local.Randomize(range), plain.Randomize(range));
    }
    EXPECT_EQ(local.Random(), plain.Random());
  }
  EXPECT_EQ(rng.DrawCount(), plain.DrawCount());
  EXPECT_EQ(rng.Random(), plain.Random());
}

// Scripted draws given to the generator are the first a walk takes; those
// the walk leaves are still there after it.
TEST(LocalRng, TakesTheScriptOfItsRng) {
  Rng rng(5);
  Rng unscripted(5);
  rng.Script({-4096, 32767, 0});
  {
    LocalRng local(rng);
    EXPECT_EQ(local.Randomize(8), 1);
    EXPECT_EQ(local.Randomize(101), 100);
  }
  EXPECT_FALSE(rng.ScriptEmpty());
  {
    LocalRng local(rng);
    EXPECT_EQ(local.Randomize(101), 0);
    EXPECT_EQ(local.Random(), unscripted.Random());
  }
  EXPECT_TRUE(rng.ScriptEmpty());
  EXPECT_EQ(rng.DrawCount(), 4u);
  EXPECT_EQ(rng.Random(), unscripted.Random());
}

// A bad range in a walk is reported through the generator's handler.
TEST(LocalRng, ReportsABadRangeThroughItsRng) {
  Rng rng(5);
  int reports = 0;
  rng.SetBadRangeHandler([&reports] { ++reports; });
  LocalRng local(rng);
  EXPECT_EQ(local.Randomize(0), 0);
  local.Randomize(10);
  EXPECT_EQ(reports, 1);
}


// A run of coins is the same draws as single Randomize(2) calls: across many
// generated runs, and with a script that ends inside a run (its values on
// both sides of the halves' boundaries).
TEST(LocalRng, ARunOfCoinsIsTheSameAsSingleDraws) {
  Rng rng(3);
  Rng plain(3);
  rng.Script({-16384, -16383, 16383, 16384, 0, -32767, 32767});
  plain.Script({-16384, -16383, 16383, 16384, 0, -32767, 32767});
  {
    LocalRng local(rng);
    for (int run = 0; run < 5000; ++run) {
      std::array<std::uint8_t, 18> coins;
      local.Coins(coins);
      for (std::uint8_t coin : coins) ASSERT_EQ(coin, plain.Randomize(2) == 1 ? 0xFF : 0x00) << "run " << run;
    }
  }
  EXPECT_EQ(rng.DrawCount(), plain.DrawCount());
  EXPECT_EQ(rng.Random(), plain.Random());
}

// A prepared test holds for exactly the draws whose scaled value is below
// its value: every draw, for ranges and values around the edges of the
// scaling (a value of 0 or less never holds, one at or past the range
// always does).
TEST(DrawBelow, HoldsForExactlyTheDrawsThatScaleBelowItsValue) {
  for (int range : {1, 2, 3, 7, 32, 40, 100, 101, 1000, 32767}) {
    std::set<int> values = {-1, 0, 1, 2, range / 2, range - 1, range, range + 1, 40000};
    if (range <= 101) {
      for (int value = 0; value <= range; ++value) values.insert(value);
    }
    for (int value : values) {
      const DrawBelow test(range, value);
      ASSERT_TRUE(test.exact());
      for (int draw = -32767; draw <= 32767; ++draw) {
        ASSERT_EQ(test.HoldsFor(static_cast<std::uint64_t>(draw + 32767)), ScaleDraw(draw, range) < value)
            << "range " << range << ", value " << value << ", draw " << draw;
      }
    }
  }
  for (int draw = -32767; draw <= 32767; ++draw) {
    ASSERT_EQ(CoinFor(static_cast<std::uint64_t>(draw + 32767)), ScaleDraw(draw, 2) == 1) << "draw " << draw;
  }
}

// In a walk, a prepared test and a coin are one draw each, the same as
// Randomize: generated, scripted, and for a range that Randomize reports.
TEST(LocalRng, APreparedTestIsTheSameDrawAsRandomize) {
  Rng rng(11);
  Rng plain(11);
  int reports = 0;
  rng.SetBadRangeHandler([&reports] { ++reports; });
  rng.Script({-1, 1, 32767});
  plain.Script({-1, 1, 32767});
  const DrawBelow test(100, 37);
  {
    LocalRng local(rng);
    for (int i = 0; i < 30000; ++i) {
      ASSERT_EQ(local.Below(test), plain.Randomize(100) < 37) << "draw " << i;
      ASSERT_EQ(local.Coin(), plain.Randomize(2)) << "draw " << i;
    }
    const DrawBelow unchecked(0, 1);
    EXPECT_FALSE(unchecked.exact());
    EXPECT_EQ(local.Below(unchecked), plain.Randomize(0) < 1);
  }
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(rng.DrawCount(), plain.DrawCount());
  EXPECT_EQ(rng.Random(), plain.Random());
}

}  // namespace
}  // namespace talveron
