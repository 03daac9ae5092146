// The desktop program's lesson panel and presentation mode on Qt's
// offscreen platform: a lesson's text, questions and summary in the panel,
// the glossary from the panel and from the guide, and text of at least 24
// pixels on a 1280 by 720 screen in presentation mode.
#include "gui/lesson_panel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

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
#include "temp_folder.h"

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
  const app::Lesson& lesson = *app::FindLesson("split");
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

// The milestones and changes so far under the summary, and the pictures a
// lesson brought: shown from what was read with the lesson, never read from
// a file by the panel itself, however its text names one.
TEST_F(LessonPanelTest, PanelListsTheMilestonesAndShowsOnlyThePicturesTheLessonBrought) {
  ASSERT_EQ(shell.OpenLesson(*app::FindLesson("secondary-contact")), std::nullopt);
  QLabel* list = platform.panel()->milestonesLabel();
  EXPECT_TRUE(list->isHidden());
  platform.ShowMilestones({"B, generation 15: most individuals in each habitat are now specialists suited to it.",
                           "Change, generation 151: 30% of the young move to the other habitat."});
  EXPECT_FALSE(list->isHidden());
  EXPECT_EQ(platform.panel()->milestones().size(), 2);
  EXPECT_TRUE(list->text().contains(QStringLiteral("Change, generation 151: 30% of the young")));
  platform.ShowMilestones({});
  EXPECT_TRUE(list->isHidden());

  // A picture the lesson brought, and a large file its text names that it
  // did not bring (sparse: it takes no room on the disc).
  test_support::TempFolder folder("lesson-panel");
  const std::filesystem::path large = folder / "large.png";
  std::ofstream(large).close();
  std::filesystem::resize_file(large, std::uintmax_t{64} << 20);
  const QUrl largeUrl = QUrl::fromLocalFile(QString::fromStdString(large.string()));
  const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\"/>";
  app::Lesson lesson;
  lesson.name = "islands";
  lesson.title = "Islands";
  lesson.markdown = "# Islands\n\n![the map](map.svg)\n\n![large](" + large.string() + ")\n\n![also](" +
                    largeUrl.toString().toStdString() + ")\n";
  lesson.pictures = {{"map.svg", svg.toStdString()}};
  ASSERT_EQ(shell.OpenLesson(lesson), std::nullopt);
  LessonText* text = platform.panel()->text();
  QTextDocument* document = text->document();
  EXPECT_EQ(text->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("map.svg"))).toByteArray(), svg);
  EXPECT_TRUE(document->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("map.svg"))).isValid());
  // What the document holds for the large file, or reads when asked: not
  // the file.
  for (const QUrl& url : {QUrl(QString::fromStdString(large.string())), largeUrl}) {
    for (const int type : {int{QTextDocument::ImageResource}, int{QTextDocument::MarkdownResource}}) {
      EXPECT_LT(document->resource(type, url).toByteArray().size(), 1 << 20) << url.toString().toStdString();
    }
  }
  // The program's own picture and the glossary a link opens, by name.
  EXPECT_FALSE(text->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("disc-rings.svg"))).toByteArray().isEmpty());
  EXPECT_FALSE(text->loadResource(QTextDocument::MarkdownResource, QUrl(QStringLiteral("glossary.md"))).toByteArray().isEmpty());
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
  ASSERT_EQ(shell.OpenLesson(*app::FindLesson("split")), std::nullopt);
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
