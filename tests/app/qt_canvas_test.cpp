// The Qt canvas: half-open rectangles, lines with both ends, each port's
// own state, text, drawing at another scale and the widgets that show the
// ports, checked on its pixels.
#include "gui/qt_canvas.h"

#include <gtest/gtest.h>

#include <array>
#include <set>

#include <QPixmap>
#include <QWidget>

#include "views_pixels.h"

namespace talveron::app {
namespace {

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
