// Lessons in the desktop program: the lesson panel beside the views (the
// lesson's text, the summary of the run in plain words and the glossary),
// and presentation mode, which fills the screen with the map, the lesson,
// large Charts and large run controls for a projector.
#pragma once

#include <QByteArray>
#include <QLabel>
#include <QMap>
#include <QPointer>
#include <QStringList>
#include <QTextBrowser>
#include <QWidget>

#include "gui/qt_platform.h"

class QDockWidget;
class QPushButton;

namespace talveron::gui {

// The lesson's text. It shows the pictures the lesson brought, read when
// the lesson was opened, and the program's own (the glossary's), and reads
// no file: a lesson's files are read within limits, once.
class LessonText : public QTextBrowser {
 public:
  using QTextBrowser::QTextBrowser;
  void SetPictures(QMap<QString, QByteArray> pictures) { pictures_ = std::move(pictures); }
  QVariant loadResource(int type, const QUrl& name) override;

 private:
  QMap<QString, QByteArray> pictures_;
};

class LessonPanel : public QWidget {
  Q_OBJECT

 public:
  explicit LessonPanel(QWidget* parent = nullptr);

  void ShowLesson(const QString& title, const QString& markdown);
  void ShowSummary(const QString& summary);
  // The milestones and changes so far, one a line; none hides the list.
  void ShowMilestones(const QStringList& lines);
  // The glossary in place of the lesson's text; the button beside it
  // goes back.
  void ShowGlossary();
  bool showsGlossary() const { return showsGlossary_; }
  // The size of the text in pixels: larger in presentation mode.
  void SetTextPixels(int pixels);

  QString title() const { return title_->text(); }
  QString summary() const { return summary_->text(); }
  QStringList milestones() const { return milestoneLines_; }
  QLabel* milestonesLabel() const { return milestones_; }
  LessonText* text() const { return text_; }
  QPushButton* glossaryButton() const { return glossaryButton_; }

 private:
  QLabel* title_ = nullptr;
  LessonText* text_ = nullptr;
  QLabel* summary_ = nullptr;
  QLabel* milestones_ = nullptr;
  QStringList milestoneLines_;
  QPushButton* glossaryButton_ = nullptr;
  QString markdown_;
  bool showsGlossary_ = false;
};

// The Charts drawn `zoom` times larger, text and all.
class ZoomedCharts : public QWidget {
 public:
  ZoomedCharts(double zoom, QWidget* parent);
  void ShowHistory(const CensusHistory* history);
  // With the F_ST panel, as the window's Charts show it.
  void SetStatistics(bool on);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  double zoom_;
  const CensusHistory* history_ = nullptr;
  bool statistics_ = false;
};

// The Qt platform with the lesson panel and presentation mode.
class QtLessonPlatform : public QtPlatform {
  Q_OBJECT

 public:
  // The text of presentation mode, in pixels: readable on a projector of
  // 1280 by 720.
  static constexpr int kPresentationPixels = 26;
  static constexpr double kPresentationChartsZoom = 2;

  explicit QtLessonPlatform(MainWindow& window);

  LessonPanel* panel() const { return panel_; }
  QDockWidget* lessonDock() const { return lessonDock_; }
  QDockWidget* presentationChartsDock() const { return chartsDock_; }
  bool presenting() const { return presenting_; }

  void InstallMenuBar(std::span<const app::MenuSpec> menus) override;
  void ShowGuide() override;
  void ShowCharts(const CensusHistory& history) override;
  void ShowLesson(std::string_view title, std::string_view markdown) override;
  void HideLesson() override;
  void ShowSummary(std::string_view summary) override;
  void ShowMilestones(const std::vector<std::string>& lines) override;
  void ShowLessonPictures(const std::vector<std::pair<std::string, std::string>>& pictures) override;
  void ShowGlossary(std::string_view markdown) override;
  void SetPresentation(bool on) override;
  std::optional<std::string> AskLessonPath() override;
  void CopyLink(std::string_view fragment) override;

 private:
  MainWindow& window_;
  LessonPanel* panel_ = nullptr;
  QDockWidget* lessonDock_ = nullptr;
  ZoomedCharts* charts_ = nullptr;
  QDockWidget* chartsDock_ = nullptr;
  bool presenting_ = false;
  QByteArray stateBefore_;        // the docks and bars as they were
  bool fullScreenBefore_ = false;
  QFont barFontBefore_;
  QSize iconSizeBefore_;
};

}  // namespace talveron::gui
