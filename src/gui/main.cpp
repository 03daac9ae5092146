// The desktop program: the four views, the menu bar, and the run loop on
// the GUI thread until Quit or a fatal error.
#include <QApplication>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <variant>

#include "app/shell/shell.h"
#include "gui/lesson_panel.h"
#include "gui/main_window.h"
#include "gui/qt_canvas.h"
#include "gui/qt_platform.h"
#include "model/version.h"

namespace {

constexpr const char* kUsage =
    "usage: talveron [--settings FILE] [--lesson LESSON]\n"
    "\n"
    "The desktop program: watch single runs, pause and step through them, and\n"
    "run series of replicates to a data file. The guide is under Help > Guide (F1).\n"
    "\n"
    "  --settings FILE  open with the settings of FILE (as talveron-batch reads\n"
    "                   them); its seed is the base seed of the next series\n"
    "  --lesson LESSON  open with a lesson of the Lessons menu (drift, no-choice,\n"
    "                   selection, migration, extinction) or of one's own\n"
    "                   (NAME.md with NAME.toml beside it)\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and build and exit\n";

// The base seed of a launch: the clock in seconds. It is shown in the status
// bar, and File > Base Seed replaces it to replay a run.
std::uint64_t ClockSeed() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

}  // namespace

int main(int argc, char* argv[]) {
  // The arguments are read before Qt starts, so --help, --version and a
  // mistake are answered without a display. Qt's own options (one dash)
  // are left to Qt.
  std::string settingsPath;
  std::string lessonName;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (argument == "--version") {
      std::cout << "talveron " << talveron::kVersionAndBuild << '\n';
      return 0;
    }
    if (argument == "--settings") {
      if (i + 1 == argc) {
        std::cerr << "talveron: --settings needs the name of a settings file\n" << kUsage;
        return 2;
      }
      if (!settingsPath.empty()) {
        std::cerr << "talveron: --settings is given twice (\"" << argv[i + 1]
                  << "\" the second time); give it once\n";
        return 2;
      }
      settingsPath = argv[++i];
    } else if (argument == "--lesson") {
      if (i + 1 == argc) {
        std::cerr << "talveron: --lesson needs the name of a lesson\n" << kUsage;
        return 2;
      }
      lessonName = argv[++i];
    } else if (argument.rfind("--", 0) == 0) {
      std::cerr << "talveron: unknown argument " << argument << "\n" << kUsage;
      return 2;
    }
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Talveron"));
  QApplication::setApplicationVersion(talveron::gui::QtPlatform::Version());

  talveron::app::QtCanvas canvas;
  talveron::gui::MainWindow window(canvas);
  talveron::gui::QtLessonPlatform platform(window);
  talveron::app::Shell shell(platform, canvas, ClockSeed());
  shell.MenuBarInit();

  // What Qt did not take as its own.
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == QStringLiteral("--settings") || arguments[i] == QStringLiteral("--lesson")) {
      ++i;
    } else {
      std::cerr << "talveron: unknown argument " << arguments[i].toStdString() << "\n" << kUsage;
      return 2;
    }
  }

  // talveron --settings FILE opens with a settings file's series; without
  // it every launch starts from the defaults.
  if (!settingsPath.empty()) {
    if (const auto failure = shell.OpenSettingsFile(settingsPath)) {
      std::cerr << "talveron: " << *failure << '\n';
      return 2;
    }
  }

  if (!lessonName.empty()) {
    const talveron::app::Lesson* builtIn = talveron::app::FindLesson(lessonName);
    auto lesson = builtIn != nullptr ? std::variant<talveron::app::Lesson, std::string>(*builtIn)
                                     : talveron::app::ReadLessonFiles(lessonName);
    if (builtIn == nullptr && lessonName.find('.') == std::string::npos) {
      std::string names;
      for (const auto& known : talveron::app::BuiltInLessons()) names += (names.empty() ? "" : ", ") + known.name;
      lesson = "'" + lessonName + "' is not a lesson; allowed is one of " + names +
               ", or a lesson's own file (NAME.md or NAME.toml)";
    }
    std::optional<std::string> failure;
    if (const auto* read = std::get_if<talveron::app::Lesson>(&lesson)) {
      failure = shell.OpenLesson(*read);
    } else {
      failure = std::get<std::string>(lesson);
    }
    if (failure) {
      std::cerr << "talveron: " << *failure << '\n';
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
