// The desktop program's lesson panel and presentation mode on Qt's
// offscreen platform: a lesson's text, questions and summary in the panel,
// the glossary from the panel and from the guide, and text of at least 24
// pixels on a 1280 by 720 screen in presentation mode.
#include "gui/lesson_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDockWidget>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>

#include "app/lessons/run_summary.h"
#include "app/shell/shell.h"
#include "gui/charts_view.h"
#include "gui/main_window.h"

namespace talveron::gui {
namespace {

QApplication& Application() {
  static int argc = 1;
  static char name[] = "lesson_panel_test";
  static char* argv[] = {name, nullptr};
  static auto* application = new QApplication(argc, argv);
  return *application;
}

struct WithApplication {
  WithApplication() { Application(); }
};

class LessonPanelTest : public testing::Test, private WithApplication {
 protected:
  LessonPanelTest() {
    window.resize(1280, 720);
    window.show();
    shell.MenuBarInit();
  }
  QDockWidget* Dock(const char* name) { return window.findChild<QDockWidget*>(QLatin1String(name)); }

  app::QtCanvas canvas;
  MainWindow window{canvas};
  QtLessonPlatform platform{window};
  app::Shell shell{platform, canvas, 7};
};

TEST_F(LessonPanelTest, PanelShowsTheLessonItsQuestionsSummaryAndGlossaryAndHidesWhenClosed) {
  EXPECT_FALSE(platform.lessonDock()->isVisible());
  EXPECT_EQ(platform.menu(app::kLessonsMenu)->title(), QStringLiteral("Lessons"));
  const app::Lesson& lesson = *app::FindLesson("drift");
  ASSERT_EQ(shell.OpenLesson(lesson), std::nullopt);
  EXPECT_TRUE(platform.lessonDock()->isVisible());
  EXPECT_EQ(platform.panel()->title(), QString::fromStdString(lesson.title));
  const QString shown = platform.panel()->text()->toPlainText();
  for (const std::string& question : app::LessonQuestions(lesson)) {
    EXPECT_TRUE(shown.contains(QString::fromStdString(question.substr(0, 30)))) << question;
  }
  platform.ShowSummary("Generation 44: most individuals in the left habitat now prefer it.");
  EXPECT_EQ(platform.panel()->summary(), QStringLiteral("Generation 44: most individuals in the left habitat now prefer it."));

  platform.panel()->glossaryButton()->click();
  EXPECT_TRUE(platform.panel()->text()->toPlainText().contains(QStringLiteral("Allele.")));
  // The picture of a disc's rings travels with the program.
  const QVariant picture =
      platform.panel()->text()->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("disc-rings.svg")));
  EXPECT_TRUE(picture.isValid() && !picture.toByteArray().isEmpty());
  platform.panel()->glossaryButton()->click();
  EXPECT_EQ(platform.panel()->text()->toPlainText(), shown);

  shell.CloseLesson();
  EXPECT_FALSE(platform.lessonDock()->isVisible());
}

TEST_F(LessonPanelTest, GuideLinksToTheGlossary) {
  shell.HandleMenuChoice(app::MenuChoice(app::kHelpMenu, 1));
  ASSERT_NE(platform.guide(), nullptr);
  auto* browser = platform.guide()->findChild<QTextBrowser*>(QStringLiteral("guideText"));
  ASSERT_NE(browser, nullptr);
  ASSERT_TRUE(browser->toMarkdown().contains(QStringLiteral("(glossary.md)")));
  browser->setSource(QUrl(QStringLiteral("glossary.md")));
  EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("Habitat specialization.")));
}

TEST_F(LessonPanelTest, PresentationFillsTheScreenInLargeTypeAndF11TogglesIt) {
  ASSERT_EQ(shell.OpenLesson(*app::FindLesson("drift")), std::nullopt);
  QAction* presentation = platform.action(app::kDisplayMenu, app::kPresentationItem);
  ASSERT_NE(presentation, nullptr);
  EXPECT_EQ(presentation->shortcut(), QKeySequence(Qt::Key_F11));
  shell.HandleMenuChoice(app::MenuChoice(app::kDisplayMenu, app::kPresentationItem));
  QApplication::processEvents();
  EXPECT_TRUE(platform.presenting());
  EXPECT_TRUE(window.isFullScreen());
  EXPECT_TRUE(platform.lessonDock()->isVisible());
  EXPECT_TRUE(platform.presentationChartsDock()->isVisible());
  EXPECT_FALSE(Dock("graphDock")->isVisible());
  EXPECT_GE(platform.panel()->text()->document()->defaultFont().pixelSize(), 24);
  EXPECT_GE(platform.panel()->glossaryButton()->font().pixelSize(), 24);
  for (QToolBar* bar : window.findChildren<QToolBar*>()) {
    for (QToolButton* button : bar->findChildren<QToolButton*>()) {
      if (button->isVisible()) {
        EXPECT_GE(button->font().pixelSize(), 24) << button->text().toStdString();
      }
    }
  }
  // The Charts drawn twice as large: their 12-pixel legend is 24 pixels.
  EXPECT_EQ(QtLessonPlatform::kPresentationChartsZoom * 12, 24);
  // They follow the window's Statistics check box: with it, the F_ST panel.
  QWidget* large = platform.presentationChartsDock()->widget();
  const QImage without = large->grab().toImage();
  auto* charts = qobject_cast<ChartsPanel*>(window.chartsDock()->widget());
  ASSERT_NE(charts, nullptr);
  charts->statisticsBox()->setChecked(true);
  EXPECT_NE(large->grab().toImage(), without);
  charts->statisticsBox()->setChecked(false);
  EXPECT_EQ(large->grab().toImage(), without);

  shell.HandleMenuChoice(app::MenuChoice(app::kDisplayMenu, app::kPresentationItem));
  QApplication::processEvents();
  EXPECT_FALSE(platform.presenting());
  EXPECT_FALSE(window.isFullScreen());
  EXPECT_TRUE(Dock("graphDock")->isVisible());
  EXPECT_FALSE(platform.presentationChartsDock()->isVisible());
  EXPECT_LT(platform.panel()->text()->document()->defaultFont().pixelSize(), 24);
}

}  // namespace
}  // namespace talveron::gui
