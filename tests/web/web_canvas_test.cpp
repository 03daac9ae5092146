// The page's canvas, natively: it draws the views' shapes with the pixels
// of the desktop program's canvas at any scale, and what it keeps to draw a
// port again at a new scale stays small and gives the same pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include <cstdint>
#include <vector>

#include "app/drawing/raster.h"
#include "app/shell/headless_platform.h"
#include "app/shell/shell.h"
#include "gui/qt_canvas.h"
#include "web/web_canvas.h"

namespace talveron::web {
namespace {

void EnsureApplication() {
  static QApplication* application = [] {
    static int argc = 1;
    static char name[] = "web_canvas_test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  (void)application;
}

// Text as a solid box per character, 4 pixels wide and `size` high at
// scale 1, with an advance of 5: enough to be drawn over, erased and drawn
// again as the views do.
class BoxText : public TextSource {
 public:
  Measure MeasureGlyph(char /*c*/, int size, int /*face*/) override { return Measure{5.0, 0, -size, 3, 0}; }
  Mask RenderGlyph(char /*c*/, int size, int /*face*/, double scale) override {
    Mask mask;
    mask.width = static_cast<int>(4 * scale);
    mask.height = static_cast<int>(size * scale);
    mask.originH = 0;
    mask.originV = -mask.height;
    mask.alpha.assign(static_cast<std::size_t>(mask.width * mask.height), 255);
    return mask;
  }
};

// One replicate of `seed`, run for `generations` after the space bar on the
// given canvas, as the desktop program runs it.
void RunReplicate(app::Canvas& canvas, std::uint64_t seed, long generations, int density = 1) {
  app::HeadlessPlatform platform;
  app::Shell shell(platform, canvas, seed);
  shell.MenuBarInit();
  shell.world.params.density = static_cast<std::int16_t>(density);
  shell.gTotalGenerations = generations;
  platform.PostKey(' ');
  ASSERT_EQ(shell.MainLoop(), 0);
  ASSERT_GT(shell.world.gGenerationNumber, generations);
}

std::vector<std::uint32_t> Pixels(const WebCanvas& canvas, app::Port port) {
  const std::uint32_t* first = canvas.pixels(port);
  return std::vector<std::uint32_t>(first, first + static_cast<std::size_t>(canvas.width(port) * canvas.height(port)));
}

// The Qt image's pixels in the page's byte order.
std::vector<std::uint32_t> Pixels(const QImage& image) {
  std::vector<std::uint32_t> pixels;
  for (int v = 0; v < image.height(); ++v) {
    for (int h = 0; h < image.width(); ++h) pixels.push_back(app::RgbaPixel(image.pixel(h, v) & 0xFFFFFFu));
  }
  return pixels;
}

TEST(WebCanvas, MapIsTheDesktopProgramsAtNaturalSizeAndTwiceIt) {
  EnsureApplication();
  BoxText text;
  WebCanvas web(text);
  app::QtCanvas qt;
  RunReplicate(web, 2026, 60, 8);
  RunReplicate(qt, 2026, 60, 8);
  EXPECT_EQ(Pixels(web, app::Port::View), Pixels(qt.image(app::Port::View)));
  web.SetScale(app::Port::View, 2.0);
  EXPECT_EQ(web.width(app::Port::View), 1280);
  EXPECT_EQ(Pixels(web, app::Port::View), Pixels(qt.Picture(app::Port::View, 2.0)));
}

TEST(WebCanvas, NewScaleDrawsWhatShowsAgainFromAShortRecord) {
  BoxText text;
  WebCanvas canvas(text);
  RunReplicate(canvas, 7, 1500);
  for (app::Port port : {app::Port::View, app::Port::Text, app::Port::Graph, app::Port::Time}) {
    const std::vector<std::uint32_t> before = Pixels(canvas, port);
    // A long run keeps little more than what shows: about three shapes per
    // adult on the map, a column's few on the time plot.
    EXPECT_LT(canvas.OperationCount(port), 16000u) << static_cast<int>(port);
    canvas.SetScale(port, 1.5);
    canvas.SetScale(port, 1.0);
    EXPECT_EQ(Pixels(canvas, port), before) << static_cast<int>(port);
  }
}

TEST(WebCanvas, ChangedAreaCoversEveryPixelDrawnSinceItWasTaken) {
  BoxText text;
  WebCanvas canvas(text);
  canvas.SetScale(app::Port::Graph, 2.0);
  EXPECT_EQ(canvas.TakeChanged(app::Port::Graph).right, 440);  // a new scale: all of it
  EXPECT_EQ(canvas.TakeChanged(app::Port::Graph).right, 0);    // then nothing
  canvas.SetPort(app::Port::Graph);
  canvas.ForeColor(app::QdColor::Red);
  canvas.PaintOval(app::QdRect{10, 20, 19, 29});
  app::QdRect changed = canvas.TakeChanged(app::Port::Graph);
  EXPECT_EQ(changed.top, 20);
  EXPECT_EQ(changed.left, 40);
  EXPECT_EQ(changed.bottom, 38);
  EXPECT_EQ(changed.right, 58);
  EXPECT_EQ(canvas.pixels(app::Port::Graph)[static_cast<std::size_t>(2 * 14 * 440 + 2 * 24)],
            app::RgbaPixel(app::ColourRgb(app::QdColor::Red)));
  canvas.MoveTo(100, 200);
  canvas.DrawString("AB");
  changed = canvas.TakeChanged(app::Port::Graph);
  EXPECT_EQ(changed.top, 2 * (200 - 12));  // the boxes, 12 high at the default size
  EXPECT_EQ(changed.left, 200);
  EXPECT_EQ(changed.bottom, 400);
  EXPECT_EQ(changed.right, 2 * 105 + 8);  // the second box starts 5 on
}

}  // namespace
}  // namespace talveron::web
