// The settings of the interactive program: the dialog's OK and Cancel
// through the menus, the formulas between its controls and the parameters,
// and a settings file's scheduled changes in a series from the menus.
#include "app/shell/settings_formulas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "desktop_test.h"

namespace talveron::app {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// The settings dialog

TEST_F(DesktopTest, SettingsOkWithoutChangesLeavesEveryParameter) {
  // The dialog opens at the documented items, but for the period 10000,
  // which no item gives: it is offered as the value in force. OK untouched
  // changes nothing; choosing an item of that pop-up applies it.
  platform.settingsAnswers.push_back([](ControlValues&) { return true; });
  Choose(129, 7);
  ASSERT_EQ(platform.settingsOpenedWith.size(), 1u);
  const ControlValues expected = {{30, 3}, {31, 2}, {33, 0}, {34, 0}, {35, 0}, {36, 1}, {37, 1}, {38, 1},
                                  {39, 1}, {40, 1}, {41, 1}, {42, 6}, {43, 0}, {44, 1}, {45, 0}, {46, 1},
                                  {47, 0}, {48, 1}, {49, 0}, {50, 0}, {55, 0}, {57, 0}};
  EXPECT_EQ(platform.settingsOpenedWith[0], expected);
  EXPECT_EQ(platform.settingsInForce[0], (InForceTexts{{47, "10000"}}));
  EXPECT_EQ(FormatAll(shell.world.params), FormatAll(Parameters{}));

  platform.settingsAnswers.push_back([](ControlValues& values) {
    values[47] = 3;
    return true;
  });
  Choose(129, 7);
  EXPECT_EQ(shell.world.params.gGenerationsToEnvironmentalChange, 500);
}

TEST_F(DesktopTest, SettingsCancelChangesNothing) {
  // Check boxes toggled and pop-ups moved, then Cancel.
  platform.settingsAnswers.push_back([](ControlValues& values) {
    values[35] = 1;
    values[49] = 1;
    values[42] = 2;
    return false;
  });
  Choose(129, 7);
  EXPECT_EQ(FormatAll(shell.world.params), FormatAll(Parameters{}));
}

TEST_F(DesktopTest, SettingsOkAppliesTheControls) {
  // Every kind of control, through the dialog's OK.
  platform.settingsAnswers.push_back([](ControlValues& values) {
    values[44] = 4;   // natal dispersal 30 per cent
    values[38] = 11;  // false alarms 100 per cent
    values[48] = 3;   // viability factor 0.8
    values[43] = 1;   // restricted natal dispersal
    values[30] = 11;  // twelve offspring
    return true;
  });
  Choose(129, 7);
  const Parameters& p = shell.world.params;
  EXPECT_EQ(p.natalDispersalRate, 30);
  EXPECT_EQ(p.gFalseAlarmRate, 100);
  EXPECT_FLOAT_EQ(p.gViabilityFactor, 0.8f);
  EXPECT_TRUE(p.restrictedNatalDispersal);
  EXPECT_EQ(p.numberOfKids, 12);
}

// ---------------------------------------------------------------------------
// Settings formulas

TEST(SettingsFormulas, DocumentedEdgeCasesBothWays) {
  // The dialog's edge cases, opening and OK.
  Parameters p;
  p.natalDispersalRate = 30;
  EXPECT_EQ(OpeningValue(44, p), 4);
  ApplyControl(44, 4, p);
  EXPECT_EQ(p.natalDispersalRate, 30);

  EXPECT_EQ(OpeningValue(42, Parameters{}), 6);
  ApplyControl(42, 6, p);
  EXPECT_FLOAT_EQ(p.selectionFactor, 0.5f);
  ApplyControl(42, 1, p);
  EXPECT_EQ(p.selectionFactor, 0.0f);

  EXPECT_EQ(OpeningValue(48, Parameters{}), 1);
  ApplyControl(48, 3, p);
  EXPECT_FLOAT_EQ(p.gViabilityFactor, 0.8f);

  EXPECT_EQ(OpeningValue(47, Parameters{}), 4);
  ApplyControl(47, 4, p);
  EXPECT_EQ(p.gGenerationsToEnvironmentalChange, 5000);
  EXPECT_EQ(OpeningValue(31, Parameters{}), 2);
  EXPECT_EQ(OpeningValue(30, Parameters{}), 3);
}

TEST(SettingsFormulas, DetectionRatesCoverZeroToHundredPerCentInTens) {
  // Items 38 and 39 take the dispersal rates' formulas: item k is
  // 10 * (k - 1) per cent, and a rate opens at rate / 10 + 1.
  for (int item : {38, 39}) {
    for (int v = 1; v <= 11; ++v) {
      Parameters p;
      ApplyControl(item, v, p);
      const int rate = item == 38 ? p.gFalseAlarmRate : p.gMissedDetectionRate;
      EXPECT_EQ(rate, 10 * (v - 1)) << item;
      EXPECT_EQ(OpeningValue(item, p), v) << item;
    }
    Parameters p;
    (item == 38 ? p.gFalseAlarmRate : p.gMissedDetectionRate) = 35;
    EXPECT_EQ(OpeningValue(item, p), 4);
  }
  EXPECT_EQ(PopUpItemText(38, 11), "100 %");
}

TEST(SettingsFormulas, EveryPopUpItemReopensAtItself) {
  // OK then opening again gives the same item, for every item of every
  // pop-up and both states of every check box: the single-precision
  // opening formulas included.
  for (const SettingsControl& control : SettingsControls()) {
    const int first = control.kind == ControlKind::PopUp ? 1 : 0;
    const int last = control.kind == ControlKind::PopUp ? control.popUpItems : 1;
    for (int v = first; v <= last; ++v) {
      Parameters p;
      ApplyControl(control.item, v, p);
      EXPECT_EQ(OpeningValue(control.item, p), v) << "item " << control.item << " value " << v;
    }
  }
}

TEST(SettingsFormulas, PopUpsOfferOnlyMeaningfulValues) {
  // Every value a pop-up offers lies within its parameter's allowed range,
  // with mutation rates up to 10,000 and at most 12 offspring.
  for (const SettingsControl& control : SettingsControls()) {
    const ParameterInfo* info = FindParameter(control.parameter);
    ASSERT_NE(info, nullptr) << control.parameter;
    const int last = control.kind == ControlKind::PopUp ? control.popUpItems : 1;
    for (int v = control.kind == ControlKind::PopUp ? 1 : 0; v <= last; ++v) {
      Parameters p;
      ApplyControl(control.item, v, p);
      const double value = std::stod(FormatParameter(p, *info));
      EXPECT_GE(value, info->minimum) << control.parameter << " item " << v;
      EXPECT_LE(value, info->maximum) << control.parameter << " item " << v;
    }
  }
  Parameters p;
  ApplyControl(31, FindSettingsControl(31)->popUpItems, p);
  EXPECT_EQ(p.mutationRate, 10000);
  ApplyControl(30, FindSettingsControl(30)->popUpItems, p);
  EXPECT_EQ(p.numberOfKids, 12);
  ApplyControl(41, FindSettingsControl(41)->popUpItems, p);
  EXPECT_EQ(p.density, 8);
}

TEST(SettingsFormulas, OkAppliesOnlyTheItemsOfTheTable) {
  // Static items (here 32 and 60) are read and ignored.
  Parameters p;
  ControlValues values = OpeningValues(p);
  values[32] = 7;
  values[60] = 9;
  values[41] = 8;
  UpdateSettings(values, p);
  EXPECT_EQ(p.density, 8);
  EXPECT_EQ(p.numberOfKids, 4);
}

// ---------------------------------------------------------------------------
// A settings file's scheduled changes

TEST(DesktopScheduledChanges, ASettingsFilesChangesRunAsInTheBatchCommand) {
  // A settings file's change runs in every replicate of a series from the
  // menus, with the batch command's bytes; the status bar says when it
  // takes effect, and the copied command and saved settings carry it.
  test_support::TempFolder dir("desktop-changes");
  const fs::path settings = dir.path() / "contact.toml";
  std::ofstream(settings) << "replicates = 2\ngenerations = 20\n[set]\nrestrictedNatalDispersal = true\n"
                             "[[change]]\ngeneration = 11\nset = { natalDispersalRate = 40, selectionFactor = 0.9 }\n";
  const std::string desktop = SeriesFromMenus(dir.path() / "desktop.txt", [&](HeadlessPlatform& p) {
    p.settingsPaths.push_back(settings.string());
    p.PostMenu(129, kOpenSettingsItem);
  });
  EXPECT_EQ(desktop, BatchFile(dir.path() / "batch.txt",
                               "--seed 4242 --replicates 2 --generations 20 --set restrictedNatalDispersal=1 "
                               "--change 11:natalDispersalRate=40 --change 11:selectionFactor=0.9"));
  EXPECT_NE(desktop, BatchFile(dir.path() / "unchanged.txt",
                               "--seed 4242 --replicates 2 --generations 20 --set restrictedNatalDispersal=1"));

  HeadlessPlatform platform;
  RecordingCanvas canvas;
  Shell shell(platform, canvas, kLaunchSeed);
  shell.MenuBarInit();
  ASSERT_FALSE(shell.OpenSettingsFile(settings.string()).has_value());
  shell.GetSettings();
  EXPECT_EQ(platform.settingsChanges.back(),
            std::vector<std::string>{"Generation 11: selectionFactor = 0.9, natalDispersalRate = 40"});
  EXPECT_NE(shell.BatchCommand().find(" --change 11:selectionFactor=0.9 --change 11:natalDispersalRate=40 "),
            std::string::npos)
      << shell.BatchCommand();
  shell.world.gGenerationNumber = 11;
  shell.ApplyScheduledChange();
  EXPECT_EQ(platform.note, "Generation 11: selectionFactor=0.9, natalDispersalRate=40 from now on (settings' change)");
  EXPECT_EQ(shell.world.params.natalDispersalRate, 40);
  // The settings keep their own values while the change is in force.
  EXPECT_EQ(shell.CurrentSettings().params.natalDispersalRate, 0);
  EXPECT_NE(SettingsFileText(shell.CurrentSettings())
                .find("[[change]]\ngeneration = 11\nset = { selectionFactor = 0.9, natalDispersalRate = 40 }\n"),
            std::string::npos);
  const fs::path late = dir.path() / "late.toml";
  std::ofstream(late) << "generations = 20\n[[change]]\ngeneration = 21\nset = { density = 2 }\n";
  const auto refused = shell.OpenSettingsFile(late.string());
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->find("change at generation 21: it comes after the last generation, 20"), std::string::npos);
}

}  // namespace
}  // namespace talveron::app
