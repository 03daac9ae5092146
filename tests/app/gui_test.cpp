// The desktop program on Qt's offscreen platform: the menu bar by number,
// keys and menu choices through the event path into the run loop, closing
// the window, and the pictures of a running generation (the dialogs:
// gui_dialogs_test.cpp).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTextBrowser>
#include <QTimer>
#include <QXmlStreamReader>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <vector>

#include "app/drawing/map_key.h"
#include "app/drawing/views.h"
#include "app/shell/settings_formulas.h"
#include "app/shell/shell.h"
#include "gui/main_window.h"
#include "gui/qt_canvas.h"
#include "gui/qt_platform.h"
#include "gui/settings_dialog.h"
#include "model/fatal_error.h"
#include "model/version.h"
#include "qt_desktop_test.h"
#include "temp_folder.h"

namespace talveron::gui {
namespace {

namespace fs = std::filesystem;
using app::Event;
using app::Port;

TEST_F(QtDesktopTest, MenuBarCarriesEveryItemByNumber) {
  // Six menus in the bar; submenus hang from items of the Data File menu;
  // command keys are shown; start-up checks and disabling are visible.
  EXPECT_EQ(window.menuBar()->actions().size(), 6);
  EXPECT_EQ(platform.menu(129)->title(), QStringLiteral("File"));
  EXPECT_EQ(platform.action(129, 4)->text(), QStringLiteral("Step Mode\tCtrl+T"));
  EXPECT_TRUE(platform.action(129, 2)->isSeparator());
  EXPECT_EQ(platform.action(135, 4)->menu(), platform.menu(109));
  EXPECT_EQ(platform.action(135, 5)->menu(), platform.menu(111));
  EXPECT_EQ(platform.action(135, 8)->menu(), platform.menu(110));
  EXPECT_EQ(platform.action(135, 9)->menu(), platform.menu(108));
  EXPECT_FALSE(platform.action(135, 2)->isEnabled());
  EXPECT_TRUE(platform.action(109, 2)->isChecked());
  EXPECT_TRUE(platform.action(111, 9)->isChecked());
  EXPECT_TRUE(platform.action(135, 7)->isChecked());
  EXPECT_FALSE(platform.action(135, 11)->isChecked());
  // An ampersand shows as one; exclusive choices are radio items; the
  // extra count item is hidden until a count needs it.
  EXPECT_EQ(platform.action(134, 10)->text(), QStringLiteral("Specialization && Preference Plot"));
  ASSERT_NE(platform.action(134, 4)->actionGroup(), nullptr);
  EXPECT_TRUE(platform.action(134, 4)->actionGroup()->isExclusive());
  EXPECT_EQ(platform.action(134, 4)->actionGroup(), platform.action(134, 7)->actionGroup());
  EXPECT_NE(platform.action(134, 4)->actionGroup(), platform.action(134, 9)->actionGroup());
  EXPECT_FALSE(platform.action(109, app::kExtraReplicatesItem)->isVisible());
}

TEST_F(QtDesktopTest, MenuChoiceRunsOnlyWhenTheLoopPolls) {
  // Choosing Step mode queues the choice; the flag and its check mark
  // change when the loop's poll hands it to DoEvent.
  platform.action(129, 4)->trigger();
  EXPECT_FALSE(shell.step);
  EXPECT_FALSE(platform.action(129, 4)->isChecked());
  const auto event = platform.WaitNextEvent(1);
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->what, Event::Kind::MenuSelect);
  EXPECT_EQ(event->menu, 129);
  EXPECT_EQ(event->item, 4);
  shell.DoEvent(*event);
  EXPECT_TRUE(shell.step);
  EXPECT_TRUE(platform.action(129, 4)->isChecked());
}

TEST_F(QtDesktopTest, KeysInTheViewsBecomeKeyEvents) {
  // Ctrl+T is a command key; a held space bar repeats as auto-key events.
  PressKey(map(), Qt::Key_T, Qt::ControlModifier, QStringLiteral("\x14"));
  PressKey(canvas.widget(Port::Graph), Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
  const auto command = platform.WaitNextEvent(1);
  ASSERT_TRUE(command.has_value());
  EXPECT_EQ(command->what, Event::Kind::KeyDown);
  EXPECT_EQ(command->character, 't');
  EXPECT_TRUE(command->commandKey);
  const auto held = platform.WaitNextEvent(1);
  ASSERT_TRUE(held.has_value());
  EXPECT_EQ(held->what, Event::Kind::AutoKey);
  EXPECT_EQ(held->character, ' ');
  EXPECT_FALSE(held->commandKey);
  EXPECT_FALSE(platform.WaitNextEvent(1).has_value());
}

TEST_F(QtDesktopTest, HeldKeySentAsPressReleasePairsIsOneStep) {
  // A window system that repeats a held key as press and release pairs
  // not marked as repeats: a press within a repeat interval of the
  // release is an auto-key event; a press after a real pause is a step.
  SendKey(map(), QEvent::KeyPress, 1000);
  SendKey(map(), QEvent::KeyRelease, 1500);
  SendKey(map(), QEvent::KeyPress, 1500);
  SendKey(map(), QEvent::KeyRelease, 1533);
  SendKey(map(), QEvent::KeyPress, 1534);
  SendKey(map(), QEvent::KeyRelease, 1600);
  SendKey(map(), QEvent::KeyPress, 1900);
  std::vector<Event::Kind> kinds;
  while (const auto event = platform.WaitNextEvent(1)) kinds.push_back(event->what);
  EXPECT_EQ(kinds, (std::vector<Event::Kind>{Event::Kind::KeyDown, Event::Kind::AutoKey, Event::Kind::AutoKey,
                                              Event::Kind::KeyDown}));
}

TEST_F(QtDesktopTest, UnwritablePlaceInTheSaveDialogIsToldAndTheProgramRuns) {
  // A name longer than the file system takes, which the dialog lets pass:
  // a message names the place, the dialog comes again and is cancelled,
  // and the loop runs on to Quit.
  const QString path =
      QString::fromStdString((folder / (std::string(250, 'x') + ".txt")).string());
  int dialogs = 0;
  QString notice;
  Repeatedly open([&] {
    if (dialogs > 0 || shell.DataFileOpen()) return true;
    platform.action(135, 1)->trigger();
    return false;
  });
  Repeatedly answer([&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      notice = box->text();
      box->accept();
      return false;
    }
    auto* dialog = ModalDialog<QFileDialog>();
    if (dialog == nullptr) return false;
    if (++dialogs == 1) {
      dialog->selectFile(path);
      static_cast<QDialog*>(dialog)->accept();
      return false;
    }
    // Open chosen again while the loop was busy opens the dialog again.
    static_cast<QDialog*>(dialog)->reject();
    QTimer::singleShot(0, [&] { PressKey(map(), Qt::Key_Q, Qt::ControlModifier, QStringLiteral("\x11")); });
    return false;
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_GE(dialogs, 2);
  EXPECT_TRUE(notice.contains(path)) << notice.toStdString();
  EXPECT_FALSE(shell.DataFileOpen());
  EXPECT_TRUE(platform.action(135, 1)->isEnabled());
}

TEST_F(QtDesktopTest, TheFileDialogsOpenInTheFolderOfTheFileChosenLast) {
  // A data file chosen in a folder of its own; closed, and Open Data File
  // chosen again: the dialog opens in that folder, not the home folder.
  const fs::path place = folder / "class";
  fs::create_directories(place);
  int dialogs = 0;
  bool closed = false;
  QString openedIn;
  Repeatedly answer([&] {
    auto* dialog = ModalDialog<QFileDialog>();
    if (dialog == nullptr) {
      if (dialogs == 0 && !shell.DataFileOpen()) platform.action(135, 1)->trigger();
      if (dialogs == 1 && shell.DataFileOpen()) {
        platform.action(135, 2)->trigger();
        closed = true;
      } else if (dialogs == 1 && closed) {
        platform.action(135, 1)->trigger();
      }
      return false;
    }
    if (++dialogs == 1) {
      dialog->selectFile(QString::fromStdString((place / "first.txt").string()));
      static_cast<QDialog*>(dialog)->accept();
      return false;
    }
    openedIn = dialog->directory().absolutePath();
    static_cast<QDialog*>(dialog)->reject();
    QTimer::singleShot(0, [&] { PressKey(map(), Qt::Key_Q, Qt::ControlModifier, QStringLiteral("\x11")); });
    return true;
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(openedIn, QString::fromStdString(fs::canonical(place).string()));
}

TEST_F(QtDesktopTest, MenusEndFileWithQuitNameTheTimePlotAndAboutOnce) {
  // Quit last in the File menu, after a separator; About in one menu;
  // the time plot called so in the Display menu.
  QAction* last = nullptr;
  QAction* beforeLast = nullptr;
  for (QAction* action : platform.menu(app::kFileMenu)->actions()) {
    if (!action->isVisible()) continue;
    beforeLast = last;
    last = action;
  }
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last, platform.action(app::kFileMenu, 9));
  EXPECT_TRUE(beforeLast->isSeparator());
  int abouts = 0;
  for (QAction* action : window.findChildren<QAction*>()) {
    if (action->isVisible() && action->text().startsWith(QStringLiteral("About"))) ++abouts;
  }
  EXPECT_EQ(abouts, 1);
  EXPECT_TRUE(platform.action(app::kDisplayMenu, 2)->text().startsWith(QStringLiteral("Next Time Plot")));
  // The speed slider names the pace set, from the menu or the slider.
  platform.CheckMenuItem(app::kSpeedMenu, 4, true);
  EXPECT_EQ(window.PaceText(), QStringLiteral("100 a second"));
  window.speedSlider()->setValue(0);
  EXPECT_EQ(window.PaceText(), QStringLiteral("as fast as it goes"));
}

TEST_F(QtDesktopTest, ErasedTextLeavesNoDotsAtAnotherScale) {
  // The map display's caption changed at a zoom of 1.25: the text view is
  // as it is drawn afresh with the new caption alone.
  app::DisplayFlags first;
  app::DisplayFlags second;
  second.gAllLocusDisplay = false;
  second.gHabitatSpecDisplay = true;
  app::QtCanvas changed;
  changed.SetScale(Port::Text, 1.25);
  app::Views(changed, first).ShowInfo("Start", 0, false);
  app::Views(changed, second).ShowInfo("Start", 0, false);
  app::QtCanvas fresh;
  fresh.SetScale(Port::Text, 1.25);
  app::Views(fresh, second).ShowInfo("Start", 0, false);
  changed.Refresh(Port::Text);
  fresh.Refresh(Port::Text);
  EXPECT_EQ(changed.image(Port::Text), fresh.image(Port::Text));
  EXPECT_EQ(changed.Picture(Port::Text, 1.25), fresh.Picture(Port::Text, 1.25));
}

TEST_F(QtDesktopTest, SpaceBarStartsTheRunAndCtrlQQuits) {
  // Five generations after the space bar, drawn into the views; at the end
  // of the pass Ctrl+Q ends the loop.
  // Events queued before the replicate begins are discarded: keep choosing
  // and pressing until the run has started.
  Repeatedly start([&] {
    if (shell.world.gGenerationNumber > 0) return true;
    platform.action(111, 1)->trigger();
    PressKey(map(), Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    return false;
  });
  window.Zoom(0);  // pixel for pixel, whatever the screen
  Repeatedly quitAtTheEnd([&] {
    if (shell.world.gGenerationNumber <= 5) return false;
    PressKey(map(), Qt::Key_Q, Qt::ControlModifier, QStringLiteral("\x11"));
    return true;
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_EQ(shell.world.gGenerationNumber, 6);
  // The frames were redrawn after the last generation's mortality: the
  // shared line at h 319 is black from top to bottom.
  const QImage& view = canvas.image(Port::View);
  for (int v : {0, 137, 399}) EXPECT_EQ(view.pixel(319, v), app::QtCanvas::Rgb(app::QdColor::Black)) << v;
  EXPECT_TRUE(window.SeedText().contains(QStringLiteral("Seed 500")));
}

TEST_F(QtDesktopTest, TheGuideIsAWindowOfItsOwnAndTheRunGoesOn) {
  // F1 during a run at 100 generations a second: the guide shows, nothing
  // is modal, and the run advances while it is open.
  int openedAt = 0;
  Repeatedly start([&] {
    if (shell.world.gGenerationNumber > 0) return true;
    platform.action(112, 4)->trigger();
    PressKey(map(), Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    return false;
  });
  Repeatedly openGuide([&] {
    if (shell.world.gGenerationNumber < 3) return false;
    if (platform.guide() == nullptr) {
      platform.action(app::kHelpMenu, 1)->trigger();
      return false;
    }
    openedAt = shell.world.gGenerationNumber;
    return true;
  });
  Repeatedly quit([&] {
    if (openedAt == 0 || shell.world.gGenerationNumber < openedAt + 10) return false;
    EXPECT_TRUE(platform.guide()->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    window.close();
    return true;
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_GE(shell.world.gGenerationNumber, openedAt + 10);
  // The desktop program's guide: its docks and its command line, not the
  // page's passages.
  const auto* text = platform.guide()->findChild<QTextBrowser*>(QStringLiteral("guideText"));
  ASSERT_NE(text, nullptr);
  const QString guide = text->toPlainText();
  EXPECT_TRUE(guide.contains(QStringLiteral("talveron --settings"))) << guide.left(200).toStdString();
  EXPECT_TRUE(guide.contains(QStringLiteral("dock")));
  EXPECT_FALSE(guide.contains(QStringLiteral("in the browser"), Qt::CaseInsensitive));
  EXPECT_FALSE(guide.contains(QStringLiteral("<!--")));
}

TEST_F(QtDesktopTest, ChartsFollowTheRunTellWhatIsHoveredAndHideWithOneItem) {
  // Thirty generations: the Charts view shows the shell's history, its
  // header the generation and head counts in large type; hovering a line
  // tells its generation and value; Display > Charts hides the view. The
  // view's dock holds the Statistics check box, off.
  const auto* statistics = window.chartsDock()->findChild<QCheckBox*>(QStringLiteral("chartsStatistics"));
  ASSERT_NE(statistics, nullptr);
  EXPECT_FALSE(statistics->isChecked());
  EXPECT_FALSE(window.charts()->statistics());
  Repeatedly start([&] {
    if (shell.world.gGenerationNumber > 0) return true;
    platform.action(111, 3)->trigger();
    PressKey(map(), Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    return false;
  });
  bool hidden = false;
  Repeatedly hide([&] {
    if (shell.world.gGenerationNumber < 30 || hidden) return false;
    hidden = true;
    platform.action(app::kDisplayMenu, app::kChartsItem)->trigger();
    QTimer::singleShot(0, [&] { PressKey(map(), Qt::Key_Q, Qt::ControlModifier, QStringLiteral("\x11")); });
    return true;
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  ChartsView* charts = window.charts();
  ASSERT_EQ(charts->history(), &shell.history);
  const long last = shell.history.LastGeneration();
  EXPECT_GE(last, 30);
  EXPECT_TRUE(charts->HeaderText().contains(QStringLiteral("Generation %1").arg(last)));
  EXPECT_TRUE(charts->HeaderText().contains(
      QStringLiteral("Habitat 1: %1").arg(shell.history.Adults(last, 1))));

  charts->resize(460, 560);
  QtChartsPainter measure;
  const app::ChartsLayout layout(460, 560, measure);
  const app::GenerationAxis axis(&shell.history);
  const app::ChartsRect& panel = layout.panels[0];
  const double value = shell.history.Frequency(last, 0, Locus::Specialization, 2);
  const double along = static_cast<double>(last - axis.first) / static_cast<double>(axis.last - axis.first);
  const QPoint on(static_cast<int>(panel.left + along * panel.width),
                  static_cast<int>(panel.bottom() - value * panel.height));
  const auto told = charts->DescribeAt(on);
  ASSERT_TRUE(told.has_value());
  EXPECT_TRUE(told->startsWith(QStringLiteral("Generation %1: habitat specialization").arg(last))) << told->toStdString();
  EXPECT_FALSE(charts->DescribeAt(QPoint(2, 2)).has_value());
  EXPECT_FALSE(window.chartsDock()->isVisible());
  EXPECT_FALSE(platform.action(app::kDisplayMenu, app::kChartsItem)->isChecked());
}

TEST_F(QtDesktopTest, ClosingTheWindowQuitsAfterClosingTheDataFile) {
  // The data file chosen in the save dialog is open when the window is
  // closed; the loop closes it and returns.
  const fs::path file = folder / "closing.txt";
  Repeatedly open([&] {
    if (ModalDialog<QFileDialog>() != nullptr || shell.DataFileOpen()) return true;
    platform.action(135, 1)->trigger();  // until the loop, past its flush, takes it
    return false;
  });
  Repeatedly chooseFile([&] {
    auto* dialog = ModalDialog<QFileDialog>();
    if (dialog == nullptr) return false;
    dialog->selectFile(QString::fromStdString(file.string()));
    static_cast<QDialog*>(dialog)->accept();
    return true;
  });
  Repeatedly closeWindow([&] {
    if (!shell.DataFileOpen()) return false;
    window.close();
    return true;
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_FALSE(shell.DataFileOpen());
  EXPECT_FALSE(fs::exists(file.string() + ".partial"));  // no series was written to it
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.DataFileText().contains(QStringLiteral("No data file")));
}

TEST_F(QtDesktopTest, PictureOfTheFourViewsAsSvgAfterZoomingIn) {
  // Ctrl++ zooms the views in a step; File > Save Picture writes the four
  // views as SVG at that zoom: the file parses, is as large as the four
  // views zoomed, and holds each view's drawing.
  const fs::path file = folder / "picture.svg";
  window.Zoom(0);
  Repeatedly start([&] {
    if (shell.world.gGenerationNumber > 0) return true;
    platform.action(111, 1)->trigger();
    PressKey(map(), Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    return false;
  });
  bool zoomed = false;
  Repeatedly zoomAndSave([&] {
    if (shell.world.gGenerationNumber <= 5) return false;
    if (!zoomed) {
      zoomed = true;
      PressKey(map(), Qt::Key_Plus, Qt::ControlModifier, QStringLiteral("+"));
      return false;
    }
    if (window.zoom() == 1.0) return false;
    platform.action(129, app::kSavePictureItem)->trigger();
    return true;
  });
  Repeatedly choose([&] {
    auto* dialog = ModalDialog<QFileDialog>();
    if (dialog == nullptr) return false;
    dialog->selectNameFilter(dialog->nameFilters().at(1));
    dialog->selectFile(QString::fromStdString(file.string()));
    static_cast<QDialog*>(dialog)->accept();
    QTimer::singleShot(0, [&] { PressKey(map(), Qt::Key_Q, Qt::ControlModifier, QStringLiteral("\x11")); });
    return true;
  });
  EXPECT_EQ(shell.MainLoop(), 0);
  EXPECT_DOUBLE_EQ(window.zoom(), 1.25);
  EXPECT_EQ(canvas.view(Port::View)->sizeHint(), QSize(800, 500));
  QFile svg(QString::fromStdString(file.string()));
  ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&svg);
  QString box;
  QString text;
  std::map<QString, int> elements;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QStringLiteral("svg")) box = xml.attributes().value(QStringLiteral("viewBox")).toString();
    ++elements[xml.name().toString()];
    if (xml.name() == QStringLiteral("text")) text += xml.readElementText(QXmlStreamReader::IncludeChildElements);
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_EQ(box, QStringLiteral("0 0 1128 863"));  // 902 x 690 at 1.25
  EXPECT_GT(elements[QStringLiteral("circle")], 100);            // the individuals on the map
  EXPECT_TRUE(text.contains(QStringLiteral("Generation:")));     // the status view
  EXPECT_TRUE(text.contains(QStringLiteral("MATING PREFERENCES")));  // the graphs
  EXPECT_TRUE(text.contains(QStringLiteral("50 GENERATIONS")));  // the time plot
}

TEST_F(QtDesktopTest, TheWindowShrinksBelowItsOpeningSizeAndTheViewsKeepTheirShare) {
  // Opened at the views' natural size, the window can be made half as
  // wide and three fifths as high; every view is then drawn
  // smaller, none below a quarter, and the map keeps a share like the
  // others'.
  window.resize(window.sizeHint());
  QCoreApplication::processEvents();
  const QSize opening = window.size();
  EXPECT_EQ(canvas.view(Port::View)->FitScale(), 1.0);
  EXPECT_EQ(canvas.view(Port::Time)->FitScale(), 1.0);
  const QSize small(std::max(opening.width() / 2, window.minimumWidth()), opening.height() * 3 / 5);
  EXPECT_LT(small.width(), opening.width() * 2 / 3);
  EXPECT_LT(window.minimumSizeHint().height(), small.height());
  window.resize(small);
  QCoreApplication::processEvents();
  EXPECT_EQ(window.size(), small);
  double smallest = 1.0;
  double largest = 0.0;
  for (Port port : {Port::View, Port::Text, Port::Graph, Port::Time}) {
    const double scale = canvas.view(port)->FitScale();
    EXPECT_GE(scale, 0.25) << static_cast<int>(port);
    EXPECT_LT(scale, 0.75) << static_cast<int>(port);
    smallest = std::min(smallest, scale);
    largest = std::max(largest, scale);
  }
  EXPECT_LE(largest, 2 * smallest);
  EXPECT_GE(canvas.view(Port::View)->FitScale(), 0.3);
}

TEST_F(QtDesktopTest, WindowFitsA1024x768ScreenAndOneOf800x600AfterEveryStatusMessage) {
  // A 1024x768 projector, and a 1600x1200 screen at scale 2 (800x600 of
  // the window's pixels). After each message the window is no wider than
  // the screen, and every seed, instruction and the data file's name are
  // there whole; a long folder gives way, the file's name never.
  for (const QSize room : {QSize(1024, 768), QSize(800, 600)}) {
    SCOPED_TRACE(room.width());
    window.FitToRoom(room);
    QCoreApplication::processEvents();
    auto expectFits = [&](const char* when) {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
      QCoreApplication::processEvents();
      EXPECT_LE(window.frameGeometry().width(), room.width()) << when;
      EXPECT_LE(window.minimumSizeHint().width(), room.width()) << when;
      for (const QLabel* label : {window.WholeFields()[1], window.WholeFields()[2]}) {
        EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance(label->text()))
            << when << ": " << label->text().toStdString();
      }
      // The instruction wraps onto a second line rather than being cut.
      const QLabel* activity = window.WholeFields()[0];
      EXPECT_GE(activity->height(), activity->heightForWidth(activity->width())) << when;
    };
    shell.SetSeeds(1796713109);
    platform.ShowActivity("Press the space bar to start generation 1");
    expectFits("start");
    EXPECT_TRUE(window.SeriesSeedText().contains(QStringLiteral("1796713109")));

    platform.ShowActivity(app::Shell::kExtinctPrompt);
    expectFits("extinction");
    EXPECT_EQ(window.ActivityText().toStdString(), app::Shell::kExtinctPrompt);

    platform.ShowSeeds(app::SeedStatus{1796713112, 1796713110, true, 1796713109, 4, 10, 1796713109});
    const QString longFolder =
        QStringLiteral("/home/teacher/Documents/biology/year-ten/habitat-experiments/autumn-term-2026");
    platform.ShowDataFileName((longFolder + QStringLiteral("/habitats-series-seven.txt")).toStdString());
    platform.ShowActivity("Series: replicate 4 of 10, habitats-series-seven.txt");
    expectFits("series in a long folder");
    EXPECT_TRUE(window.DataFileShown().endsWith(QStringLiteral("/habitats-series-seven.txt")))
        << window.DataFileShown().toStdString();
    EXPECT_TRUE(window.DataFileShown().startsWith(QStringLiteral("Data file: /"))) << window.DataFileShown().toStdString();

    platform.ShowSeeds(app::SeedStatus{1796713110, 1796713111, false, 1796713109, 1, 1, 1796713109});
    platform.ShowDataFileName("");
    platform.ShowDataFileNote("Series stopped: records kept in habitats-series-seven.txt.partial");
    platform.ShowActivity("Press the space bar to start generation 1");
    expectFits("after Restart");
    EXPECT_TRUE(window.DataFileShown().endsWith(QStringLiteral("habitats-series-seven.txt.partial")));
    EXPECT_TRUE(window.SeedText().contains(QStringLiteral("1796713110")));
  }
}

TEST_F(QtDesktopTest, ZoomInFromTheOpeningSizeEnlargesAndFitToWindowLeavesTheChartsTheirHeader) {
  // Opened on a 1280x720 screen, the views are drawn at the scale the docks
  // allow; Zoom In goes one step above that, whatever the zoom the opening
  // fit left. Fit to Window afterwards gives the Charts room for their
  // header in its smallest type.
  window.FitToRoom(QSize(1280, 720));
  QCoreApplication::processEvents();
  const double opening = canvas.view(Port::View)->FitScale();
  const int openingWidth = canvas.view(Port::View)->width();
  window.Zoom(+1);
  QCoreApplication::processEvents();
  EXPECT_GT(window.zoom(), opening);
  EXPECT_GT(canvas.view(Port::View)->sizeHint().width(), openingWidth);
  window.Zoom(app::Platform::kFitToWindow);
  QCoreApplication::processEvents();
  const ChartsView* charts = window.charts();
  CensusHistory history;
  GeneFrequencies census;
  census.count[0][0][0][0] = 640;
  census.count[1][1][1][1] = 640;
  for (long g = 1; g <= 20000; ++g) history.Add(g, census);
  QtChartsPainter measure;
  const app::ChartsHeader header =
      app::HeaderFor(app::ChartsLayout(charts->width(), charts->height(), measure), &history, measure);
  std::string joined;
  for (const std::string& line : header.lines) joined += (joined.empty() ? "" : "   ") + line;
  EXPECT_EQ(joined, "Generation 20000   Habitat 0: 640   Habitat 1: 640");
  for (const std::string& line : header.lines) {
    EXPECT_LE(measure.TextWidth(line, header.pixels, true) + 16, charts->width()) << line;
  }
}

TEST_F(QtDesktopTest, TextsAreWholeTheColourKeyTheGenerationAndTheChartsLabels) {
  QCoreApplication::processEvents();
  // The colour key of habitat specialization at the opening size of a
  // 1024x768 screen: every colour's meaning whole, on as many lines as it
  // takes.
  window.FitToRoom(QSize(1024, 768));
  platform.ShowMapKey(app::MapKeyFor(app::DisplayFlags{false, true, false, false}));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  QCoreApplication::processEvents();
  const auto* key = window.findChild<QLabel*>(QStringLiteral("mapKey"));
  ASSERT_NE(key, nullptr);
  EXPECT_GE(key->height(), key->heightForWidth(key->width()));
  for (const QString& line : key->toolTip().split(QLatin1Char('\n')).mid(1)) {
    // "2: not specialized" is shown as "2 not specialized".
    const QString shown = QString(line).replace(QStringLiteral(": "), QStringLiteral(" "));
    EXPECT_LE(key->fontMetrics().horizontalAdvance(QStringLiteral("\u25CF ") + shown), key->contentsRect().width())
        << shown.toStdString();
  }

  // The Status view's generation: at 350 for the menus' runs, moved left
  // as far as a larger number needs, never past the view's right edge.
  app::Views views(canvas, shell.display);
  for (const int generation : {5000, 20000, 1000000}) {
    views.ShowInfo("Dispersal", generation, false);
    canvas.SetPort(Port::Text);
    canvas.TextSize(32);
    canvas.TextFace(0);
    const std::string text = "Generation: " + std::to_string(generation);
    const int width = canvas.StringWidth(text);
    const QImage picture = canvas.Picture(Port::Text, 1.0);
    int left = 640, right = -1;
    for (int x = 0; x < picture.width(); ++x) {
      for (int y = 60; y < 95; ++y) {
        if (qGray(picture.pixel(x, y)) < 128) {
          left = std::min(left, x);
          right = std::max(right, x);
        }
      }
    }
    EXPECT_LT(right, 640) << generation;
    if (generation <= 5000) {
      EXPECT_GE(left, 350) << generation;
    } else {
      EXPECT_GE(right - left + 4, width - 4) << generation;  // the whole text, inked
      EXPECT_LT(left, 350) << generation;
    }
  }

  // The Charts of a long run whose criteria were all met at once: the last
  // tick label whole inside the view, none meeting another or "gen.", and
  // the criteria's letters side by side, none on another.
  CensusHistory history;
  GeneFrequencies census;
  census.count[0][0][0][0] = 300;
  census.count[1][1][1][1] = 300;
  for (long g = 1; g <= 20000; ++g) history.Add(g, census);
  QtChartsPainter measure;
  const app::ChartsLayout layout(460, 560, measure);
  const app::GenerationAxis axis(&history);
  const std::vector<app::AxisLabel> labels = app::GenerationLabels(layout, 0, axis, measure);
  ASSERT_GE(labels.size(), 3u);
  EXPECT_EQ(labels.front().text, "gen.");
  EXPECT_EQ(labels.back().text, "20000");
  for (std::size_t i = 0; i < labels.size(); ++i) {
    EXPECT_GE(labels[i].box.left, 0);
    EXPECT_LE(labels[i].box.right(), 460);
    EXPECT_GE(labels[i].box.width, measure.TextWidth(labels[i].text, 11, false)) << labels[i].text;
    if (i > 0) {
      EXPECT_LT(labels[i - 1].box.right(), labels[i].box.left) << labels[i].text;
    }
  }
  int letters = 0;
  for (int panel = 0; panel < kLoci; ++panel) {
    const std::vector<app::CriterionMarker> markers = app::CriterionMarkers(layout, panel, &history);
    for (std::size_t i = 0; i < markers.size(); ++i) {
      ++letters;
      EXPECT_GE(markers[i].box.left, layout.panels[static_cast<std::size_t>(panel)].left - 8);
      if (i > 0) {
        EXPECT_FALSE(markers[i - 1].box.Intersects(markers[i].box)) << panel;
      }
    }
  }
  EXPECT_EQ(letters, CensusHistory::kCriteria);
}

TEST_F(QtDesktopTest, ActualSizeIsPixelForPixelOnASmallScreenAndFitToWindowFitsAgain) {
  // On a 1280x720 screen the views open smaller than their natural size;
  // Actual Size draws them at scale 1 whatever room the docks have, Fit to
  // Window makes them fit again.
  window.FitToRoom(QSize(1280, 720));
  QCoreApplication::processEvents();
  EXPECT_LT(canvas.view(Port::View)->FitScale(), 1.0);
  window.Zoom(0);
  window.resize(window.minimumWidth(), 600);
  QCoreApplication::processEvents();
  for (Port port : {Port::View, Port::Text, Port::Graph, Port::Time}) {
    EXPECT_EQ(canvas.view(port)->FitScale(), 1.0) << static_cast<int>(port);
  }
  EXPECT_EQ(canvas.view(Port::Time)->size(), QSize(902, 160));
  window.Zoom(app::Platform::kFitToWindow);
  QCoreApplication::processEvents();
  EXPECT_LT(canvas.view(Port::View)->FitScale(), 1.0);
  EXPECT_TRUE(window.fitsWindow());
}

}  // namespace
}  // namespace talveron::gui
