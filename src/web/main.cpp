// Talveron in the browser: the desktop program's run loop, menus and views
// on the page's canvases. The page starts it once the module has loaded; a
// benchmark page asks for generations a second instead.
#include <emscripten.h>

#include <cmath>
#include <cstdint>

#include "app/shell/shell.h"
#include "web/web_canvas.h"
#include "web/web_lessons.h"
#include "web/web_platform.h"

// clang-format off
EM_JS(double, web_launch_seed, (), { return Math.floor(Date.now() / 1000); });
EM_JS(int, web_bench_density, (), { return Talveron.benchDensity ? Talveron.benchDensity() : 0; });
EM_JS(void, web_bench_report, (int density, double generations, double seconds, int adults, double frames), {
  Talveron.benchReport(density, generations, seconds, adults, frames);
});
EM_JS(void, web_ended, (int status), { Talveron.ended(status); });
// clang-format on

namespace {

using namespace talveron;

// Generations a second at the fastest speed, as the desktop benchmark
// measures them: founded at `density`, 100 generations past the founding,
// then as many as run in `seconds`, the views drawn and shown on the page
// in frames, thirty a second, as a run at the fastest speed shows them.
void Benchmark(app::Shell& shell, web::WebPlatform& platform, int density, double seconds) {
  shell.world.params.density = static_cast<std::int16_t>(density);
  shell.gReplicateNumber = 1;
  shell.BeginReplicate();
  auto generation = [&] {
    ++shell.world.gGenerationNumber;
    if (const auto event = platform.WaitNextEvent(1)) shell.DoEvent(*event);
    shell.RunGeneration();
  };
  for (int i = 0; i < 100; ++i) generation();
  const long framesBefore = shell.FramesShown();
  const double start = platform.Seconds();
  double generations = 0;
  while (platform.Seconds() - start < seconds) {
    generation();
    ++generations;
  }
  web_bench_report(density, generations, platform.Seconds() - start, static_cast<int>(shell.world.totalAdults()),
                   static_cast<double>(shell.FramesShown() - framesBefore));
}

}  // namespace

int main() {
  web::BrowserText text;
  web::WebCanvas canvas(text);
  web::LessonWebPlatform platform(canvas);
  if (const int density = web_bench_density(); density > 0) {
    // The browser compiles the module's hot code fully only after it has
    // run a while: a first run, not reported, gets that done.
    {
      app::Shell shell(platform, canvas, 1);
      shell.MenuBarInit();
      Benchmark(shell, platform, density, 4.0);
    }
    for (int d = web_bench_density(); d > 0; d = web_bench_density()) {
      app::Shell shell(platform, canvas, 1);
      shell.MenuBarInit();
      Benchmark(shell, platform, d, 5.0);
    }
    return 0;
  }
  app::Shell shell(platform, canvas, static_cast<std::uint64_t>(web_launch_seed()));
  shell.MenuBarInit();
  web::OpenPageLink(shell, platform);
  platform.FlushEvents();
  const int status = shell.MainLoop();
  platform.ShowViews();
  web_ended(status);
  return status;
}
