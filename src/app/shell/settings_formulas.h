// The settings dialog's controls and the formulas between each control's
// value and its model parameter, in both directions. A pop-up's value is its
// chosen item, counted from 1; a check box's is 0 or 1.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/shell/platform.h"
#include "model/parameter_schedule.h"
#include "model/parameters.h"

namespace talveron::app {

enum class ControlKind { PopUp, CheckBox };

struct SettingsControl {
  int item;  // the dialog item number
  ControlKind kind;
  std::string_view parameter;  // the parameter it sets, as named in Parameters
  std::string_view label;      // what the dialog shows beside it
  int popUpItems;              // pop-ups: the items 1..popUpItems offered; 0 for check boxes
};

// Every control of the dialog, in item order. The pop-up ranges keep each
// formula within its parameter's meaning: mutation rates 10 to 10,000,
// at most 12 offspring, a false-alarm payoff and an environmental period of
// at least 1, a density of 1 to 8 eighths, rates of 0 to 100 per cent.
std::span<const SettingsControl> SettingsControls();
const SettingsControl* FindSettingsControl(int item);

// The control value a parameter opens the dialog with.
int OpeningValue(int item, const Parameters& params);
// Sets the item's parameter from a control value, as OK does.
void ApplyControl(int item, int value, Parameters& params);

// Every control's opening value.
ControlValues OpeningValues(const Parameters& params);
// OK: applies every control of the table, in item order.
void UpdateSettings(const ControlValues& values, Parameters& params);

// The pop-ups whose parameter holds a value none of their items gives back
// (10000 generations between environmental changes, a value read from a
// settings file): the value in force as text.
InForceTexts InForceValues(const Parameters& params);
// What the dialog opens at: the opening values, with 0 for each pop-up of
// `inForce`.
ControlValues DialogValues(const Parameters& params, const InForceTexts& inForce);
// OK as the user means it: a control left at the value it opened with
// leaves its parameter as it was; the others are applied in item order.
void ApplyChangedControls(const ControlValues& opened, const ControlValues& left, Parameters& params);

// The text of one pop-up item: the parameter value that item stands for
// ("0.3", "20 %", "1 in 1000", ...).
std::string PopUpItemText(int item, int value);

// The settings' scheduled changes as the Settings dialog lists them, one
// line per generation, the earliest first:
// "Generation 2001: natalDispersalRate = 10, matingDispersalRate = 10";
// the one line "No changes during the run" when there are none.
std::vector<std::string> ScheduledChangeLines(const ParameterSchedule& changes);

}  // namespace talveron::app
