#include "gui/main_window.h"

#include <QCursor>
#include <QToolTip>

#include <QApplication>
#include <QCloseEvent>
#include <QResizeEvent>
#include <QScrollArea>
#include <QDockWidget>
#include <QLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QAction>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <cmath>

#include "app/shell/shell.h"

namespace talveron::gui {

namespace {

// A tooltip on screen for one of `action`'s buttons takes its new text at
// once, not when the pointer next moves.
void RenewToolTip(const QAction* action) {
  if (!QToolTip::isVisible()) return;
  for (QObject* object : action->associatedObjects()) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget != nullptr && widget->underMouse() && widget->isVisible()) {
      QToolTip::showText(QCursor::pos(), action->toolTip(), widget);
    }
  }
}

// The zoom steps, in 1/32 so that a view at its zoom is drawn at a scale
// its widget keeps to.
constexpr double kZoomSteps[] = {0.25, 0.375, 0.5, 0.625, 0.75, 0.875, 1, 1.25, 1.5, 1.75, 2, 2.5, 3, 4};
constexpr int kSpeedItems = 8;

// A line of free prose that gives way to the fields beside it: shortened
// with an ellipsis when it must be, the whole text in its tooltip.
class ProseLabel : public QLabel {
 public:
  using QLabel::QLabel;
  QSize minimumSizeHint() const override {
    return QSize(fontMetrics().averageCharWidth() * 12, QLabel::minimumSizeHint().height());
  }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(toolTip(), Qt::ElideRight, area.width()));
  }
};

// A text that ends in a file's name, as "Data file: /folder/name.txt": when
// the line is too short the folder is cut in the middle, never the name.
class PathLabel : public QLabel {
 public:
  using QLabel::QLabel;
  QSize sizeHint() const override { return {fontMetrics().horizontalAdvance(text()) + 4, QLabel::sizeHint().height()}; }
  QSize minimumSizeHint() const override {
    const auto [head, name] = Parts();
    const QString least = head.left(head.indexOf(QLatin1Char('/')) + 1) + QStringLiteral("\u2026") + name;
    return {fontMetrics().horizontalAdvance(head.isEmpty() ? name : least) + 4, QLabel::sizeHint().height()};
  }
  // What is shown at the label's width.
  QString Shown() const {
    const auto [head, name] = Parts();
    const int room = contentsRect().width() - fontMetrics().horizontalAdvance(name);
    if (fontMetrics().horizontalAdvance(text()) <= contentsRect().width()) return text();
    return fontMetrics().elidedText(head, Qt::ElideMiddle, std::max(0, room)) + name;
  }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter painter(this);
    painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, Shown());
  }

 private:
  // The text up to the file's name, and the name with the slash before it.
  std::pair<QString, QString> Parts() const {
    const qsizetype slash = text().lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return {QString(), text()};
    return {text().left(slash), text().mid(slash)};
  }
};

// Holds a view in its dock. Fitting the window, the view takes the room
// the dock has; at a zoom of its own (Actual Size, Zoom In, Zoom Out) it
// keeps its size, and the dock scrolls when it is smaller.
class ViewArea : public QScrollArea {
 public:
  ViewArea(QWidget* view, QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setAlignment(Qt::AlignCenter);
    setWidgetResizable(true);
    setWidget(view);
  }
  QSize sizeHint() const override { return widget()->sizeHint(); }
  QSize minimumSizeHint() const override {
    return widgetResizable() ? widget()->minimumSizeHint() : QSize(48, 48);
  }
};

QDockWidget* Dock(const QString& title, const QString& name, QWidget* view, QWidget* parent) {
  auto* dock = new QDockWidget(title, parent);
  dock->setObjectName(name);
  dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  dock->setWidget(new ViewArea(view, dock));
  return dock;
}

}  // namespace

