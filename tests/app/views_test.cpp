// The pictures of the map, the results graphs and the status line, checked
// on the pixels of the Qt canvas and, where the order of operations is the
// point, on a recording canvas.
#include "app/drawing/views.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/drawing/recording_canvas.h"
#include "views_pixels.h"

namespace talveron::app {
namespace {

// ---------------------------------------------------------------- map view

using MapView = ViewsPixels;

// In all-loci mode a habitat-1-preferring, habitat-0-specialized, neutral-mating
// individual is a blue disc around a red disc around a yellow dot.
TEST_F(MapView, AllLociDiscNestsPreferenceSpecializationAndMatingType) {
  const int xx = 320 + 10 * 5, yy = 10 * 7;
  views_.DrawIndividual(xx, yy, MakeIndividual(1, 0, 2));

  const Box painted = PaintedBox(Port::View, xx - 2, yy - 2, xx + 12, yy + 12);
  // The outer disc fills the 9 by 9 square and leaves its corners free.
  EXPECT_EQ(painted.left, xx);
  EXPECT_EQ(painted.top, yy);
  EXPECT_EQ(painted.right, xx + 8);
  EXPECT_EQ(painted.bottom, yy + 8);
  EXPECT_EQ(Px(Port::View, xx, yy), kWhite);
  EXPECT_EQ(Px(Port::View, xx + 8, yy + 8), kWhite);
  EXPECT_EQ(Px(Port::View, xx + 4, yy), kBlue);
  EXPECT_EQ(Px(Port::View, xx, yy + 4), kBlue);
  // The cell's last row and column stay unpainted.
  EXPECT_TRUE(AllWhite(Port::View, xx + 9, yy, xx + 9, yy + 9));
  EXPECT_TRUE(AllWhite(Port::View, xx, yy + 9, xx + 9, yy + 9));

  // The red middle disc lies in top+2..top+6, left+2..left+6, round as well.
  const Box red = BoxOf(Port::View, kRed, xx, yy, xx + 9, yy + 9);
  EXPECT_EQ(red.left, xx + 2);
  EXPECT_EQ(red.top, yy + 2);
  EXPECT_EQ(red.right, xx + 6);
  EXPECT_EQ(red.bottom, yy + 6);
  EXPECT_EQ(Px(Port::View, xx + 2, yy + 2), kBlue);
  EXPECT_EQ(Px(Port::View, xx + 2, yy + 4), kRed);

  // The yellow dot is the full 2 by 2 block at top+3..top+4, left+3..left+4.
  EXPECT_EQ(BoxOf(Port::View, kYellow, xx, yy, xx + 9, yy + 9), (Box{xx + 3, yy + 3, xx + 4, yy + 4, 4}));
}

// Each single-locus mode paints one 9 by 9 disc in the colour of its locus,
// and the first set flag among specialization, preference and mating wins.
TEST_F(MapView, SingleLocusModesPaintOneDiscOfTheirLocus) {
  const Individ individual = MakeIndividual(/*pref*/ 0, /*spec*/ 1, /*mating*/ 2);
  struct Case {
    bool spec, pref, mating;
    QRgb colour;
  };
  const Case cases[] = {
      {true, false, false, kBlue},   // habitatSpec 1
      {false, true, false, kRed},    // habitatPref 0
      {false, false, true, kYellow}, // matingPrefType 2
      {true, true, true, kBlue},     // specialization comes first
      {false, true, true, kRed},     // then preference
  };
  int column = 0;
  for (const Case& c : cases) {
    flags_.gAllLocusDisplay = false;
    flags_.gHabitatSpecDisplay = c.spec;
    flags_.gHabitatPreferenceDisplay = c.pref;
    flags_.gMatingPreferenceDisplay = c.mating;
    const int xx = 10 * (2 + 2 * column++), yy = 100;
    views_.DrawIndividual(xx, yy, individual);
    const Box disc = BoxOf(Port::View, c.colour, xx, yy, xx + 9, yy + 9);
    EXPECT_EQ(disc.left, xx);
    EXPECT_EQ(disc.right, xx + 8);
    EXPECT_EQ(disc.top, yy);
    EXPECT_EQ(disc.bottom, yy + 8);
    // Nothing else is painted in the cell.
    EXPECT_EQ(disc.pixels + BoxOf(Port::View, kWhite, xx, yy, xx + 9, yy + 9).pixels, 100);
  }
}

// With no map flag set the individual is not drawn at all.
TEST_F(MapView, NoDisplayFlagDrawsNothing) {
  flags_.gAllLocusDisplay = false;
  views_.DrawIndividual(100, 100, MakeIndividual(0, 0, 0));
  EXPECT_TRUE(AllWhite(Port::View, 90, 90, 120, 120));
}

// ClearCell wipes every disc colour of its own cell, leaves the neighbour's
// disc, and leaves the port drawing in white.
TEST_F(MapView, ClearCellWhitensItsDiscOnly) {
  views_.DrawIndividual(200, 200, MakeIndividual(1, 0, 2));
  views_.DrawIndividual(210, 200, MakeIndividual(0, 0, 0));
  canvas_.ForeColor(QdColor::Black);
  canvas_.PaintRect(QdRect{300, 300, 302, 302});
  views_.ClearCell(200, 200);
  EXPECT_TRUE(AllWhite(Port::View, 200, 200, 209, 209));
  EXPECT_EQ(PaintedBox(Port::View, 205, 195, 225, 215), BoxOf(Port::View, kRed, 205, 195, 225, 215));
  EXPECT_EQ(PaintedBox(Port::View, 205, 195, 225, 215).left, 210);
  EXPECT_EQ(PaintedBox(Port::View, 205, 195, 225, 215).right, 218);

  canvas_.PaintRect(QdRect{300, 300, 302, 302});
  EXPECT_TRUE(AllWhite(Port::View, 300, 300, 301, 301));
}

// The two frames share the column h 319; the right habitat's last cell at
// (630, 390) lies inside the frame; a left-edge disc covers the frame until
// the frames are drawn again.
TEST_F(MapView, HabitatFramesShareTheMiddleColumn) {
  Individ corner = MakeIndividual(1, 1, 1);
  corner.habitat = 1;
  corner.x = 31;
  corner.y = 39;
  const int xx = CellLeft(corner.habitat, corner.x), yy = CellTop(corner.y);
  ASSERT_EQ(xx, 630);
  ASSERT_EQ(yy, 390);
  views_.InitHabitats();
  views_.DrawIndividual(xx, yy, corner);
  views_.DrawIndividual(CellLeft(0, 0), CellTop(20), MakeIndividual(0, 0, 0));
  views_.DrawIndividual(CellLeft(1, 0), CellTop(20), MakeIndividual(1, 1, 1));

  const Box disc = BoxOf(Port::View, kBlue, 625, 385, 638, 398);
  EXPECT_EQ(disc.left, 630);
  EXPECT_EQ(disc.top, 390);
  EXPECT_EQ(disc.right, 638);
  EXPECT_EQ(disc.bottom, 398);
  EXPECT_EQ(Px(Port::View, 639, 394), kBlack);
  EXPECT_EQ(Px(Port::View, 634, 399), kBlack);
  // The left disc of habitat 0 has covered the outer frame line.
  EXPECT_EQ(Px(Port::View, 0, 204), kRed);
  // The right habitat's first disc stays clear of the shared line.
  EXPECT_EQ(Px(Port::View, 320, 204), kBlue);

  views_.InitHabitats();
  EXPECT_EQ(Px(Port::View, 0, 204), kBlack);
  for (int v : {0, 1, 204, 398, 399}) {
    EXPECT_EQ(Px(Port::View, 319, v), kBlack) << "v " << v;
    EXPECT_EQ(Px(Port::View, 0, v), kBlack) << "v " << v;
    EXPECT_EQ(Px(Port::View, 639, v), kBlack) << "v " << v;
  }
  for (int v : {1, 100, 398}) {
    EXPECT_EQ(Px(Port::View, 318, v), kWhite) << "v " << v;
    EXPECT_EQ(Px(Port::View, 320, v), kWhite) << "v " << v;
  }
  EXPECT_EQ(BoxOf(Port::View, kBlack, 0, 0, 639, 0).pixels, 640);
  EXPECT_EQ(BoxOf(Port::View, kBlack, 0, 399, 639, 399).pixels, 640);
  EXPECT_EQ(BoxOf(Port::View, kBlack, 1, 1, 318, 398).pixels, 0);
}

// Erasing the map area whitens the whole map window, frames included.
TEST_F(MapView, EraseMapAreaWhitensBothHabitats) {
  views_.InitHabitats();
  views_.DrawIndividual(630, 390, MakeIndividual(0, 1, 2));
  views_.EraseMapArea();
  EXPECT_TRUE(AllWhite(Port::View, 0, 0, 639, 399));
}

// The map routines draw into whatever port is current and select none.
TEST(MapViewPorts, MapRoutinesDrawIntoTheCurrentPort) {
  RecordingCanvas canvas;
  DisplayFlags flags;
  Views views(canvas, flags);
  canvas.SetPort(Port::Graph);
  canvas.Clear();
  views.DrawIndividual(0, 0, MakeIndividual(0, 1, 2));
  views.ClearCell(0, 0);
  views.EraseMapArea();
  views.InitHabitats();
  ASSERT_FALSE(canvas.ops().empty());
  for (const auto& op : canvas.ops()) {
    EXPECT_NE(op.kind, RecordingCanvas::Kind::SetPort);
    EXPECT_EQ(op.port, Port::Graph);
  }
  const auto ovals = canvas.OfKind(RecordingCanvas::Kind::PaintOval);
  ASSERT_EQ(ovals.size(), 4u);
  EXPECT_EQ(ovals[0].colour, QdColor::Red);
  EXPECT_EQ(ovals[1].colour, QdColor::Blue);
  EXPECT_EQ(ovals[2].colour, QdColor::Yellow);
  EXPECT_EQ(ovals[3].colour, QdColor::White);
  const auto frames = canvas.OfKind(RecordingCanvas::Kind::FrameRect);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].colour, QdColor::Black);
  EXPECT_EQ(frames[1].rect.left, 319);
}

