// Frames: at the fastest speed and in a series the views are drawn from the
// state of the generation on show a few times a second. A frame is the
// picture a run drawn generation by generation, piece by piece, shows at the
// end of that generation, pixel for pixel, and the Charts show the same
// generation; a series and Run On to the End never wait, an extinct
// population included.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/shell/headless_platform.h"
#include "app/shell/shell.h"
#include "gui/qt_canvas.h"
#include "temp_folder.h"

namespace talveron::app {
namespace {

namespace fs = std::filesystem;

constexpr std::array<Port, 4> kPorts = {Port::View, Port::Text, Port::Graph, Port::Time};

void EnsureApplication() {
  static QApplication* application = [] {
    static int argc = 1;
    static char name[] = "frames_test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  (void)application;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Posts the menu choices that run a series from the menus: base seed
// `seed`, the Generations menu's item `generationsItem`, the data file
// `file`, Run Replicates.
void PostSeries(HeadlessPlatform& platform, std::uint64_t seed, int generationsItem, const fs::path& file) {
  platform.seedAnswers.push_back(seed);
  platform.PostMenu(kFileMenu, kBaseSeedItem);
  platform.PostMenu(kGenerationsMenu, generationsItem);
  platform.savePaths.push_back(file.string());
  platform.PostMenu(kDataFileMenu, 1);
  platform.PostMenu(kDataFileMenu, 12);
}

using Picture = std::array<QImage, 4>;

// What the views show: each port's image as its widget paints it.
Picture Snapshot(QtCanvas& canvas) {
  Picture picture;
  for (std::size_t i = 0; i < kPorts.size(); ++i) {
    canvas.Refresh(kPorts[i]);
    picture[i] = canvas.image(kPorts[i]).copy();
  }
  return picture;
}

// The first pixel where two pictures of a port differ, as text; empty when
// they are the same.
std::string Difference(const QImage& framed, const QImage& drawn) {
  if (framed.size() != drawn.size()) return "sizes differ";
  for (int v = 0; v < framed.height(); ++v) {
    for (int h = 0; h < framed.width(); ++h) {
      if (framed.pixel(h, v) != drawn.pixel(h, v)) {
        std::ostringstream out;
        out << "pixel (" << h << ", " << v << "): " << std::hex << framed.pixel(h, v) << " framed, " << drawn.pixel(h, v)
            << " drawn generation by generation";
        return out.str();
      }
    }
  }
  return {};
}

// One single run of `generations` of seed 77 at the density given, on a
// canvas at `scale`. At the fastest speed it shows frames; `framesAfter`
// says after which generations a frame falls due (the platform's clock
// stands still while the program works: the script moves it on). At 1000
// generations a second every generation is drawn piece by piece, and the
// picture is taken after each generation in `framesAfter`. The time plot
// changes at generation 400 and the map display at 700 by the menus.
struct Pictures {
  std::map<long, Picture> pictures;  // by the generation shown
  int frames = 0;
  std::vector<double> speeds;  // the speeds reached the status bar was given
};

Pictures RunOnce(bool fastest, double scale, int generationsItem, int lastGeneration, const std::set<int>& framesAfter) {
  EnsureApplication();
  HeadlessPlatform platform;
  QtCanvas canvas;
  for (Port port : kPorts) canvas.SetScale(port, scale);
  Shell shell(platform, canvas, 1);
  shell.MenuBarInit();
  shell.SetSeeds(77);
  shell.DoEvent(Event::Menu(kGenerationsMenu, generationsItem));
  shell.DoEvent(Event::Menu(kSpeedMenu, fastest ? 1 : 2));
  Pictures run;
  auto generation = [&shell] { return shell.world.gGenerationNumber; };
  if (fastest) {
    // The generation a frame shows is the last the Charts hold.
    platform.onFrame = [&] {
      ASSERT_EQ(platform.charts, &shell.history);
      run.pictures[shell.history.empty() ? 0 : shell.history.LastGeneration()] = Snapshot(canvas);
    };
  }
  platform.PostKey(' ');
  // At each poll, before its generation runs: a frame falls due at the end
  // of the generations asked for; the picture of a run drawn generation by
  // generation is taken after them; the menu choices come at their
  // generations.
  std::set<int> taken;
  auto look = [&] {
    if (fastest) {
      if (framesAfter.count(generation()) != 0) platform.clock += 1;
    } else if (framesAfter.count(generation() - 1) != 0 && taken.insert(generation() - 1).second) {
      run.pictures[generation() - 1] = Snapshot(canvas);
    }
  };
  platform.PostWhen(
      [&] {
        look();
        return generation() == 400;
      },
      [] { return std::optional<Event>(Event::Menu(kDisplayMenu, 2)); });  // Next Graph
  platform.PostWhen(
      [&] {
        look();
        return generation() == 700;
      },
      [] { return std::optional<Event>(Event::Menu(kDisplayMenu, 1)); });  // Next Map Display
  platform.PostWhen(
      [&] {
        look();
        return generation() > lastGeneration;
      },
      [] { return std::optional<Event>(Event::Menu(kFileMenu, 9)); });  // Quit at the end
  EXPECT_EQ(shell.MainLoop(), 0);
  run.frames = platform.frames;
  run.speeds = platform.speedsReached;
  return run;
}

TEST(Frames, AFrameShowsWhatDrawingEveryGenerationShowsAtItsEnd) {
  // 1000 generations (the time plot wraps after 902) of a run at the
  // fastest speed, frames after some generations only, the others run
  // without drawing; the same run drawn piece by piece at 1000 generations
  // a second. Every frame equals the other's picture after the same
  // generation, at the views' natural size and smaller, and the Charts
  // hold exactly the generations up to the one on show.
  const std::set<int> framesAfter = {1, 2, 3, 57, 399, 400, 401, 650, 903, 904, 999};
  for (double scale : {1.0, 0.75}) {
    SCOPED_TRACE("scale " + std::to_string(scale));
    const Pictures framed = RunOnce(true, scale, 7, 1000, framesAfter);
    const Pictures drawn = RunOnce(false, scale, 7, 1000, framesAfter);
    // The frames asked for, one where a command acted on the views first,
    // and the frame of the wait at the end.
    for (int g : framesAfter) EXPECT_EQ(framed.pictures.count(g), 1u) << "no frame after generation " << g;
    EXPECT_EQ(framed.pictures.count(1000), 1u);
    EXPECT_LE(framed.frames, 20);
    // The speed reached is shown while the run goes on, by the platform's
    // clock (a second every few hundred generations here), and cleared at
    // the wait at the end; the run drawn piece by piece shows none.
    ASSERT_GE(framed.speeds.size(), 2u);
    EXPECT_EQ(framed.speeds.front(), 1.0);  // generation 2 in the second after generation 1
    EXPECT_EQ(*std::max_element(framed.speeds.begin(), framed.speeds.end()), 399 - 57);
    EXPECT_EQ(framed.speeds.back(), 0.0);
    EXPECT_TRUE(drawn.speeds.empty());
    for (const auto& [g, picture] : framed.pictures) {
      if (framesAfter.count(static_cast<int>(g)) == 0) continue;
      ASSERT_EQ(drawn.pictures.count(g), 1u) << g;
      for (std::size_t i = 0; i < kPorts.size(); ++i) {
        EXPECT_EQ(Difference(picture[i], drawn.pictures.at(g)[i]), "") << "port " << i << " after generation " << g;
      }
    }
  }
}

TEST(Frames, ASeriesShowsFramesAsItRunsAndWritesTheBatchCommandsBytes) {
  // A series of 2 x 500 from the menus shows a frame whenever one is due
  // and writes the file the batch command writes.
  EnsureApplication();
  test_support::TempFolder folder("frames");
  HeadlessPlatform platform;
  QtCanvas canvas;
  Shell shell(platform, canvas, 1);
  shell.MenuBarInit();
  const fs::path file = folder.path() / "series.txt";
  PostSeries(platform, 31, 6, file);  // 500 generations
  int framesInSeries = 0;
  std::set<std::pair<long, int>> shown;
  platform.onFrame = [&] {
    if (!shell.runReplicates) return;
    ++framesInSeries;
    shown.insert({shell.gReplicateNumber, shell.world.gGenerationNumber});
    EXPECT_EQ(shell.history.LastGeneration(), shell.world.gGenerationNumber);
  };
  // A second of the platform's clock every 100 generations: a frame each.
  platform.PostWhen(
      [&] {
        if (shell.runReplicates && shell.world.gGenerationNumber % 100 == 1) platform.clock += 1;
        return false;
      },
      [] { return std::optional<Event>(); });
  platform.SetIdleAnswer([](int sleepTicks) -> std::optional<Event> {
    if (sleepTicks >= 60) return Event::Menu(kFileMenu, 9);
    return std::nullopt;
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(framesInSeries, 10);
  EXPECT_EQ(shown.count({2, 401}), 1u);
  const fs::path batch = folder.path() / "batch.txt";
  const std::string command = std::string(TALVERON_BATCH_PATH) + " --quiet --seed 31 --replicates 2 --generations 500 --out '" +
                              batch.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadFile(file), ReadFile(batch));
}

TEST(Frames, FramesKeepTheirPaceWhenEachComesLate) {
  // A generation takes 20 ms of the platform's clock at the fastest speed:
  // a frame falls due every 33 ms, so most are shown a little late. The
  // next is due an interval after one fell due, not after it was shown, so
  // 6 seconds give 30 frames a second (a pace counted from when each was
  // shown would give 25); a frame a whole second late starts the pace
  // afresh instead of hurrying out the frames it missed.
  EnsureApplication();
  HeadlessPlatform platform;
  QtCanvas canvas;
  Shell shell(platform, canvas, 1);
  shell.MenuBarInit();
  shell.DoEvent(Event::Menu(kGenerationsMenu, 6));  // 500
  shell.DoEvent(Event::Menu(kSpeedMenu, 1));
  std::vector<double> shownAt;
  platform.onFrame = [&] { shownAt.push_back(platform.clock); };
  platform.PostKey(' ');
  // The clock stands at 20 ms a generation, with a second's pause after
  // generation 300.
  platform.PostWhen(
      [&] {
        const int g = shell.world.gGenerationNumber;
        platform.clock = (g <= 300 ? g : g + 50) / 50.0;
        return g > 350;
      },
      [] { return std::optional<Event>(Event::Menu(kFileMenu, 9)); });
  EXPECT_EQ(shell.MainLoop(), 0);
  const auto inside = [&](double from, double to) {
    return std::count_if(shownAt.begin(), shownAt.end(), [&](double t) { return t > from && t <= to; });
  };
  EXPECT_NEAR(static_cast<double>(inside(0.02, 6.0)), 180, 2);
  // After the pause: one frame at once, then the pace again, never two
  // frames in one generation's 20 ms.
  EXPECT_EQ(inside(6.0, 7.02), 1);
  for (std::size_t i = 1; i < shownAt.size() && shownAt[i] < 7.5; ++i) {
    if (shownAt[i - 1] > 0.02) {
      EXPECT_GE(shownAt[i] - shownAt[i - 1], 0.019) << "frames " << i - 1 << " and " << i;
    }
  }
}

// Seconds of the clock on the wall that `work` takes.
double Timed(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(Frames, AnExtinctPopulationStopsNeitherASeriesNorRunOn) {
  // Without offspring the population dies out in generation 1 and every
  // generation after reports it. A series of 2 x 2000 from the menus waits
  // for nothing and takes about as long as the batch command's; a single
  // run stops at the message once, and after Run On to the End runs to its
  // last generation without a wait.
  EnsureApplication();
  test_support::TempFolder folder("extinct");
  const fs::path file = folder.path() / "series.txt";
  const fs::path batch = folder.path() / "batch.txt";
  const double batchSeconds = Timed([&] {
    const std::string command = std::string(TALVERON_BATCH_PATH) +
                                " --quiet --seed 9 --replicates 2 --generations 2000 --set numberOfKids=0 --out '" +
                                batch.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  });

  HeadlessPlatform platform;
  QtCanvas canvas;
  Shell shell(platform, canvas, 1);
  shell.MenuBarInit();
  shell.world.params.numberOfKids = 0;
  PostSeries(platform, 9, 8, file);  // 2000 generations
  int waitsInSeries = 0;
  double clockInSeries = -1;
  double clockAfterSeries = -1;
  platform.SetIdleAnswer([&](int sleepTicks) -> std::optional<Event> {
    if (shell.runReplicates && sleepTicks > 1) ++waitsInSeries;
    if (sleepTicks < 60 || shell.runReplicates) return std::nullopt;
    clockAfterSeries = platform.clock;
    return Event::Menu(kFileMenu, 9);
  });
  platform.PostWhen([&] { return shell.runReplicates; },
                    [&] {
                      clockInSeries = platform.clock;
                      return std::optional<Event>();
                    });
  const double seriesSeconds = Timed([&] { EXPECT_EQ(shell.MainLoop(), 0); });
  EXPECT_EQ(waitsInSeries, 0);
  EXPECT_EQ(ReadFile(file), ReadFile(batch));
  // The platform's clock runs on through every wait: none in the series.
  EXPECT_GE(clockInSeries, 0);
  EXPECT_EQ(clockAfterSeries, clockInSeries);
  EXPECT_LT(seriesSeconds, std::max(5 * batchSeconds, 3.0)) << "the batch command took " << batchSeconds << " s";

  // A single run: the extinction stops it; Ctrl+U runs on to generation
  // 2000 without another wait.
  HeadlessPlatform single;
  QtCanvas singleCanvas;
  Shell run(single, singleCanvas, 1);
  run.MenuBarInit();
  run.world.params.numberOfKids = 0;
  run.DoEvent(Event::Menu(kGenerationsMenu, 8));
  int waitsAfterRunOn = 0;
  bool ranOn = false;
  single.SetIdleAnswer([&](int sleepTicks) -> std::optional<Event> {
    if (sleepTicks < 60) return std::nullopt;
    if (run.Activity().starts_with("Run finished")) return Event::Menu(kFileMenu, 9);
    if (ranOn) ++waitsAfterRunOn;
    if (run.Activity().starts_with("The population is extinct")) {
      ranOn = true;
      return Event::Key('u', true);
    }
    return Event::Key(' ');
  });
  int lastGeneration = 0;
  single.onFrame = [&] { lastGeneration = std::max(lastGeneration, run.world.gGenerationNumber); };
  EXPECT_EQ(run.MainLoop(), 0);
  EXPECT_TRUE(ranOn);
  EXPECT_EQ(waitsAfterRunOn, 0);
  EXPECT_EQ(lastGeneration, 2001);
}

}  // namespace
}  // namespace talveron::app