MainWindow::MainWindow(app::QtCanvas& canvas, QWidget* parent) : QMainWindow(parent), canvas_(canvas) {
  setWindowTitle(QStringLiteral("Talveron"));
  CreateViews(canvas);
  CreateToolBar();
  CreateStatusBar();
  // The views at their natural size; FitToScreen makes room on a small
  // screen.
  resize(sizeHint());
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
  // Hidden, it leaves the height of the middle row to the docks beside it.
  spacer->hide();
  setDockNestingEnabled(true);

  QDockWidget* map = Dock(tr("Habitats"), QStringLiteral("mapDock"), canvas.widget(Port::View), this);
  // Above the map, beside its pixels: which display is on and what its
  // colours mean.
  auto* mapBox = new QWidget(map);
  auto* mapLayout = new QVBoxLayout(mapBox);
  mapLayout->setContentsMargins(0, 0, 0, 0);
  mapLayout->setSpacing(2);
  mapKey_ = new QLabel(mapBox);
  mapKey_->setObjectName(QStringLiteral("mapKey"));
  // The caption, then the three colours, each whole: a narrow dock wraps
  // them onto further lines rather than cut one.
  mapKey_->setWordWrap(true);
  mapKey_->setMinimumWidth(1);
  mapKey_->setContentsMargins(4, 2, 4, 0);
  mapLayout->addWidget(mapKey_);
  mapLayout->addWidget(map->widget(), 1);
  map->setWidget(mapBox);
  QDockWidget* text = Dock(tr("Status"), QStringLiteral("textDock"), canvas.widget(Port::Text), this);
  QDockWidget* graph = Dock(tr("Graphs"), QStringLiteral("graphDock"), canvas.widget(Port::Graph), this);
  QDockWidget* time = Dock(tr("Time Plot"), QStringLiteral("timeDock"), canvas.widget(Port::Time), this);
  docks_ = {map, text, graph, time};

  auto* chartsPanel = new ChartsPanel(this);
  charts_ = chartsPanel->charts();
  chartsDock_ = new QDockWidget(tr("Charts"), this);
  chartsDock_->setObjectName(QStringLiteral("chartsDock"));
  chartsDock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  chartsDock_->setWidget(chartsPanel);

  // The classic views on the left: the map over the status view with the
  // graphs beside them, the time plot, the widest, below all three. The
  // charts take the whole height on the right.
  setCorner(Qt::TopRightCorner, Qt::RightDockWidgetArea);
  setCorner(Qt::BottomRightCorner, Qt::RightDockWidgetArea);
  addDockWidget(Qt::LeftDockWidgetArea, map);
  splitDockWidget(map, time, Qt::Vertical);
  splitDockWidget(map, graph, Qt::Horizontal);
  splitDockWidget(map, text, Qt::Vertical);
  addDockWidget(Qt::RightDockWidgetArea, chartsDock_);
}

void MainWindow::CreateToolBar() {
  QToolBar* bar = addToolBar(tr("Speed"));
  bar->setObjectName(QStringLiteral("speedToolBar"));
  bar->addWidget(new QLabel(tr("Speed: "), bar));
  speedSlider_ = new QSlider(Qt::Horizontal, bar);
  speedSlider_->setObjectName(QStringLiteral("speedSlider"));
  speedSlider_->setRange(0, kSpeedItems - 1);
  speedSlider_->setPageStep(1);
  speedSlider_->setTickPosition(QSlider::TicksBelow);
  speedSlider_->setMaximumWidth(160);
  speedSlider_->setToolTip(tr("Generations a second of a single run; a series always runs at full speed"));
  bar->addWidget(speedSlider_);
  // The pace set, in words, beside the slider.
  paceLabel_ = new QLabel(bar);
  paceLabel_->setObjectName(QStringLiteral("paceLabel"));
  paceLabel_->setMinimumWidth(paceLabel_->fontMetrics().horizontalAdvance(tr(" 1000 a second ")));
  bar->addWidget(paceLabel_);
  ShowPace(speedSlider_->value() + 1);
  connect(speedSlider_, &QSlider::valueChanged, this, [this](int value) {
    ShowPace(value + 1);
    emit speedChosen(value + 1);
  });
}

void MainWindow::AddRunControls(QAction* restart, QAction* pause, QAction* step, QAction* cycle, QAction* runOn) {
  QToolBar* bar = addToolBar(tr("Run"));
  bar->setObjectName(QStringLiteral("runToolBar"));
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  QStyle* look = style();
  spaceAction_ = new QAction(look->standardIcon(QStyle::SP_MediaPlay), tr("Start"), this);
  spaceAction_->setObjectName(QStringLiteral("spaceAction"));
  connect(spaceAction_, &QAction::triggered, this, [this] { emit spaceClicked(); });
  struct Control {
    QAction* action;
    QStyle::StandardPixmap icon;
    QString text;
  };
  const Control controls[] = {{restart, QStyle::SP_BrowserReload, tr("Restart")},
                              {pause, QStyle::SP_MediaPause, tr("Pause")},
                              {step, QStyle::SP_ArrowRight, tr("Step")},
                              {cycle, QStyle::SP_MediaSkipForward, tr("Cycle")},
                              {runOn, QStyle::SP_MediaSeekForward, tr("Run On")}};
  bar->addAction(spaceAction_);
  for (const Control& control : controls) {
    control.action->setIcon(look->standardIcon(control.icon));
    control.action->setIconText(control.text);
    bar->addAction(control.action);
  }
  restart->setToolTip(tr("Restart: found a new population (Ctrl+R)"));
  runOn->setToolTip(tr("Run On to the End: no stops on extinction messages in this run (Ctrl+U)"));
  pauseAction_ = pause;
  stepAction_ = step;
  cycleAction_ = cycle;
  ShowSpaceAction(QString());
  ShowRunControlStates();
}