// ---------------------------------------------------------------- bar graphs

using BarGraphs = ViewsPixels;

// Every adult of habitat 0 specialized to it gives a 60-pixel red bar from
// v 40 to 99 on the axis at 100, and empty yellow and blue bars; habitat 1
// all specialized to itself gives the blue bar, which is 30 pixels wide.
TEST_F(BarGraphs, FullSpecializationBarsSpanSixtyPixels) {
  GeneFrequencies f;
  Add(f, 0, /*spec*/ 0, 2, 2, 100);
  Add(f, 1, /*spec*/ 1, 2, 2, 40);
  views_.ShowResults(f, 1);

  EXPECT_EQ(BoxOf(Port::Graph, kRed, 0, 30, 219, 100), (Box{10, 40, 38, 99, 29 * 60}));
  EXPECT_EQ(BoxOf(Port::Graph, kBlue, 0, 30, 219, 100), (Box{180, 40, 209, 99, 30 * 60}));
  EXPECT_EQ(BoxOf(Port::Graph, kYellow, 0, 30, 219, 100).pixels, 0);
  // The axes: h 10..100 and 120..210 on v 100.
  EXPECT_EQ(BoxOf(Port::Graph, kBlack, 0, 100, 219, 100), (Box{10, 100, 210, 100, 91 + 91}));
  // The mating-preference and habitat-preference loci are neutral: yellow
  // bars only (group 3 from 140, group 1 from 320).
  EXPECT_EQ(BoxOf(Port::Graph, kYellow, 0, 130, 219, 199), (Box{40, 140, 178, 199, 2 * 29 * 60}));
  EXPECT_EQ(BoxOf(Port::Graph, kYellow, 0, 316, 219, 499), (Box{40, 320, 178, 499, 2 * 29 * 180}));
}

