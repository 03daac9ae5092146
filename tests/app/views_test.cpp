// The pictures of the map, the results graphs and the status line, checked
// on the pixels of the Qt canvas and, where the order of operations is the
// point, on a recording canvas.
#include <gtest/gtest.h>

#include <array>
#include <set>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "app/recording_canvas.h"
#include "app/views.h"
#include "gui/qt_canvas.h"
#include "model/census.h"
#include "model/individual.h"

namespace talveron::app {
namespace {

// Fonts and widgets need an application object; made once, on first use,
// so that listing the tests needs no display.
void EnsureApplication() {
  static QApplication* application = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "views_test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  (void)application;
}

// Colours as 0xRRGGBB, without the alpha byte.
QRgb Rgb(QdColor colour) { return QtCanvas::Rgb(colour) & 0xFFFFFFu; }
const QRgb kBlack = Rgb(QdColor::Black);
const QRgb kWhite = Rgb(QdColor::White);
const QRgb kRed = Rgb(QdColor::Red);
const QRgb kBlue = Rgb(QdColor::Blue);
const QRgb kYellow = Rgb(QdColor::Yellow);

Individ MakeIndividual(int habitatPref, int habitatSpec, int matingPrefType) {
  Individ individual;
  individual.habitatPref = static_cast<std::uint8_t>(habitatPref);
  individual.habitatSpec = static_cast<std::uint8_t>(habitatSpec);
  individual.matingPrefType = static_cast<std::uint8_t>(matingPrefType);
  return individual;
}

// Adds n adults of habitat h with the given alleles to the census table.
void Add(GeneFrequencies& f, int habitat, int spec, int pref, int mating, int n) {
  f.count[habitat][spec][pref][mating] += n;
}

struct Box {
  int left = 0, top = 0, right = -1, bottom = -1;  // inclusive; empty when right < left
  int pixels = 0;
  bool operator==(const Box&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Box& b) {
  return out << "h " << b.left << ".." << b.right << " v " << b.top << ".." << b.bottom
             << " (" << b.pixels << " px)";
}

class ViewsPixels : public ::testing::Test {
 protected:
  ViewsPixels() { EnsureApplication(); }

  QRgb Px(Port port, int h, int v) const { return canvas_.image(port).pixel(h, v) & 0xFFFFFFu; }

  // The bounding box of the pixels of one colour inside h0..h1 x v0..v1.
  Box BoxOf(Port port, QRgb colour, int h0, int v0, int h1, int v1) const {
    Box box{h1 + 1, v1 + 1, -1, -1, 0};
    for (int v = v0; v <= v1; ++v) {
      for (int h = h0; h <= h1; ++h) {
        if (Px(port, h, v) != colour) continue;
        box.left = std::min(box.left, h);
        box.right = std::max(box.right, h);
        box.top = std::min(box.top, v);
        box.bottom = std::max(box.bottom, v);
        ++box.pixels;
      }
    }
    if (box.pixels == 0) return Box{};
    return box;
  }

  // Pixels darker than mid grey inside h0..h1 x v0..v1: where text was drawn.
  int DarkPixels(Port port, int h0, int v0, int h1, int v1) const {
    int n = 0;
    for (int v = v0; v <= v1; ++v) {
      for (int h = h0; h <= h1; ++h) {
        if (qGray(canvas_.image(port).pixel(h, v)) < 128) ++n;
      }
    }
    return n;
  }

  // The bounding box of everything painted inside h0..h1 x v0..v1.
  Box PaintedBox(Port port, int h0, int v0, int h1, int v1) const {
    Box box{h1 + 1, v1 + 1, -1, -1, 0};
    for (int v = v0; v <= v1; ++v) {
      for (int h = h0; h <= h1; ++h) {
        if (Px(port, h, v) == kWhite) continue;
        box.left = std::min(box.left, h);
        box.right = std::max(box.right, h);
        box.top = std::min(box.top, v);
        box.bottom = std::max(box.bottom, v);
        ++box.pixels;
      }
    }
    if (box.pixels == 0) return Box{};
    return box;
  }

