// Generations per second of the desktop program with the display on: the
// default settings, every individual drawn into the Qt views (offscreen),
// the graphs and the time plot after every census, and one poll of Qt's
// events per generation, as the run loop does it; at the views' natural
// size, and zoomed to twice it, where every shape is drawn at scale 2.
#include <benchmark/benchmark.h>

#include <QApplication>

#include "app/shell.h"
#include "gui/main_window.h"
#include "gui/qt_canvas.h"
#include "gui/qt_platform.h"

namespace talveron::gui {
namespace {

QApplication& Application() {
  static int argc = 1;
  static char name[] = "gui_bench";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static auto* application = new QApplication(argc, argv);
  return *application;
}

void RunDisplayedGenerations(benchmark::State& state, int density, double zoom = 1.0) {
  Application();
  app::QtCanvas canvas;
  MainWindow window(canvas);
  QtPlatform platform(window);
  app::Shell shell(platform, canvas, 1);
  window.show();
  shell.MenuBarInit();
  window.SetZoom(zoom);
  // The views at their size whatever the virtual screen's: the window may
  // be larger than the screen.
  window.resize(window.sizeHint());
  QCoreApplication::processEvents();
  shell.world.params.density = static_cast<std::int16_t>(density);
  shell.gReplicateNumber = 1;
  shell.BeginReplicate();

  auto generation = [&] {
    ++shell.world.gGenerationNumber;
    if (const auto event = platform.WaitNextEvent(1)) shell.DoEvent(*event);
    shell.RunGeneration();
  };
  for (int i = 0; i < 100; ++i) generation();  // past the founding
  for (auto _ : state) generation();

  state.counters["adults"] = static_cast<double>(shell.world.totalAdults());
  state.counters["scale"] = canvas.scale(app::Port::View);
  state.counters["scale_text"] = canvas.scale(app::Port::Text);
  state.counters["scale_graphs"] = canvas.scale(app::Port::Graph);
  state.counters["scale_time"] = canvas.scale(app::Port::Time);
  state.counters["generations/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The default settings, and every cell occupied at founding.
void BM_DisplayedGenerationsDefaults(benchmark::State& state) { RunDisplayedGenerations(state, 1); }
void BM_DisplayedGenerationsDensity8(benchmark::State& state) { RunDisplayedGenerations(state, 8); }
void BM_DisplayedGenerationsZoom2(benchmark::State& state) { RunDisplayedGenerations(state, 1, 2.0); }

BENCHMARK(BM_DisplayedGenerationsDefaults)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_DisplayedGenerationsDensity8)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_DisplayedGenerationsZoom2)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
}  // namespace talveron::gui

BENCHMARK_MAIN();