// In groups 2 to 4 a share with count * 80 / total of 20 or less paints no
// bar: of 100 adults, 25 and 26 give nothing and 27 a one-pixel bar.
TEST_F(BarGraphs, ShareBelowTwentyOneEightiethsPaintsNoBar) {
  struct Case {
    int count;
    int rows;
  };
  for (const Case c : {Case{25, 0}, Case{26, 0}, Case{27, 1}, Case{100, 60}}) {
    SCOPED_TRACE(c.count);
    GeneFrequencies f;
    // Specialized and preferring habitat 1 in habitat 0, so group 2 (blue
    // specialization), group 3 (blue preference) and group 4 (blublu) agree.
    Add(f, 0, 1, 1, 2, c.count);
    Add(f, 0, 2, 2, 2, 100 - c.count);
    views_.ShowResults(f, 1);
    for (int baseline : {100, 200, 300}) {
      const Box bar = BoxOf(Port::Graph, kBlue, 0, baseline - 70, 219, baseline);
      EXPECT_EQ(bar.pixels, 30 * c.rows) << "group at " << baseline;
      if (c.rows > 0) {
        EXPECT_EQ(bar.bottom, baseline - 1);
        EXPECT_EQ(bar.top, baseline - c.rows);
        EXPECT_EQ(bar.left, 70);
        EXPECT_EQ(bar.right, 99);
      }
    }
  }
}

