// Generations a second of the desktop program beside the batch command's,
// in one run on one machine, at the default settings and at density 8:
// - Batch: the batch command's loop (the phases, the census and the
//   record of timed criteria), nothing drawn;
// - Fastest: a single run at the fastest speed on the Qt views
//   (offscreen) at their natural size, polling Qt's events every
//   generation as the run loop does and showing frames, thirty a second,
//   each drawn from the generation on show, the Charts included;
// - Series: the same loop running a series, recording every generation
//   and showing four frames a second;
// - PieceByPiece: every generation drawn piece by piece, as the slower
//   speeds and step and cycle mode draw (here without their pauses), at
//   natural size and zoomed to twice it.
// Every figure is per second on the wall, as the page's are (a browser
// tells no processor time): compare them on a quiet machine, or note the
// load beside them. `frames/s` counts the frames shown.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <chrono>

#include "app/shell/shell.h"
#include "gui/main_window.h"
#include "gui/qt_canvas.h"
#include "gui/qt_platform.h"
#include "run/series.h"

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

void BM_Batch(benchmark::State& state) {
  World world;
  world.params.density = static_cast<std::int16_t>(state.range(0));
  DataRecorder recorder;
  world.SeedRandom(1);
  world.ClearIndividuals();
  world.InitPopulations();
  int generation = 0;
  for (auto _ : state) {
    world.gGenerationNumber = ++generation;
    RunGeneration(world, &recorder);
  }
  state.counters["adults"] = static_cast<double>(world.totalAdults());
  state.counters["generations/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

enum class Drawing { Fastest, Series, PieceByPiece };

void RunDisplayedGenerations(benchmark::State& state, Drawing drawing, double zoom = 1.0) {
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
  shell.world.params.density = static_cast<std::int16_t>(state.range(0));
  shell.gReplicateNumber = 1;
  // A speed below the fastest draws every generation piece by piece; run
  // here without its pace.
  if (drawing == Drawing::PieceByPiece) shell.DoEvent(app::Event::Menu(app::kSpeedMenu, 2));
  if (drawing == Drawing::Series) {
    shell.runReplicates = true;
    shell.gGetData = true;
  }
  shell.BeginReplicate();

  auto generation = [&] {
    ++shell.world.gGenerationNumber;
    if (const auto event = platform.WaitNextEvent(1)) shell.DoEvent(*event);
    shell.RunGeneration();
  };
  for (int i = 0; i < 100; ++i) generation();  // past the founding
  const long framesBefore = shell.FramesShown();
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) generation();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  state.counters["adults"] = static_cast<double>(shell.world.totalAdults());
  state.counters["scale"] = canvas.scale(app::Port::View);
  state.counters["generations/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["frames/s"] = static_cast<double>(shell.FramesShown() - framesBefore) / seconds;
}

void BM_Fastest(benchmark::State& state) { RunDisplayedGenerations(state, Drawing::Fastest); }
void BM_Series(benchmark::State& state) { RunDisplayedGenerations(state, Drawing::Series); }
void BM_PieceByPiece(benchmark::State& state) { RunDisplayedGenerations(state, Drawing::PieceByPiece); }
void BM_PieceByPieceZoom2(benchmark::State& state) { RunDisplayedGenerations(state, Drawing::PieceByPiece, 2.0); }

// Density 1 is the default.
BENCHMARK(BM_Batch)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_Fastest)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_Series)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_PieceByPiece)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_PieceByPieceZoom2)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

}  // namespace
}  // namespace talveron::gui

BENCHMARK_MAIN();
