// The desktop program's dialogs on Qt's offscreen platform: the settings
// dialog with its controls and scheduled changes, the base seed, About and
// the report of a fatal error.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/shell/settings_formulas.h"
#include "gui/settings_dialog.h"
#include "model/fatal_error.h"
#include "model/version.h"
#include "qt_desktop_test.h"

namespace talveron::gui {
namespace {

TEST_F(QtDesktopTest, SettingsDialogOpensAtTheControlValuesAndReturnsTheChoices) {
  // OK returns the controls as left; Cancel returns nothing changed.
  app::ControlValues values = app::OpeningValues(Parameters{});
  int openedSelection = 0;
  int dispersalItems = 0;
  Repeatedly choose([&] {
    auto* dialog = ModalDialog<SettingsDialog>();
    if (dialog == nullptr) return false;
    openedSelection = dialog->popUp(42)->currentIndex() + 1;
    dispersalItems = dialog->popUp(44)->count();
    dialog->popUp(44)->setCurrentIndex(3);
    dialog->checkBox(35)->setChecked(true);
    dialog->accept();
    return true;
  });
  ASSERT_TRUE(platform.RunSettingsDialog(values, {}, {}));
  EXPECT_EQ(openedSelection, 6);
  EXPECT_EQ(dispersalItems, 11);
  EXPECT_EQ(values[44], 4);
  EXPECT_EQ(values[35], 1);
  EXPECT_EQ(values[42], 6);

  const app::ControlValues before = values;
  Repeatedly cancel([&] {
    auto* dialog = ModalDialog<SettingsDialog>();
    if (dialog == nullptr) return false;
    dialog->checkBox(49)->setChecked(true);
    dialog->reject();
    return true;
  });
  EXPECT_FALSE(platform.RunSettingsDialog(values, {}, {}));
  EXPECT_EQ(values, before);
}

TEST_F(QtDesktopTest, SettingsDialogListsTheSettingsScheduledChanges) {
  // A settings file's changes show below the controls, a line per
  // generation, the earliest first; without changes the dialog says so.
  const auto shownChanges = [&] {
    QString shown;
    Repeatedly read([&] {
      auto* dialog = ModalDialog<SettingsDialog>();
      if (dialog == nullptr) return false;
      shown = dialog->findChild<QLabel*>(QStringLiteral("scheduledChanges"))->text();
      dialog->reject();
      return true;
    });
    shell.GetSettings();
    return shown.toStdString();
  };
  EXPECT_EQ(shownChanges(), "No changes during the run");

  const std::filesystem::path settings = folder.path() / "contact.toml";
  std::ofstream(settings) << "generations = 3000\n"
                             "[[change]]\ngeneration = 2001\nset = { natalDispersalRate = 10, matingDispersalRate = 20 }\n"
                             "[[change]]\ngeneration = 500\nset = { selectionFactor = 0.5 }\n";
  ASSERT_FALSE(shell.OpenSettingsFile(settings.string()).has_value());
  EXPECT_EQ(shownChanges(),
            "Generation 500: selectionFactor = 0.5\n"
            "Generation 2001: natalDispersalRate = 10, matingDispersalRate = 20");
}

TEST_F(QtDesktopTest, BaseSeedDialogTakesAWholeNumber) {
  // The seed typed becomes the seed of the next replicate, shown at once.
  platform.action(129, app::kBaseSeedItem)->trigger();
  Repeatedly typeSeed([&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return false;
    dialog->findChild<QLineEdit*>(QStringLiteral("seedEdit"))
        ->setText(QStringLiteral("18446744073709551615"));
    dialog->accept();
    return true;
  });
  const auto event = platform.WaitNextEvent(1);
  ASSERT_TRUE(event.has_value());
  shell.DoEvent(*event);
  EXPECT_EQ(shell.NextSeed(), 18446744073709551615u);
  EXPECT_TRUE(window.SeedText().contains(QStringLiteral("18446744073709551615")));
}

TEST_F(QtDesktopTest, AboutShowsTheProgramsVersion) {
  // The version of the build, as the batch command reports it.
  const QString version = QString::fromLatin1(kTalveronVersion.data(), static_cast<qsizetype>(kTalveronVersion.size()));
  ASSERT_FALSE(version.isEmpty());
  EXPECT_EQ(QtPlatform::Version(), version);
  QString shown;
  Repeatedly read([&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return false;
    shown = box->text();
    box->accept();
    return true;
  });
  platform.ShowAboutBox();
  EXPECT_TRUE(shown.contains(QStringLiteral("Talveron ") + version)) << shown.toStdString();
}

TEST_F(QtDesktopTest, FatalErrorShowsFourLinesUntilAKeyOrAClick) {
  // The report goes to standard output and into a dialog that a key, or a
  // click, closes.
  const std::string report = FatalErrorReport("Out of memory!");
  for (bool key : {true, false}) {
    QString shown;
    Repeatedly acknowledge([&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return false;
      shown = dialog->findChild<QLabel*>(QStringLiteral("fatalErrorReport"))->text();
      if (key) {
        PressKey(dialog, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
      } else {
        QCoreApplication::postEvent(
            dialog, new QMouseEvent(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                                    Qt::LeftButton, Qt::NoModifier));
      }
      return true;
    });
    testing::internal::CaptureStdout();
    platform.ShowFatalError(report);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), report);
    EXPECT_EQ(shown, QStringLiteral("A fatal error has occurred!\nOut of memory!\n\n"
                                    "***  Push any key or click the mouse to quit.  ***"));
  }
}

}  // namespace
}  // namespace talveron::gui