void MainWindow::ShowSpaceAction(const QString& action) {
  if (spaceAction_ == nullptr) return;
  spaceAction_->setEnabled(!action.isEmpty());
  spaceAction_->setText(action.isEmpty() ? tr("Running") : action);
  spaceAction_->setToolTip(action.isEmpty() ? tr("The run goes on: Pause (Ctrl+P) holds it")
                                            : tr("%1 (Space)").arg(action));
  RenewToolTip(spaceAction_);
}

void MainWindow::ShowRunControlStates() {
  if (pauseAction_ == nullptr) return;
  pauseAction_->setToolTip(pauseAction_->isChecked() ? tr("Paused: the space bar goes on")
                                                     : tr("Pause until the space bar (Ctrl+P)"));
  stepAction_->setToolTip(stepAction_->isChecked()
                              ? tr("Step mode is on: click to run without stops (Ctrl+T)")
                              : tr("Step mode: stop after each phase of a generation (Ctrl+T)"));
  cycleAction_->setToolTip(cycleAction_->isChecked() ? tr("Cycle mode is on: click to run without stops (Ctrl+Y)")
                                                     : tr("Cycle mode: stop after each generation (Ctrl+Y)"));
  for (const QAction* action : {pauseAction_, stepAction_, cycleAction_}) RenewToolTip(action);
}

void MainWindow::ShowMapKey(const QString& caption, const QStringList& alleles) {
  static const char* const kColours[] = {"#DD0806", "#0000D4", "#D8B800"};
  QString text = QStringLiteral("<b>%1</b><br>").arg(caption.toHtmlEscaped());
  for (int allele = 0; allele < 3 && allele < alleles.size(); ++allele) {
    QString meaning = alleles[allele].toHtmlEscaped();
    meaning.replace(QLatin1Char(' '), QStringLiteral("&nbsp;"));
    text += QStringLiteral("<span style=\"color:%1\">&#9679;</span>&nbsp;%2&nbsp;%3&nbsp;&nbsp; ")
                .arg(QLatin1String(kColours[allele]))
                .arg(allele)
                .arg(meaning);
  }
  mapKey_->setText(text);
  QString tip = caption;
  for (int allele = 0; allele < alleles.size(); ++allele) tip += QStringLiteral("\n%1: %2").arg(allele).arg(alleles[allele]);
  mapKey_->setToolTip(tip);
}

QString MainWindow::DataFileShown() const { return static_cast<const PathLabel*>(dataFileLabel_)->Shown(); }

QString MainWindow::MapCaption() const { return mapKey_->toolTip().section(QLatin1Char('\n'), 0, 0); }

void MainWindow::ShowSpeedItem(int item) {
  const QSignalBlocker quiet(speedSlider_);
  speedSlider_->setValue(item - 1);
  ShowPace(item);
}

void MainWindow::ShowPace(int item) {
  const double speed = app::kSpeeds[std::clamp(item, 1, app::kSpeedItems) - 1];
  const QString pace = speed == 0 ? tr("as fast as it goes") : tr("%1 a second").arg(speed);
  paceLabel_->setText(QStringLiteral(" ") + pace);
  speedSlider_->setAccessibleName(tr("Speed"));
  speedSlider_->setAccessibleDescription(pace);
}

