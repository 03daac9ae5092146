#include "gui/lesson_panel.h"

#include <QAction>
#include <QCheckBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>

#include "app/lessons/lessons.h"
#include "app/shell/shell.h"
#include "gui/charts_view.h"
#include "gui/main_window.h"

namespace talveron::gui {

namespace {

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

constexpr int kPanelPixels = 15;

}  // namespace

LessonPanel::LessonPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("lessonPanel"));
  auto* layout = new QVBoxLayout(this);
  title_ = new QLabel(this);
  title_->setObjectName(QStringLiteral("lessonTitle"));
  title_->setWordWrap(true);
  text_ = new QTextBrowser(this);
  text_->setObjectName(QStringLiteral("lessonText"));
  // The glossary's links and the guide's open in the same place.
  text_->setSearchPaths({QStringLiteral(":/")});
  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("lessonSummary"));
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  summary_->setStyleSheet(QStringLiteral("QLabel { background: #FFF6CC; border: 1px solid #D8B800; padding: 6px; }"));
  summary_->hide();
  glossaryButton_ = new QPushButton(tr("Glossary"), this);
  glossaryButton_->setObjectName(QStringLiteral("glossaryButton"));
  connect(glossaryButton_, &QPushButton::clicked, this, [this] {
    if (showsGlossary_) {
      ShowLesson(title_->text(), markdown_);
    } else {
      ShowGlossary();
    }
  });
  layout->addWidget(title_);
  layout->addWidget(text_, 1);
  layout->addWidget(summary_);
  layout->addWidget(glossaryButton_, 0, Qt::AlignLeft);
  SetTextPixels(kPanelPixels);
}

void LessonPanel::ShowLesson(const QString& title, const QString& markdown) {
  title_->setText(title);
  markdown_ = markdown;
  // The title is the panel's own line above the text.
  QString body = markdown;
  if (body.startsWith(QStringLiteral("# "))) body = body.section(QLatin1Char('\n'), 1);
  text_->setMarkdown(body);
  showsGlossary_ = false;
  glossaryButton_->setText(tr("Glossary"));
}

void LessonPanel::ShowSummary(const QString& summary) {
  summary_->setText(summary);
  summary_->setVisible(!summary.isEmpty());
}

void LessonPanel::ShowGlossary() {
  text_->setMarkdown(Text(app::GlossaryText()));
  showsGlossary_ = true;
  glossaryButton_->setText(tr("Back to the Lesson"));
}

void LessonPanel::SetTextPixels(int pixels) {
  QFont font = this->font();
  font.setPixelSize(pixels);
  text_->setFont(font);
  text_->document()->setDefaultFont(font);
  summary_->setFont(font);
  glossaryButton_->setFont(font);
  QFont heading = font;
  heading.setPixelSize(pixels * 4 / 3);
  heading.setBold(true);
  title_->setFont(heading);
}

ZoomedCharts::ZoomedCharts(double zoom, QWidget* parent) : QWidget(parent), zoom_(zoom) {
  setObjectName(QStringLiteral("presentationCharts"));
  setMinimumSize(240, 240);
}

void ZoomedCharts::ShowHistory(const CensusHistory* history) {
  history_ = history;
  if (isVisible()) update();
}

void ZoomedCharts::SetStatistics(bool on) {
  statistics_ = on;
  if (isVisible()) update();
}

void ZoomedCharts::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.scale(zoom_, zoom_);
  PaintCharts(painter, QSize(static_cast<int>(width() / zoom_), static_cast<int>(height() / zoom_)), history_,
              statistics_);
}

QtLessonPlatform::QtLessonPlatform(MainWindow& window) : QtPlatform(window), window_(window) {
  panel_ = new LessonPanel(&window);
  lessonDock_ = new QDockWidget(tr("Lesson"), &window);
  lessonDock_->setObjectName(QStringLiteral("lessonDock"));
  lessonDock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  lessonDock_->setWidget(panel_);
  window.addDockWidget(Qt::RightDockWidgetArea, lessonDock_);
  window.splitDockWidget(lessonDock_, window.chartsDock(), Qt::Horizontal);
  lessonDock_->hide();

  charts_ = new ZoomedCharts(kPresentationChartsZoom, &window);
  chartsDock_ = new QDockWidget(tr("Charts"), &window);
  chartsDock_->setObjectName(QStringLiteral("presentationChartsDock"));
  chartsDock_->setFeatures(QDockWidget::NoDockWidgetFeatures);
  chartsDock_->setWidget(charts_);
  window.addDockWidget(Qt::RightDockWidgetArea, chartsDock_);
  chartsDock_->hide();
  // The large Charts follow the window's Statistics check box.
  if (auto* panel = qobject_cast<ChartsPanel*>(window.chartsDock()->widget())) {
    connect(panel->statisticsBox(), &QCheckBox::toggled, charts_, &ZoomedCharts::SetStatistics);
    charts_->SetStatistics(panel->statisticsBox()->isChecked());
  }
}

