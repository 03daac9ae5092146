// The desktop program's window: the menu bar, the four views as dock
// windows (the map, the text view, the graphs and the time plot), each of
// which can be moved to another edge or floated as a window of its own, a
// toolbar with the speed of a run, and a status bar that says what the
// program does or waits for, with the seeds and the data file.
#pragma once

#include <QLabel>
#include <QMainWindow>

#include <array>

#include "app/shell/platform.h"
#include "gui/charts_view.h"
#include "gui/qt_canvas.h"

class QDockWidget;
class QToolBar;
class QAction;
class QSlider;

namespace talveron::gui {

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(app::QtCanvas& canvas, QWidget* parent = nullptr);

  app::QtCanvas& canvas() const { return canvas_; }
  ChartsView* charts() const { return charts_; }
  QDockWidget* chartsDock() const { return chartsDock_; }

  // The status bar's fields, on two lines. None of them sets the window's
  // width: the activity, an instruction, takes a second line when it must;
  // the data file's folder gives way to its name; the note, free prose, is
  // cut. Each has its whole text in its tooltip.
  void ShowSeedText(const QString& text);
  void ShowSeriesSeedText(const QString& text);
  void ShowDataFileText(const QString& text);
  void ShowActivityText(const QString& text);
  void ShowNoteText(const QString& text);
  QString SeedText() const { return seedLabel_->text(); }
  QString SeriesSeedText() const { return seriesSeedLabel_->text(); }
  QString DataFileText() const { return dataFileLabel_->text(); }
  QString ActivityText() const { return activityLabel_->text(); }
  QString NoteText() const { return noteLabel_->toolTip(); }
  // The data file's text as it is shown at the field's width.
  QString DataFileShown() const;
  // The fields that are shown whole (the data file's name whole).
  std::array<QLabel*, 4> WholeFields() const { return {activityLabel_, seedLabel_, seriesSeedLabel_, dataFileLabel_}; }

  // The views' zoom: their size, as a multiple of their natural size, when
  // the window leaves them room.
  double zoom() const { return zoom_; }
  void SetZoom(double zoom);
  // One step in (+1) or out (-1), or back to 1 (0), each pixel for pixel
  // with scroll bars where the window is too small; or fitting the window
  // (Platform::kFitToWindow).
  void Zoom(int direction);
  // The views take the room their docks have, keeping their proportions.
  void FitToWindow();
  bool fitsWindow() const { return fitToWindow_; }
  // Zooms the views out, if need be, until the window fits the free area of
  // its screen, and gives the window that size.
  void FitToScreen();
  // The same for a screen whose free area is `available`.
  void FitToRoom(QSize available);
  // Sizes the window around the views at their zoom once bars added to it
  // have taken their size.
  void FitWindowToViews();

  // The speed slider of the toolbar: position k is item k + 1 of the Speed
  // menu, as fast as it goes at the left.
  QSlider* speedSlider() const { return speedSlider_; }
  void ShowSpeedItem(int item);
  QString PaceText() const { return paceLabel_->text().trimmed(); }

  // The run controls as toolbar buttons: the space bar's button, then the
  // menu items Restart, Pause, Step Mode, Cycle Mode and Run On to the End.
  void AddRunControls(QAction* restart, QAction* pause, QAction* step, QAction* cycle, QAction* runOn);
  // The space bar's button says what the space bar does now; empty while
  // the run goes on.
  void ShowSpaceAction(const QString& action);
  // The map's caption and colour key: what red, blue and yellow mean.
  void ShowMapKey(const QString& caption, const QStringList& alleles);
  QString MapCaption() const;
  // The toggles' tooltips follow their check marks.
  void ShowRunControlStates();
  QAction* spaceAction() const { return spaceAction_; }

 signals:
  // The user closed the window; the program quits as the Quit command does.
  void closeRequested();
  // The user moved the speed slider to the item of the Speed menu.
  void speedChosen(int item);
  // The space bar's button was clicked.
  void spaceClicked();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The views keep their proportions: whatever size the window is given,
  // the docks share it as the views' natural sizes do.
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CreateViews(app::QtCanvas& canvas);
  void CreateToolBar();
  void CreateStatusBar();
  void ShowPace(int item);
  void ResizeToViews(bool withinScreen);
  void ShareSpaceAmongViews();

  app::QtCanvas& canvas_;
  std::array<QDockWidget*, 4> docks_{};
  ChartsView* charts_ = nullptr;
  QLabel* mapKey_ = nullptr;
  QAction* spaceAction_ = nullptr;
  QAction* pauseAction_ = nullptr;
  QAction* stepAction_ = nullptr;
  QAction* cycleAction_ = nullptr;
  QDockWidget* chartsDock_ = nullptr;
  QLabel* activityLabel_ = nullptr;
  QLabel* seedLabel_ = nullptr;
  QLabel* seriesSeedLabel_ = nullptr;
  QLabel* dataFileLabel_ = nullptr;
  QLabel* noteLabel_ = nullptr;
  QSlider* speedSlider_ = nullptr;
  QLabel* paceLabel_ = nullptr;
  double zoom_ = 1.0;
  bool fitToWindow_ = true;
};

}  // namespace talveron::gui
