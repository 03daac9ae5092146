// The desktop program: the four views, the menu bar, and the run loop on
// the GUI thread until Quit or a fatal error.
#include <QApplication>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>

#include "app/shell.h"
#include "gui/main_window.h"
#include "gui/qt_canvas.h"
#include "gui/qt_platform.h"

namespace {

// The base seed of a launch: the clock in seconds. It is shown in the status
// bar, and File > Base Seed replaces it to replay a run.
std::uint64_t ClockSeed() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Talveron"));
  QApplication::setApplicationVersion(talveron::gui::QtPlatform::Version());

  talveron::app::QtCanvas canvas;
  talveron::gui::MainWindow window(canvas);
  talveron::gui::QtPlatform platform(window);
  talveron::app::Shell shell(platform, canvas, ClockSeed());
  shell.MenuBarInit();

  // talveron --settings FILE opens with a settings file's series; without
  // it every launch starts from the defaults.
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == QStringLiteral("--settings") && i + 1 < arguments.size()) {
      if (const auto failure = shell.OpenSettingsFile(arguments[++i].toStdString())) {
        std::cerr << "talveron: " << *failure << '\n';
        return 2;
      }
    } else {
      std::cerr << "talveron: unknown argument " << arguments[i].toStdString()
                << "\nusage: talveron [--settings FILE]\n";
      return 2;
    }
  }

  platform.FlushEvents();
  window.FitToScreen();
  window.show();
  const int status = shell.MainLoop();
  if (!shell.RecordsLeftAtQuit().empty()) {
    std::cerr << "talveron: the series was stopped; its complete records are in " << shell.RecordsLeftAtQuit()
              << '\n';
  }
  return status;
}
