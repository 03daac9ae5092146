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

void MainWindow::CreateViews(app::QtCanvas& canvas) {
  using app::Port;
  QWidget* map = canvas.widget(Port::View);
  map->setObjectName(QStringLiteral("mapView"));
  setCentralWidget(map);

  QWidget* text = canvas.widget(Port::Text);
  text->setObjectName(QStringLiteral("textView"));
  QWidget* graph = canvas.widget(Port::Graph);
  graph->setObjectName(QStringLiteral("graphView"));
  QWidget* time = canvas.widget(Port::Time);
  time->setObjectName(QStringLiteral("timeView"));

  addDockWidget(Qt::BottomDockWidgetArea, Dock(tr("Status"), QStringLiteral("textDock"), text, this));
  addDockWidget(Qt::RightDockWidgetArea, Dock(tr("Graphs"), QStringLiteral("graphDock"), graph, this));
  addDockWidget(Qt::BottomDockWidgetArea, Dock(tr("Time Plot"), QStringLiteral("timeDock"), time, this));
  // The time plot is wider than the map: it spans the bottom corners.
  setCorner(Qt::BottomRightCorner, Qt::BottomDockWidgetArea);
  setCorner(Qt::BottomLeftCorner, Qt::BottomDockWidgetArea);
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
