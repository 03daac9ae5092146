#include "gui/main_window.h"

#include <QCloseEvent>
#include <QDockWidget>
#include <QStatusBar>

namespace talveron::gui {

namespace {

QDockWidget* Dock(const QString& title, const QString& name, QWidget* view, QWidget* parent) {
  auto* dock = new QDockWidget(title, parent);
  dock->setObjectName(name);
  dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  dock->setWidget(view);
  return dock;
}

}  // namespace

MainWindow::MainWindow(app::QtCanvas& canvas, QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Talveron"));
  CreateViews(canvas);
  CreateStatusBar();
}

// Map above the text view on the left, the graphs on the right, the time
// plot across the bottom. The main window has no central widget of its own:
// every view is a dock that can be moved to another edge or floated.
void MainWindow::CreateViews(app::QtCanvas& canvas) {
  using app::Port;
  auto* spacer = new QWidget(this);
  spacer->setObjectName(QStringLiteral("spacer"));
  spacer->setFixedSize(0, 0);
  setCentralWidget(spacer);
  setDockNestingEnabled(true);

  QDockWidget* map = Dock(tr("Habitats"), QStringLiteral("mapDock"), canvas.widget(Port::View), this);
  QDockWidget* text = Dock(tr("Status"), QStringLiteral("textDock"), canvas.widget(Port::Text), this);
  QDockWidget* graph = Dock(tr("Graphs"), QStringLiteral("graphDock"), canvas.widget(Port::Graph), this);
  QDockWidget* time = Dock(tr("Time Plot"), QStringLiteral("timeDock"), canvas.widget(Port::Time), this);

  // The time plot is the widest view: the bottom area spans both corners.
  setCorner(Qt::BottomLeftCorner, Qt::BottomDockWidgetArea);
  setCorner(Qt::BottomRightCorner, Qt::BottomDockWidgetArea);
  addDockWidget(Qt::LeftDockWidgetArea, map);
  splitDockWidget(map, text, Qt::Vertical);
  addDockWidget(Qt::RightDockWidgetArea, graph);
  addDockWidget(Qt::BottomDockWidgetArea, time);
}

void MainWindow::CreateStatusBar() {
  seedLabel_ = new QLabel(this);
  seedLabel_->setObjectName(QStringLiteral("seedLabel"));
  dataFileLabel_ = new QLabel(tr("No data file"), this);
  dataFileLabel_->setObjectName(QStringLiteral("dataFileLabel"));
  statusBar()->addWidget(seedLabel_, 1);
  statusBar()->addPermanentWidget(dataFileLabel_);
}

void MainWindow::ShowSeedText(const QString& text) { seedLabel_->setText(text); }

void MainWindow::ShowDataFileText(const QString& text) { dataFileLabel_->setText(text); }

// The window stays until the loop has handled the Quit that this asks for,
// so an open data file is closed first.
void MainWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  emit closeRequested();
}

}  // namespace talveron::gui
