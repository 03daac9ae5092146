// The desktop program's map after a run, for the page's tests to compare
// with: `desktop_map SEED GENERATIONS OUT` runs one replicate with that seed
// for that many generations through the Qt canvas (offscreen), as the
// desktop program does after the space bar, and writes the map's pixels at
// their natural size to OUT as RGBA bytes, row by row.
#include <QApplication>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "app/shell/headless_platform.h"
#include "app/shell/shell.h"
#include "gui/qt_canvas.h"

int main(int argc, char* argv[]) {
  if (argc != 4) {
    std::cerr << "usage: desktop_map SEED GENERATIONS OUT\n";
    return 2;
  }
  QApplication application(argc, argv);
  const std::uint64_t seed = std::stoull(argv[1]);
  const long generations = std::stol(argv[2]);

  talveron::app::QtCanvas canvas;
  talveron::app::HeadlessPlatform platform;  // the space bar once; then Quit at the run's end
  talveron::app::Shell shell(platform, canvas, seed);
  shell.MenuBarInit();
  shell.gTotalGenerations = generations;
  platform.PostKey(' ');
  if (shell.MainLoop() != 0 || shell.world.gGenerationNumber < generations) {
    std::cerr << "desktop_map: the run did not reach generation " << generations << '\n';
    return 1;
  }

  const QImage& map = canvas.image(talveron::app::Port::View);
  std::ofstream out(argv[3], std::ios::binary);
  for (int v = 0; v < map.height(); ++v) {
    for (int h = 0; h < map.width(); ++h) {
      const QRgb pixel = map.pixel(h, v);
      const char rgba[4] = {static_cast<char>(qRed(pixel)), static_cast<char>(qGreen(pixel)),
                            static_cast<char>(qBlue(pixel)), static_cast<char>(0xFF)};
      out.write(rgba, 4);
    }
  }
  return out ? 0 : 1;
}