// Two lines: what the program does or waits for, and a note beside it;
// below them the seeds and the data file. Nothing here sets the window's
// width: an instruction too long for one line takes two, the data file's
// folder gives way before its name, and the note, free prose, is cut; each
// keeps its whole text in its tooltip.
void MainWindow::CreateStatusBar() {
  auto* box = new QWidget(this);
  box->setObjectName(QStringLiteral("statusFields"));
  auto* lines = new QVBoxLayout(box);
  lines->setContentsMargins(2, 0, 2, 0);
  lines->setSpacing(0);
  auto* first = new QHBoxLayout;
  auto* second = new QHBoxLayout;
  first->setSpacing(12);
  second->setSpacing(12);
  lines->addLayout(first);
  lines->addLayout(second);

  activityLabel_ = new QLabel(box);
  activityLabel_->setObjectName(QStringLiteral("activityLabel"));
  activityLabel_->setWordWrap(true);
  activityLabel_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
  seedLabel_ = new QLabel(box);
  seedLabel_->setObjectName(QStringLiteral("seedLabel"));
  seriesSeedLabel_ = new QLabel(box);
  seriesSeedLabel_->setObjectName(QStringLiteral("seriesSeedLabel"));
  dataFileLabel_ = new PathLabel(box);
  dataFileLabel_->setObjectName(QStringLiteral("dataFileLabel"));
  dataFileLabel_->setText(tr("No data file"));
  noteLabel_ = new ProseLabel(box);
  noteLabel_->setObjectName(QStringLiteral("noteLabel"));
  first->addWidget(activityLabel_, 3);
  first->addWidget(noteLabel_, 2);
  second->addWidget(seedLabel_);
  second->addWidget(seriesSeedLabel_);
  second->addWidget(dataFileLabel_, 1);
  statusBar()->addWidget(box, 1);
}

void MainWindow::ShowSeedText(const QString& text) {
  seedLabel_->setText(text);
  seedLabel_->setToolTip(text);
}

void MainWindow::ShowSeriesSeedText(const QString& text) {
  seriesSeedLabel_->setText(text);
  seriesSeedLabel_->setToolTip(text);
}

void MainWindow::ShowNoteText(const QString& text) {
  noteLabel_->setToolTip(text);
  noteLabel_->update();
}

void MainWindow::ShowDataFileText(const QString& text) {
  dataFileLabel_->setText(text);
  dataFileLabel_->setToolTip(text);
}

void MainWindow::ShowActivityText(const QString& text) {
  activityLabel_->setText(text);
  activityLabel_->setToolTip(text);
}

// ---------------------------------------------------------------------------
// Zoom

void MainWindow::SetZoom(double zoom) {
  zoom_ = zoom;
  charts_->SetZoom(zoom);
  for (app::Port port : {app::Port::View, app::Port::Text, app::Port::Graph, app::Port::Time}) {
    app::CanvasWidget* view = canvas_.view(port);
    view->SetZoom(zoom);
    if (auto* area = qobject_cast<QScrollArea*>(view->parentWidget() ? view->parentWidget()->parentWidget() : nullptr)) {
      area->setWidgetResizable(fitToWindow_);
      if (!fitToWindow_) view->resize(view->sizeHint());
      area->updateGeometry();
    }
  }
  ResizeToViews(true);
}

void MainWindow::FitToWindow() {
  fitToWindow_ = true;
  SetZoom(zoom_);
  ShareSpaceAmongViews();
}

void MainWindow::Zoom(int direction) {
  if (direction == app::Platform::kFitToWindow) {
    FitToWindow();
    return;
  }
  // The steps go from the scale on screen: fitting the window, the views
  // are drawn at the scale the docks allow, not at the zoom.
  const double shown = fitToWindow_ ? canvas_.view(app::Port::View)->FitScale() : zoom_;
  fitToWindow_ = false;
  double zoom = 1.0;
  if (direction > 0) {
    const auto* next = std::upper_bound(std::begin(kZoomSteps), std::end(kZoomSteps), shown + 1e-9);
    zoom = next != std::end(kZoomSteps) ? *next : kZoomSteps[std::size(kZoomSteps) - 1];
  } else if (direction < 0) {
    const auto* next = std::lower_bound(std::begin(kZoomSteps), std::end(kZoomSteps), shown - 1e-9);
    zoom = next != std::begin(kZoomSteps) ? *(next - 1) : kZoomSteps[0];
  }
  SetZoom(zoom);
}

// The docks take their views' new size, and the window follows as far as
// its screen lets it.
void MainWindow::ResizeToViews(bool withinScreen) {
  for (QDockWidget* dock : docks_) {
    if (dock->isFloating()) dock->adjustSize();
  }
  // Bars changed a moment ago report their new size once their layout
  // requests are handled.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  if (layout() != nullptr) {
    layout()->invalidate();
    layout()->activate();
  }
  QSize wanted = sizeHint();
  if (const QScreen* where = withinScreen ? screen() : nullptr) {
    const QSize frame = frameGeometry().size() - geometry().size();
    wanted = wanted.boundedTo(where->availableGeometry().size() - frame);
  }
  resize(wanted);
  // The same size gives no resize event, yet bars may have changed.
  if (layout() != nullptr) layout()->activate();
  ShareSpaceAmongViews();
}