// Group 4 has no yellow bar, and red or blue shares of 0 paint nothing in
// groups 2 to 4 even though their rectangles are computed.
TEST_F(BarGraphs, GroupsTwoToFourLeaveZeroSharesEmpty) {
  GeneFrequencies f;
  Add(f, 0, 2, 2, 2, 50);
  Add(f, 1, 2, 2, 2, 50);
  views_.ShowResults(f, 1);
  for (int baseline : {100, 200, 300}) {
    EXPECT_EQ(BoxOf(Port::Graph, kRed, 0, baseline - 80, 219, baseline + 20).pixels, 0);
    EXPECT_EQ(BoxOf(Port::Graph, kBlue, 0, baseline - 80, 219, baseline + 20).pixels, 0);
  }
  EXPECT_EQ(BoxOf(Port::Graph, kYellow, 0, 230, 219, 300).pixels, 0);
  // Each group still has its two axes and a caption.
  for (int baseline : {100, 200, 300, 500}) {
    EXPECT_EQ(Px(Port::Graph, 10, baseline), kBlack);
    EXPECT_EQ(Px(Port::Graph, 210, baseline), kBlack);
    EXPECT_EQ(Px(Port::Graph, 110, baseline), kWhite);
    EXPECT_GT(DarkPixels(Port::Graph, 10, baseline + 5, 219, baseline + 15), 0);
  }
}

// A mating preference held by every adult reaches up to v 320, just below
// the caption of group 4 at 315; group 1 spans 180 pixels from 500.
TEST_F(BarGraphs, FullMatingPreferenceBarReachesUpTo320) {
  GeneFrequencies f;
  Add(f, 0, 2, 2, /*mating*/ 0, 30);
  Add(f, 1, 2, 2, /*mating*/ 1, 7);
  Add(f, 1, 2, 2, /*mating*/ 2, 7);
  views_.ShowResults(f, 1);
  EXPECT_EQ(BoxOf(Port::Graph, kRed, 0, 301, 219, 519), (Box{10, 320, 38, 499, 29 * 180}));
  // Half of 14 is 90 pixels: 500 - 7 * 180 / 14.
  EXPECT_EQ(BoxOf(Port::Graph, kBlue, 0, 301, 219, 519), (Box{180, 410, 209, 499, 30 * 90}));
  EXPECT_EQ(BoxOf(Port::Graph, kYellow, 0, 301, 219, 519), (Box{150, 410, 178, 499, 29 * 90}));
}

// An empty habitat shows its axes but no bars, next to a habitat that shows
// its bars; the head counts read 30 and 0.
TEST_F(BarGraphs, EmptyHabitatShowsAxesOnly) {
  GeneFrequencies f;
  Add(f, 0, 0, 0, 0, 30);
  views_.ShowResults(f, 1);
  EXPECT_GT(BoxOf(Port::Graph, kRed, 0, 0, 109, 519).pixels, 0);
  for (QRgb c : {kRed, kYellow, kBlue}) EXPECT_EQ(BoxOf(Port::Graph, c, 111, 0, 219, 519).pixels, 0);
  EXPECT_EQ(Px(Port::Graph, 120, 100), kBlack);
  EXPECT_GT(DarkPixels(Port::Text, 4, 15, 300, 30), 0);
  EXPECT_GT(DarkPixels(Port::Text, 324, 15, 639, 30), 0);
}

// Each call redraws the graph window from scratch: a bar that is gone
// leaves no trace.
TEST_F(BarGraphs, GraphWindowIsErasedEveryGeneration) {
  GeneFrequencies before;
  Add(before, 0, 0, 0, 0, 10);
  views_.ShowResults(before, 1);
  GeneFrequencies after;
  Add(after, 0, 1, 1, 1, 10);
  views_.ShowResults(after, 2);
  EXPECT_EQ(BoxOf(Port::Graph, kRed, 0, 0, 219, 519).pixels, 0);
  EXPECT_GT(BoxOf(Port::Graph, kBlue, 0, 0, 219, 519).pixels, 0);
}

