// The desktop program's window: the menu bar, the four views as dock
// windows (the map, the text view, the graphs and the time plot), each of
// which can be moved to another edge or floated as a window of its own, and
// a status bar with the seeds and the data file.
#pragma once

#include <QLabel>
#include <QMainWindow>

#include "gui/qt_canvas.h"

namespace talveron::gui {

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(app::QtCanvas& canvas, QWidget* parent = nullptr);

  void ShowSeedText(const QString& text);
  void ShowDataFileText(const QString& text);
  QString SeedText() const { return seedLabel_->text(); }
  QString DataFileText() const { return dataFileLabel_->text(); }

 signals:
  // The user closed the window; the program quits as the Quit command does.
  void closeRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateViews(app::QtCanvas& canvas);
  void CreateStatusBar();

  QLabel* seedLabel_ = nullptr;
  QLabel* dataFileLabel_ = nullptr;
};

}  // namespace talveron::gui
