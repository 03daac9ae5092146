// The time plot: a column a generation, wrapping after 902 of them, its
// points, captions and axis, checked on the pixels of the Qt canvas.
#include <gtest/gtest.h>

#include "app/drawing/views.h"
#include "views_pixels.h"

namespace talveron::app {
namespace {

// ---------------------------------------------------------------- time plot

using TimePlot = ViewsPixels;

// Generation 901 is plotted at column 901 and generation 902 wraps to
// column 0; a full specialization sits at y 0 in the upper band and at y 80
// in the lower band.
TEST_F(TimePlot, ColumnWrapsAfter902Generations) {
  GeneFrequencies f;
  Add(f, 0, 0, 2, 2, 10);
  Add(f, 1, 0, 2, 2, 10);
  views_.ShowResults(f, 901);
  EXPECT_EQ(BoxOf(Port::Time, kRed, 0, 0, 901, 159), (Box{901, 0, 901, 80, 3}));
  // The empty blue shares sit on the band baselines: covered by red in the
  // upper band, only y 159 of the lower one inside the window.
  EXPECT_EQ(BoxOf(Port::Time, kBlue, 0, 0, 901, 159), (Box{901, 159, 901, 159, 1}));
  EXPECT_EQ(Px(Port::Time, 901, 0), kRed);
  EXPECT_EQ(Px(Port::Time, 901, 79), kRed);
  EXPECT_EQ(Px(Port::Time, 901, 80), kRed);

  views_.ShowResults(f, 902);
  EXPECT_EQ(Px(Port::Time, 0, 0), kRed);
  EXPECT_EQ(Px(Port::Time, 0, 80), kRed);
  views_.ShowResults(f, 903);
  EXPECT_EQ(Px(Port::Time, 1, 79), kRed);
}

// Reusing a column wipes its old points above and below the axis but keeps
// the axis pixel at y 80 black.
TEST_F(TimePlot, ColumnWipeKeepsTheAxisPixel) {
  GeneFrequencies first;
  Add(first, 0, 1, 2, 2, 10);  // upper band: red 0 % on 80 and 79, blue 100 % on 0
  Add(first, 1, 1, 2, 2, 10);  // lower band: red 75 % on 100 and 99, blue 25 % on 140
  Add(first, 1, 0, 2, 2, 30);
  views_.ShowResults(first, 600);
  ASSERT_EQ(Px(Port::Time, 600, 0), kBlue);
  ASSERT_EQ(Px(Port::Time, 600, 80), kRed);
  ASSERT_EQ(Px(Port::Time, 600, 100), kRed);
  ASSERT_EQ(Px(Port::Time, 600, 140), kBlue);
  GeneFrequencies second;
  Add(second, 0, 0, 2, 2, 5);
  Add(second, 0, 1, 2, 2, 5);  // both halves: v 40, points at 40 and 39
  views_.ShowResults(second, 600 + 902);
  EXPECT_EQ(Px(Port::Time, 600, 80), kBlack);
  EXPECT_EQ(Px(Port::Time, 600, 0), kWhite);
  EXPECT_EQ(Px(Port::Time, 600, 79), kWhite);
  EXPECT_EQ(Px(Port::Time, 600, 100), kWhite);
  EXPECT_EQ(Px(Port::Time, 600, 140), kWhite);
  // Red is drawn before blue at the same place.
  EXPECT_EQ(Px(Port::Time, 600, 40), kBlue);
  EXPECT_EQ(Px(Port::Time, 600, 39), kBlue);
  EXPECT_EQ(BoxOf(Port::Time, kRed, 600, 0, 600, 159).pixels, 0);
  EXPECT_EQ(Px(Port::Time, 599, 80), kBlack);
}

// A column that crosses the scale bar and the "50 GENERATIONS" caption is
// wiped after they are drawn and leaves a one-pixel gap in them.
TEST_F(TimePlot, ColumnWipeCutsTheScaleBar) {
  GeneFrequencies f;
  Add(f, 0, 2, 2, 2, 10);
  views_.ShowResults(f, 20);
  for (int y = 40; y <= 42; ++y) {
    EXPECT_EQ(Px(Port::Time, 19, y), kBlack);
    EXPECT_EQ(Px(Port::Time, 20, y), kWhite);
    EXPECT_EQ(Px(Port::Time, 54, y), kBlack);
    EXPECT_EQ(Px(Port::Time, 55, y), kWhite);
  }
  views_.ShowResults(f, 21);
  EXPECT_EQ(Px(Port::Time, 20, 41), kBlack);
  EXPECT_EQ(Px(Port::Time, 21, 41), kWhite);
}

// Equal numbers of mating preference 0 and 1 give a blue concordance point
// on y 80; equal concordant and crossed arrangements give a blue
// discordance point on y 160, of which only y 159 is inside the window.
TEST_F(TimePlot, ConcordanceTiesAreBlueOnTheBaseline) {
  flags_.gHabitatSpecGraph = false;
  flags_.gConcordanceGraph = true;
  GeneFrequencies f;
  Add(f, 0, 2, 2, 0, 10);
  Add(f, 0, 2, 2, 1, 10);
  Add(f, 1, 2, 2, 0, 3);
  Add(f, 1, 2, 2, 1, 3);
  views_.ShowResults(f, 700);
  EXPECT_EQ(BoxOf(Port::Time, kBlue, 700, 0, 700, 159), (Box{700, 79, 700, 159, 3}));
  EXPECT_EQ(Px(Port::Time, 700, 80), kBlue);
  EXPECT_EQ(Px(Port::Time, 700, 159), kBlue);
  EXPECT_EQ(BoxOf(Port::Time, kRed, 0, 0, 901, 159).pixels, 0);
  // Both captions.
  EXPECT_GT(DarkPixels(Port::Time, 5, 5, 200, 20), 0);
  EXPECT_GT(DarkPixels(Port::Time, 5, 86, 200, 100), 0);
}

// A population that all prefers 0 is fully concordant (red at the top of the
// upper band); 75 % in habitat 0 against 25 % in habitat 1 gives a red
// discordance of 0.5 at y 120; all preferring 1 is blue at the top.
TEST_F(TimePlot, ConcordanceAndDiscordancePointsFollowTheLargerMeasure) {
  flags_.gHabitatSpecGraph = false;
  flags_.gConcordanceGraph = true;
  GeneFrequencies f;
  Add(f, 0, 2, 2, 0, 75);
  Add(f, 1, 2, 2, 0, 25);
  views_.ShowResults(f, 700);
  EXPECT_EQ(BoxOf(Port::Time, kRed, 700, 0, 700, 159), (Box{700, 0, 700, 120, 3}));
  EXPECT_EQ(Px(Port::Time, 700, 119), kRed);
  EXPECT_EQ(Px(Port::Time, 700, 120), kRed);

  GeneFrequencies g;
  Add(g, 0, 2, 2, 1, 40);
  views_.ShowResults(g, 701);
  // Concordance 1 for preference 1; discordance -1 against 1 for the crossed
  // arrangement, so blue at the top of the lower band too.
  EXPECT_EQ(BoxOf(Port::Time, kBlue, 701, 0, 701, 159), (Box{701, 0, 701, 80, 3}));
}

// With no adults at all the concordance column is wiped and captioned but
// carries no point.
TEST_F(TimePlot, EmptyPopulationPlotsNoConcordance) {
  flags_.gHabitatSpecGraph = false;
  flags_.gConcordanceGraph = true;
  views_.ShowResults(GeneFrequencies{}, 700);
  for (QRgb c : {kRed, kBlue, kYellow}) EXPECT_EQ(BoxOf(Port::Time, c, 0, 0, 901, 159).pixels, 0);
  EXPECT_EQ(Px(Port::Time, 700, 80), kBlack);
}

// The specialization-and-preference plot shows redred of habitat 0 above and
// blublu of habitat 1 below; the mating plot shares of both habitats.
TEST_F(TimePlot, OtherPlotsPlaceTheirShares) {
  flags_.gHabitatSpecGraph = false;
  flags_.gHabitatPreferenceGraph = true;
  GeneFrequencies f;
  Add(f, 0, 0, 0, 0, 10);  // redred[0]: all of habitat 0
  Add(f, 1, 1, 1, 1, 10);  // blublu[1]: half of habitat 1
  Add(f, 1, 2, 2, 2, 10);
  views_.ShowResults(f, 300);
  EXPECT_EQ(BoxOf(Port::Time, kRed, 300, 0, 300, 159), (Box{300, 0, 300, 0, 1}));
  EXPECT_EQ(BoxOf(Port::Time, kBlue, 300, 0, 300, 159), (Box{300, 119, 300, 120, 2}));

  flags_.gHabitatPreferenceGraph = false;
  flags_.gMatingPreferenceGraph = true;
  views_.ShowResults(f, 301);
  // Habitat 0: preference 0 at 100 %, 1 at 0 %; habitat 1: 0 at 0 %, 1 at 50 %.
  EXPECT_EQ(BoxOf(Port::Time, kRed, 301, 0, 301, 159), (Box{301, 0, 301, 159, 2}));
  EXPECT_EQ(Px(Port::Time, 301, 159), kRed);
  EXPECT_EQ(BoxOf(Port::Time, kBlue, 301, 0, 301, 159), (Box{301, 79, 301, 120, 4}));
  EXPECT_EQ(Px(Port::Time, 301, 119), kBlue);
}

// ZeroResults leaves blank head counts and graphs and a bare time axis with
// the scale bar.
TEST_F(TimePlot, ZeroResultsLeavesABareAxis) {
  GeneFrequencies f;
  Add(f, 0, 0, 0, 0, 10);
  Add(f, 1, 1, 1, 1, 10);
  views_.ShowResults(f, 300);
  views_.ZeroResults();
  EXPECT_TRUE(AllWhite(Port::Graph, 0, 0, 219, 519));
  EXPECT_TRUE(AllWhite(Port::Text, 0, 15, 639, 43));
  EXPECT_EQ(BoxOf(Port::Time, kBlack, 0, 80, 901, 80).pixels, 902);
  EXPECT_EQ(BoxOf(Port::Time, kBlack, 0, 40, 901, 42), (Box{5, 40, 54, 42, 150}));
  EXPECT_GT(DarkPixels(Port::Time, 5, 20, 200, 36), 0);
  EXPECT_TRUE(AllWhite(Port::Time, 0, 81, 901, 159));
  EXPECT_TRUE(AllWhite(Port::Time, 0, 0, 901, 19));
}

// A change of plot at generation 1000 leaves a black line at column 97
// through the whole window except the two erased caption areas.
TEST_F(TimePlot, ClearGraphTextMarksThePreviousColumn) {
  views_.ShowResults(GeneFrequencies{}, 999);
  ASSERT_GT(DarkPixels(Port::Time, 5, 5, 279, 19), 0);
  views_.ClearGraphText(1000);
  for (int v : {0, 4, 20, 50, 80, 84, 100, 159}) EXPECT_EQ(Px(Port::Time, 97, v), kBlack) << v;
  EXPECT_EQ(Px(Port::Time, 97, 10), kWhite);
  EXPECT_EQ(Px(Port::Time, 97, 90), kWhite);
  EXPECT_EQ(Px(Port::Time, 98, 50), kWhite);
  EXPECT_EQ(Px(Port::Time, 96, 50), kWhite);
  EXPECT_EQ(DarkPixels(Port::Time, 5, 5, 279, 19), 0);
  EXPECT_EQ(DarkPixels(Port::Time, 5, 85, 179, 99), 0);
}

// A change at a multiple of 902 puts the marker at column -1, outside the
// window: nothing is drawn.
TEST_F(TimePlot, ClearGraphTextAtAWrapShowsNoMarker) {
  views_.ClearGraphText(1804);
  EXPECT_TRUE(AllWhite(Port::Time, 0, 0, 901, 159));
}

}  // namespace
}  // namespace talveron::app