void QtLessonPlatform::InstallMenuBar(std::span<const app::MenuSpec> menus) {
  QtPlatform::InstallMenuBar(menus);
  if (QAction* presentation = action(app::kDisplayMenu, app::kPresentationItem)) {
    presentation->setShortcut(QKeySequence(Qt::Key_F11));
    presentation->setShortcutContext(Qt::ApplicationShortcut);
  }
}

// The guide's link to the glossary opens it in the guide's window.
void QtLessonPlatform::ShowGuide() {
  QtPlatform::ShowGuide();
  if (guide() == nullptr) return;
  if (auto* browser = guide()->findChild<QTextBrowser*>(QStringLiteral("guideText"))) {
    browser->setSearchPaths({QStringLiteral(":/")});
  }
}

void QtLessonPlatform::ShowCharts(const CensusHistory& history) {
  QtPlatform::ShowCharts(history);
  charts_->ShowHistory(&history);
}

void QtLessonPlatform::ShowLesson(std::string_view title, std::string_view markdown) {
  panel_->ShowLesson(Text(title), Text(markdown));
  panel_->ShowSummary(QString());
  lessonDock_->show();
  lessonDock_->raise();
}

void QtLessonPlatform::HideLesson() { lessonDock_->hide(); }

void QtLessonPlatform::ShowSummary(std::string_view summary) { panel_->ShowSummary(Text(summary)); }

void QtLessonPlatform::ShowGlossary(std::string_view /*markdown*/) {
  panel_->ShowGlossary();
  lessonDock_->show();
  lessonDock_->raise();
}

// The screen for the back of a room: the map at its size for the window,
// the lesson and the Charts large, the run controls large; the other views
// wait until presentation mode ends.
void QtLessonPlatform::SetPresentation(bool on) {
  if (on == presenting_) return;
  presenting_ = on;
  const QList<QToolBar*> bars = window_.findChildren<QToolBar*>();
  if (on) {
    stateBefore_ = window_.saveState();
    fullScreenBefore_ = window_.isFullScreen();
    if (!bars.isEmpty()) {
      barFontBefore_ = bars.front()->font();
      iconSizeBefore_ = bars.front()->iconSize();
    }
    for (const char* name : {"textDock", "graphDock", "timeDock", "chartsDock"}) {
      if (auto* dock = window_.findChild<QDockWidget*>(QLatin1String(name))) dock->hide();
    }
    QFont large = window_.font();
    large.setPixelSize(kPresentationPixels);
    for (QToolBar* bar : bars) {
      bar->setFont(large);
      bar->setIconSize(QSize(kPresentationPixels * 2, kPresentationPixels * 2));
      for (QWidget* child : bar->findChildren<QWidget*>()) child->setFont(large);
    }
    panel_->SetTextPixels(kPresentationPixels);
    lessonDock_->setVisible(!panel_->title().isEmpty() || panel_->showsGlossary());
    chartsDock_->show();
    window_.showFullScreen();
  } else {
    for (QToolBar* bar : bars) {
      bar->setFont(barFontBefore_);
      if (iconSizeBefore_.isValid()) bar->setIconSize(iconSizeBefore_);
      for (QWidget* child : bar->findChildren<QWidget*>()) child->setFont(barFontBefore_);
    }
    panel_->SetTextPixels(kPanelPixels);
    chartsDock_->hide();
    if (!fullScreenBefore_) window_.showNormal();
    window_.restoreState(stateBefore_);
  }
}

std::optional<std::string> QtLessonPlatform::AskLessonPath() {
  const QString path = QFileDialog::getOpenFileName(&window_, tr("Open Lesson"), QString(),
                                                    tr("Lessons (*.md *.toml);;All files (*)"));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

// The desktop program has no address of its own: the link is the page's
// part after its #, which a page of Talveron opens.
void QtLessonPlatform::CopyLink(std::string_view fragment) { CopyText("index.html#" + std::string(fragment)); }

}  // namespace talveron::gui
