// What the tests of the desktop program on Qt's offscreen platform share:
// the application, a window with its canvas, platform and shell started as
// the program starts, and keys and actions sent from inside Qt's event
// processing.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <utility>

#include "app/shell/shell.h"
#include "gui/main_window.h"
#include "gui/qt_canvas.h"
#include "gui/qt_platform.h"
#include "temp_folder.h"

namespace talveron::gui {

inline constexpr std::uint64_t kLaunchSeed = 500;

inline QApplication& Application() {
  static int argc = 1;
  static char name[] = "gui_test";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static auto* application = new QApplication(argc, argv);
  return *application;
}

struct WithApplication {
  WithApplication() { Application(); }
};

// Runs `action` every few milliseconds from inside Qt's event processing
// (the loop's polls and waits, or a modal dialog) until it returns true.
class Repeatedly {
 public:
  explicit Repeatedly(std::function<bool()> action) {
    QObject::connect(&timer_, &QTimer::timeout, [this, action = std::move(action)] {
      if (action()) timer_.stop();
    });
    timer_.start(5);
  }

 private:
  QTimer timer_;
};

inline void PressKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers, const QString& text,
              bool autoRepeat = false) {
  QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, modifiers, text, autoRepeat));
}

// A key event as a window system sends it, with its time stamp.
inline void SendKey(QWidget* target, QEvent::Type type, unsigned long milliseconds) {
  QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
  event.setTimestamp(milliseconds);
  QApplication::sendEvent(target, &event);
}

template <typename Dialog>
Dialog* ModalDialog() {
  return qobject_cast<Dialog*>(QApplication::activeModalWidget());
}

class QtDesktopTest : public testing::Test, private WithApplication {
 protected:
  QtDesktopTest() {
    window.show();
    shell.MenuBarInit();
    // A test that loses its way ends its loop instead of hanging.
    QObject::connect(&deadline, &QTimer::timeout, [this] { window.close(); });
    deadline.setSingleShot(true);
    deadline.start(20000);
  }

  QWidget* map() { return canvas.widget(app::Port::View); }

  // The files of one test, removed after it (and after the window).
  test_support::TempFolder folder{"gui"};
  app::QtCanvas canvas;
  MainWindow window{canvas};
  QtPlatform platform{window};
  app::Shell shell{platform, canvas, kLaunchSeed};
  QTimer deadline;
};

}  // namespace talveron::gui