// The results routines draw text, graphs and time plot in that order and
// leave the map port current; the head counts read as one line per habitat.
TEST(ResultsPorts, ResultsRoutinesLeaveTheMapPortCurrent) {
  RecordingCanvas canvas;
  DisplayFlags flags;
  Views views(canvas, flags);
  GeneFrequencies f;
  Add(f, 0, 2, 2, 0, 12);
  Add(f, 1, 2, 2, 1, 345);

  views.ShowResults(f, 7);
  EXPECT_EQ(canvas.GetPort(), Port::View);
  std::vector<Port> selected;
  for (const auto& op : canvas.OfKind(RecordingCanvas::Kind::SetPort)) selected.push_back(op.port);
  EXPECT_EQ(selected, (std::vector<Port>{Port::Text, Port::Graph, Port::Time, Port::View}));
  EXPECT_EQ(canvas.TextIn(Port::Text), "Habitat 0  Total: 12Habitat 1  Total: 345");
  for (const auto& op : canvas.OfKind(RecordingCanvas::Kind::DrawString)) {
    if (op.port != Port::Text) continue;
    EXPECT_EQ(op.size, 9);
    EXPECT_EQ(op.face, op.text.starts_with("Habitat") ? 1 : 0) << op.text;
    EXPECT_EQ(op.v, 24);
  }
  // The groups are drawn in the order mating, specialization, preference, both.
  std::vector<std::string> captions;
  for (const auto& op : canvas.OfKind(RecordingCanvas::Kind::DrawString)) {
    if (op.port == Port::Graph) captions.push_back(op.text);
  }
  EXPECT_EQ(captions, (std::vector<std::string>{"MATING PREFERENCES", "HABITAT SPECIALIZATION",
                                                "HABITAT PREFERENCE",
                                                "SPECIALIZATION & PREFERENCE"}));
  // Bars of one habitat are painted red, yellow, blue.
  std::vector<QdColor> firstBars;
  for (const auto& op : canvas.OfKind(RecordingCanvas::Kind::PaintRect)) {
    if (firstBars.size() < 3) firstBars.push_back(op.colour);
  }
  EXPECT_EQ(firstBars, (std::vector<QdColor>{QdColor::Red, QdColor::Yellow, QdColor::Blue}));

  canvas.SetPort(Port::Text);
  views.ZeroResults();
  EXPECT_EQ(canvas.GetPort(), Port::View);
  canvas.SetPort(Port::Graph);
  views.ClearGraphText(10);
  EXPECT_EQ(canvas.GetPort(), Port::View);
}

// ---------------------------------------------------------------- status line

using StatusLine = ViewsPixels;

// At generation 0 the phase name and "Generation: 0" are shown, with the
// title and the caption of the map mode.
TEST_F(StatusLine, ReplicateStartShowsPhaseAndGeneration) {
  views_.ShowInfo("Start", 0, false);
  EXPECT_GT(DarkPixels(Port::Text, 0, 0, 390, 16), 0);   // title
  EXPECT_GT(DarkPixels(Port::Text, 400, 2, 639, 16), 0); // mode caption
  EXPECT_GT(DarkPixels(Port::Text, 0, 60, 349, 94), 0);  // phase
  EXPECT_GT(DarkPixels(Port::Text, 350, 60, 639, 94), 0);// generation
}

// Past generation 0 outside step mode the old phase name is erased and not
// replaced; in step mode it is shown.
TEST_F(StatusLine, PhaseNameOnlyAtGenerationZeroOrInStepMode) {
  views_.ShowInfo("Start", 0, false);
  views_.ShowInfo("Dispersal", 120, false);
  EXPECT_EQ(DarkPixels(Port::Text, 0, 60, 349, 94), 0);
  EXPECT_GT(DarkPixels(Port::Text, 350, 60, 639, 94), 0);
  views_.ShowInfo("Extinction", 121, true);
  EXPECT_GT(DarkPixels(Port::Text, 0, 60, 349, 94), 0);
}