void MainWindow::FitWindowToViews() {
  QTimer::singleShot(0, this, [this] { ResizeToViews(false); });
}

void MainWindow::FitToScreen() {
  const QScreen* where = screen();
  if (where == nullptr) return;
  FitToRoom(where->availableGeometry().size());
}

void MainWindow::FitToRoom(QSize available) {
  // The frame is not known before the window is shown; leave room for a
  // title bar and borders.
  const QSize room = available - QSize(16, 40);
  fitToWindow_ = true;
  double zoom = 1.0;
  SetZoom(zoom);
  while (zoom > kZoomSteps[0]) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (layout() != nullptr) layout()->activate();
    const QSize hint = sizeHint();
    if (hint.width() <= room.width() && hint.height() <= room.height()) break;
    zoom -= 1.0 / 32;
    SetZoom(zoom);
  }
  resize(sizeHint().boundedTo(room));
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ShareSpaceAmongViews();
}

// In the opening arrangement the map and the status view stack on the left,
// the graphs stand beside them and the time plot lies below all three. The
// largest scale at which the four fit the room the docks have now gives
// each dock its view's natural size at that scale; left to itself the dock
// layout would give all it gains to one dock. Docks moved elsewhere or
// floated keep the size the user gave them.
void MainWindow::ShareSpaceAmongViews() {
  using app::Port;
  if (!fitToWindow_) return;
  const std::array<Port, 4> ports = {Port::View, Port::Text, Port::Graph, Port::Time};
  for (QDockWidget* dock : docks_) {
    if (dock->isFloating() || !dock->isVisible()) return;
  }
  const Qt::DockWidgetArea expected[] = {Qt::LeftDockWidgetArea, Qt::LeftDockWidgetArea, Qt::LeftDockWidgetArea,
                                         Qt::LeftDockWidgetArea};
  for (std::size_t i = 0; i < docks_.size(); ++i) {
    if (dockWidgetArea(docks_[i]) != expected[i]) return;
  }
  std::array<QSize, 4> view{};
  std::array<QSize, 4> natural{};
  for (std::size_t i = 0; i < ports.size(); ++i) {
    view[i] = canvas_.view(ports[i])->size();
    const app::QdRect bounds = app::PortBounds(ports[i]);
    natural[i] = QSize(bounds.right, bounds.bottom);
  }
  const double leftHeight = view[0].height() + view[1].height() + view[3].height();
  const double rightHeight = view[2].height() + view[3].height();
  const double topWidth = std::max(view[0].width(), view[1].width()) + view[2].width();
  const double scale = std::min({leftHeight / (natural[0].height() + natural[1].height() + natural[3].height()),
                                 rightHeight / (natural[2].height() + natural[3].height()),
                                 topWidth / (natural[0].width() + natural[2].width()),
                                 static_cast<double>(view[3].width()) / natural[3].width()});
  if (scale <= 0) return;
  auto chrome = [&](std::size_t i) { return docks_[i]->size() - view[i]; };
  auto scaled = [&](int length) { return static_cast<int>(std::lround(length * scale)); };
  // What is left over after the views' share goes to the status view and
  // the graphs, whose widgets leave it blank around the view.
  const int mapHeight = scaled(natural[0].height());
  const int timeHeight = scaled(natural[3].height());
  const int textHeight = static_cast<int>(leftHeight) - mapHeight - timeHeight;
  resizeDocks({docks_[0], docks_[1]}, {mapHeight + chrome(0).height(), textHeight + chrome(1).height()},
              Qt::Vertical);
  resizeDocks({docks_[3]}, {timeHeight + chrome(3).height()}, Qt::Vertical);
  const int mapWidth = scaled(natural[0].width());
  resizeDocks({docks_[0], docks_[2]},
              {mapWidth + chrome(0).width(), static_cast<int>(topWidth) - mapWidth + chrome(2).width()},
              Qt::Horizontal);
}

// The window stays until the loop has handled the Quit that this asks for,
// so an open data file is closed first.
void MainWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  emit closeRequested();
}

}  // namespace talveron::gui