  bool AllWhite(Port port, int h0, int v0, int h1, int v1) const {
    return BoxOf(port, kWhite, h0, v0, h1, v1).pixels == (h1 - h0 + 1) * (v1 - v0 + 1);
  }

  DisplayFlags flags_;
  QtCanvas canvas_;
  Views views_{canvas_, flags_};
};

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

// ---------------------------------------------------------------- Qt canvas

using QtCanvasPixels = ViewsPixels;

// Rectangles are half-open: a frame outlines left..right-1 x top..bottom-1,
// a paint fills exactly that area, and an empty rectangle draws nothing.
TEST_F(QtCanvasPixels, RectanglesCoverLeftToRightMinusOne) {
  canvas_.SetPort(Port::Graph);
  canvas_.ForeColor(QdColor::Blue);
  canvas_.FrameRect(QdRect{10, 20, 15, 30});
  EXPECT_EQ(BoxOf(Port::Graph, kBlue, 0, 0, 219, 519), (Box{20, 10, 29, 14, 10 + 10 + 3 + 3}));
  EXPECT_EQ(Px(Port::Graph, 21, 11), kWhite);
  canvas_.ForeColor(QdColor::Red);
  canvas_.PaintRect(QdRect{100, 50, 103, 54});
  EXPECT_EQ(BoxOf(Port::Graph, kRed, 0, 0, 219, 519), (Box{50, 100, 53, 102, 12}));
  canvas_.PaintRect(QdRect{200, 50, 200, 60});
  canvas_.PaintRect(QdRect{200, 60, 210, 60});
  canvas_.FrameRect(QdRect{200, 60, 190, 70});
  EXPECT_EQ(BoxOf(Port::Graph, kRed, 0, 0, 219, 519).pixels, 12);
  canvas_.EraseRect(QdRect{101, 51, 102, 52});
  EXPECT_EQ(Px(Port::Graph, 51, 101), kWhite);
  EXPECT_EQ(BoxOf(Port::Graph, kRed, 0, 0, 219, 519).pixels, 11);
  // Shapes partly outside the image are clipped.
  canvas_.PaintRect(QdRect{-5, -5, 2, 2});
  canvas_.PaintOval(QdRect{515, 215, 525, 225});
  EXPECT_EQ(Px(Port::Graph, 0, 0), kRed);
  EXPECT_EQ(Px(Port::Graph, 219, 519), kRed);
}

// At scale 2 the same shapes are drawn at twice the coordinates, from what
// the port shows: rectangles, frames and lines become blocks of 2 x 2, a
// disc's box doubles, a cleared disc leaves nothing, text is smooth. Drawn
// live at scale 2 or drawn again from the record, the image is the same, and
// back at scale 1 it is the specified one.
TEST_F(QtCanvasPixels, ScaleTwoDrawsTheSameShapesAtTwiceTheCoordinates) {
  auto draw = [](QtCanvas& c) {
    c.SetPort(Port::Graph);
    c.ForeColor(QdColor::Blue);
    c.FrameRect(QdRect{10, 20, 15, 30});
    c.ForeColor(QdColor::Red);
    c.PaintRect(QdRect{100, 50, 103, 54});
    c.ForeColor(QdColor::Black);
    c.MoveTo(5, 60);
    c.LineTo(40, 60);
    c.ForeColor(QdColor::Yellow);
    c.PaintOval(QdRect{200, 100, 209, 109});
    c.PaintOval(QdRect{300, 100, 309, 109});
    c.ForeColor(QdColor::White);
    c.PaintOval(QdRect{300, 100, 309, 109});
    c.ForeColor(QdColor::Black);
    c.TextSize(9);
    c.MoveTo(10, 420);
    c.DrawString("Total: 78");
  };
  draw(canvas_);
  const QImage one = canvas_.image(Port::Graph);
  canvas_.SetScale(Port::Graph, 2);
  const QImage two = canvas_.image(Port::Graph);
  ASSERT_EQ(two.size(), QSize(440, 1040));
  for (int v = 0; v < 120; ++v) {
    for (int h = 0; h < 60; ++h) {
      ASSERT_EQ(two.pixel(2 * h, 2 * v), one.pixel(h, v)) << h << "," << v;
      ASSERT_EQ(two.pixel(2 * h + 1, 2 * v + 1), one.pixel(h, v)) << h << "," << v;
    }
  }
  const Box disc = BoxOf(Port::Graph, kYellow, 0, 0, 439, 1039);
  EXPECT_EQ((std::array<int, 4>{disc.left, disc.top, disc.right, disc.bottom}),
            (std::array<int, 4>{200, 400, 217, 417}));
  EXPECT_EQ(BoxOf(Port::Graph, kYellow, 190, 590, 230, 630).pixels, 0);
  std::set<QRgb> textShades;
  std::set<QRgb> exactShades;
  for (int v = 400; v < 860; ++v) {
    for (int h = 10; h < 200; ++h) textShades.insert(two.pixel(h, v) & 0xFFFFFFu);
  }
  for (int v = 200; v < 430; ++v) {
    for (int h = 5; h < 100; ++h) exactShades.insert(one.pixel(h, v) & 0xFFFFFFu);
  }
  EXPECT_GT(textShades.size(), 3u);
  EXPECT_EQ(exactShades, (std::set<QRgb>{kBlack, kWhite}));

  QtCanvas live;
  live.SetScale(Port::Graph, 2);
  draw(live);
  EXPECT_EQ(live.image(Port::Graph), two);
  canvas_.SetScale(Port::Graph, 1);
  EXPECT_EQ(canvas_.image(Port::Graph), one);
}

// What a port keeps to draw it again stays as small as what it shows: the
// status line drawn for a thousand generations, the discs of a cell drawn
// and cleared again and again, the time plot wrapping round.
TEST_F(QtCanvasPixels, RecordOfWhatShowsStaysBounded) {
  Individ individual{};
  GeneFrequencies frequencies{};
  views_.ZeroResults();
  for (int generation = 1; generation <= 2000; ++generation) {
    views_.ShowInfo("Reproduction", generation, false);
    views_.ShowResults(frequencies, generation);
    canvas_.SetPort(Port::View);
    views_.DrawIndividual(10 * (generation % 7), 0, individual);
    views_.ClearCell(10 * (generation % 7), 0);
    views_.InitHabitats();
  }
  EXPECT_LT(canvas_.OperationCount(Port::Text), 30u);
  EXPECT_LT(canvas_.OperationCount(Port::View), 10u);
  EXPECT_LT(canvas_.OperationCount(Port::Time), 902u * 4);
}

// Lines include both end points and leave the pen at the end.
TEST_F(QtCanvasPixels, LinesIncludeBothEnds) {
  canvas_.SetPort(Port::Time);
  canvas_.MoveTo(7, 30);
  canvas_.LineTo(7, 20);
  EXPECT_EQ(BoxOf(Port::Time, kBlack, 0, 0, 901, 159), (Box{7, 20, 7, 30, 11}));
  canvas_.LineTo(12, 20);
  EXPECT_EQ(BoxOf(Port::Time, kBlack, 0, 0, 901, 159).pixels, 16);
  canvas_.MoveTo(100, 100);
  canvas_.LineTo(110, 105);
  EXPECT_EQ(Px(Port::Time, 100, 100), kBlack);
  EXPECT_EQ(Px(Port::Time, 110, 105), kBlack);
  EXPECT_EQ(BoxOf(Port::Time, kBlack, 95, 95, 115, 110).pixels, 11);
  canvas_.MoveTo(3, 3);
  canvas_.LineTo(3, 3);
  EXPECT_EQ(Px(Port::Time, 3, 3), kBlack);
}

// Colour, text size, face and pen belong to each port and persist between
// calls; the images start white at the windows' sizes.
TEST_F(QtCanvasPixels, EachPortKeepsItsOwnState) {
  EXPECT_EQ(canvas_.image(Port::View).size(), QSize(640, 400));
  EXPECT_EQ(canvas_.image(Port::Text).size(), QSize(640, 95));
  EXPECT_EQ(canvas_.image(Port::Graph).size(), QSize(220, 520));
  EXPECT_EQ(canvas_.image(Port::Time).size(), QSize(902, 160));
  canvas_.SetPort(Port::Time);
  EXPECT_EQ(canvas_.GetPortBounds().right, 902);
  EXPECT_EQ(canvas_.GetPortBounds().bottom, 160);
  EXPECT_TRUE(AllWhite(Port::Time, 0, 0, 901, 159));

  canvas_.SetPort(Port::Graph);
  canvas_.ForeColor(QdColor::Yellow);
  canvas_.MoveTo(10, 10);
  canvas_.SetPort(Port::Time);
  canvas_.MoveTo(50, 50);
  canvas_.LineTo(50, 50);
  canvas_.SetPort(Port::Graph);
  canvas_.LineTo(10, 12);
  EXPECT_EQ(Px(Port::Time, 50, 50), kBlack);
  EXPECT_EQ(BoxOf(Port::Graph, kYellow, 0, 0, 219, 519), (Box{10, 10, 10, 12, 3}));
}

// Text sits on its baseline, grows with its size, is heavier in bold, and
// moves the pen on so that a second string follows the first.
TEST_F(QtCanvasPixels, TextFollowsSizeFaceAndPen) {
  canvas_.SetPort(Port::Text);
  canvas_.TextSize(9);
  canvas_.MoveTo(10, 30);
  canvas_.DrawString("HHHH");
  const Box small = BoxOf(Port::Text, kBlack, 0, 0, 639, 94);
  EXPECT_GT(small.pixels, 0);
  EXPECT_LE(small.bottom, 30);
  EXPECT_GE(small.top, 30 - 9);
  EXPECT_GE(small.left, 10);
  canvas_.DrawString("HHHH");
  const Box both = BoxOf(Port::Text, kBlack, 0, 0, 639, 94);
  EXPECT_GT(both.right, small.right + 10);
  EXPECT_EQ(both.pixels, 2 * small.pixels);

  canvas_.EraseRect(canvas_.GetPortBounds());
  canvas_.TextSize(32);
  canvas_.MoveTo(10, 85);
  canvas_.DrawString("HHHH");
  const Box large = BoxOf(Port::Text, kBlack, 0, 0, 639, 94);
  EXPECT_GT(large.bottom - large.top, 2 * (small.bottom - small.top));

  canvas_.EraseRect(canvas_.GetPortBounds());
  canvas_.TextFace(1);
  canvas_.ForeColor(QdColor::Blue);
  canvas_.MoveTo(10, 85);
  canvas_.DrawString("HHHH");
  EXPECT_GT(BoxOf(Port::Text, kBlue, 0, 0, 639, 94).pixels, large.pixels);
  EXPECT_EQ(BoxOf(Port::Text, kBlack, 0, 0, 639, 94).pixels, 0);
}

// The time plot's captions, drawn again every generation over themselves
// and over a column wiped under them, show at scale 1.5 as the saved
// picture shows them, not darkened by the copies beneath.
TEST_F(QtCanvasPixels, CaptionsDrawnAgainAtAnotherScaleShowAsThePicture) {
  canvas_.SetScale(Port::Time, 1.5);
  canvas_.SetPort(Port::Time);
  for (int generation = 1; generation <= 12; ++generation) {
    canvas_.ForeColor(QdColor::White);
    canvas_.MoveTo(generation * 3, 79);
    canvas_.LineTo(generation * 3, 0);
    canvas_.ForeColor(QdColor::Black);
    canvas_.MoveTo(5, 20);
    canvas_.DrawString("HABITAT SPECIALIZATION");
  }
  canvas_.Refresh(Port::Time);
  EXPECT_EQ(canvas_.image(Port::Time), canvas_.Picture(Port::Time, 1.5));
}

// The widget of a port asks for the image's size and paints the image.
TEST_F(QtCanvasPixels, WidgetShowsThePortImage) {
  QWidget* widget = canvas_.widget(Port::Graph);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget, canvas_.widget(Port::Graph));
  EXPECT_EQ(widget->sizeHint(), QSize(220, 520));
  EXPECT_EQ(widget->minimumSizeHint(), QSize(55, 130));
  canvas_.SetPort(Port::Graph);
  canvas_.ForeColor(QdColor::Red);
  canvas_.PaintRect(QdRect{0, 0, 10, 10});
  widget->resize(widget->sizeHint());
  const QImage shown = widget->grab().toImage();
  EXPECT_EQ(shown.pixel(5, 5) & 0xFFFFFFu, kRed);
  EXPECT_EQ(shown.pixel(15, 15) & 0xFFFFFFu, kWhite);
}

// Given less room than its natural size, a port's widget draws the view
// whole at the scale that fits, its proportions kept, in the middle of the
// widget; the shapes lie at proportionally smaller coordinates. Given its
// natural size again, it shows the image drawn at scale 1, the frames drawn
// last still over the disc beneath them.
TEST_F(QtCanvasPixels, WidgetGivenLessRoomDrawsTheViewSmaller) {
  CanvasWidget* widget = canvas_.view(Port::View);
  canvas_.SetPort(Port::View);
  views_.InitHabitats();
  canvas_.ForeColor(QdColor::Red);
  canvas_.PaintOval(QdRect{0, 0, 9, 9});
  canvas_.PaintRect(QdRect{100, 200, 140, 260});
  canvas_.ForeColor(QdColor::Blue);
  canvas_.PaintOval(QdRect{50, 330, 59, 339});  // the disc of a cell of habitat 1
  views_.InitHabitats();
  const QImage natural = canvas_.image(Port::View);
  ASSERT_EQ(natural.pixel(0, 4) & 0xFFFFFFu, kBlack);

  widget->resize(400, 200);  // fits at half size, 80 pixels to spare across
  const QImage shown = widget->grab().toImage();
  ASSERT_EQ(shown.size(), QSize(400, 200));
  EXPECT_EQ(canvas_.scale(Port::View), 0.5);
  auto at = [&](int h, int v) { return shown.pixel(40 + h, v) & 0xFFFFFFu; };
  EXPECT_EQ(at(100, 50), kRed);  // the rectangle's pixels 200..259 x 100..139 at half
  EXPECT_EQ(at(129, 69), kRed);
  EXPECT_EQ(at(130, 60), kWhite);
  EXPECT_EQ(at(115, 70), kWhite);
  EXPECT_EQ(at(167, 27), kBlue);    // the disc at 330..338 x 50..58
  EXPECT_EQ(at(171, 27), kWhite);
  EXPECT_EQ(at(0, 100), kBlack);    // the left habitat's frame
  EXPECT_EQ(at(160, 100), kBlack);  // the column the habitats share, 319 at half
  EXPECT_EQ(at(319, 100), kBlack);  // the right habitat's last column
  const QRgb background = widget->palette().color(QPalette::Window).rgb() & 0xFFFFFFu;
  EXPECT_EQ(shown.pixel(20, 100) & 0xFFFFFFu, background);
  EXPECT_EQ(shown.pixel(380, 100) & 0xFFFFFFu, background);

  widget->resize(640, 400);
  widget->grab();
  EXPECT_EQ(canvas_.scale(Port::View), 1.0);
  EXPECT_EQ(canvas_.image(Port::View), natural);
}

}  // namespace
}  // namespace talveron::app