// The sequence of one ShowInfo: title bold 14, phase bold 32, generation
// plain 32, mode caption plain 12, and the map port current at the end.
TEST(StatusLineOps, ShowInfoDrawsTitleStatusAndCaption) {
  RecordingCanvas canvas;
  DisplayFlags flags;
  Views views(canvas, flags);
  views.ShowInfo("Reproduction", 120, false);
  EXPECT_EQ(canvas.GetPort(), Port::View);
  const auto strings = canvas.OfKind(RecordingCanvas::Kind::DrawString);
  ASSERT_EQ(strings.size(), 4u);
  EXPECT_EQ(strings[0].text, "T A L V E R O N !");
  EXPECT_EQ(strings[0].size, 14);
  EXPECT_EQ(strings[0].face, 1);
  EXPECT_EQ(strings[0].h, 4);
  EXPECT_EQ(strings[1].text, "Generation: ");
  EXPECT_EQ(strings[1].size, 32);
  EXPECT_EQ(strings[1].face, 0);
  EXPECT_EQ(strings[1].h, 350);
  EXPECT_EQ(strings[1].v, 85);
  EXPECT_EQ(strings[2].text, "120");
  EXPECT_EQ(strings[3].text, "ALL THREE LOCI");
  EXPECT_EQ(strings[3].size, 12);
  EXPECT_EQ(strings[3].face, 0);
  for (const auto& s : strings) EXPECT_EQ(s.port, Port::Text);

  canvas.Clear();
  views.ShowInfo("Reproduction", 121, true);
  EXPECT_EQ(canvas.OfKind(RecordingCanvas::Kind::DrawString)[1].text, "Reproduction");
  EXPECT_EQ(canvas.OfKind(RecordingCanvas::Kind::DrawString)[1].face, 1);
}

// The mode caption follows the first set flag in the order specialization,
// preference, mating, all loci, and is left blank when none is set.
TEST(StatusLineOps, ModeCaptionFollowsTheFirstSetFlag) {
  struct Case {
    bool all, spec, pref, mating;
    std::string caption;
  };
  const Case cases[] = {
      {true, true, false, false, "HABITAT SPECIALIZATION LOCUS"},
      {true, false, true, true, "HABITAT PREFERENCE LOCUS"},
      {true, false, false, true, "MATING PREFERENCE LOCUS"},
      {true, false, false, false, "ALL THREE LOCI"},
      {false, false, false, false, ""},
  };
  for (const Case& c : cases) {
    RecordingCanvas canvas;
    DisplayFlags flags;
    flags.gAllLocusDisplay = c.all;
    flags.gHabitatSpecDisplay = c.spec;
    flags.gHabitatPreferenceDisplay = c.pref;
    flags.gMatingPreferenceDisplay = c.mating;
    Views views(canvas, flags);
    views.ShowInfo("Mortality", 5, false);
    EXPECT_EQ(canvas.TextIn(Port::Text), "T A L V E R O N !Generation: 5" + c.caption);
  }
}

// The error line: "ERROR: " bold, then the message and the prompt plain, at
// 9 points from (5, 54); erasing it leaves the band blank; the text port
// stays current after both halves.
TEST_F(StatusLine, ErrorLineIsDrawnAndErased) {
  canvas_.SetPort(Port::Graph);
  views_.DrawErrorLine("Bad scaledRandomNumber");
  EXPECT_EQ(canvas_.GetPort(), Port::Text);
  EXPECT_GT(DarkPixels(Port::Text, 5, 45, 100, 56), 0);
  EXPECT_GT(DarkPixels(Port::Text, 100, 45, 400, 56), 0);
  EXPECT_EQ(DarkPixels(Port::Text, 0, 0, 639, 40), 0);
  canvas_.SetPort(Port::View);
  views_.EraseErrorLine();
  EXPECT_EQ(canvas_.GetPort(), Port::Text);
  EXPECT_TRUE(AllWhite(Port::Text, 0, 45, 639, 55));

  RecordingCanvas recording;
  DisplayFlags flags;
  Views views(recording, flags);
  views.DrawErrorLine("Bad scaledRandomNumber");
  const auto strings = recording.OfKind(RecordingCanvas::Kind::DrawString);
  ASSERT_EQ(strings.size(), 3u);
  EXPECT_EQ(strings[0].text, "ERROR: ");
  EXPECT_EQ(strings[0].face, 1);
  EXPECT_EQ(strings[0].size, 9);
  EXPECT_EQ(strings[0].h, 5);
  EXPECT_EQ(strings[0].v, 54);
  EXPECT_EQ(strings[1].text, "Bad scaledRandomNumber");
  EXPECT_EQ(strings[1].face, 0);
  EXPECT_EQ(strings[2].text, " (Press space bar to continue)");
  EXPECT_EQ(strings[2].face, 0);
}

}  // namespace
}  // namespace talveron::app
