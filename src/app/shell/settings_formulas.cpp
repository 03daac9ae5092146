#include "app/shell/settings_formulas.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace talveron::app {

namespace {

constexpr SettingsControl kControls[] = {
    {30, ControlKind::PopUp, "numberOfKids", "Offspring per mating", 11},
    {31, ControlKind::PopUp, "mutationRate", "Mutation rate per locus", 4},
    {33, ControlKind::CheckBox, "gIncludeSignalValue", "Signal strength and mating threshold mutate", 0},
    {34, ControlKind::CheckBox, "gIncludeGeneralViability",
     "General viability locus mutates and counts in mate choice", 0},
    {35, ControlKind::CheckBox, "gMalesMateOnce", "Males mate only once", 0},
    {36, ControlKind::PopUp, "gMatingPrefTarget", "Females judge the male's", 3},
    {37, ControlKind::PopUp, "gSearchCost", "Search cost (chance of dying per male met)", 11},
    {38, ControlKind::PopUp, "gFalseAlarmRate", "False alarm rate", 11},
    {39, ControlKind::PopUp, "gMissedDetectionRate", "Missed detection rate", 11},
    {40, ControlKind::PopUp, "gFalseAlarmPayoff", "False alarm payoff (brood divided by)", 10},
    {41, ControlKind::PopUp, "density", "Founding density (eighths of the cells)", 8},
    {42, ControlKind::PopUp, "selectionFactor", "Habitat selection factor", 11},
    {43, ControlKind::CheckBox, "restrictedNatalDispersal", "Restricted natal dispersal", 0},
    {44, ControlKind::PopUp, "natalDispersalRate", "Natal dispersal rate", 11},
    {45, ControlKind::CheckBox, "restrictedMatingDispersal", "Restricted mating dispersal", 0},
    {46, ControlKind::PopUp, "matingDispersalRate", "Mating dispersal rate", 11},
    {47, ControlKind::PopUp, "gGenerationsToEnvironmentalChange", "Generations between environmental changes",
     7},
    {48, ControlKind::PopUp, "gViabilityFactor", "Viability factor in the matching environment", 11},
    {49, ControlKind::CheckBox, "initiallyOneHabitat", "Found the population in the left habitat only", 0},
    {50, ControlKind::CheckBox, "gIncludeNeutralGenes", "Neutral genes mutate", 0},
    {55, ControlKind::CheckBox, "asymmetricalNatalDispersal",
     "Asymmetrical natal dispersal (left to right only)", 0},
    {57, ControlKind::CheckBox, "asymmetricalMatingDispersal", "Asymmetrical mating dispersal", 0},
};

std::int16_t Short(long value) { return static_cast<std::int16_t>(value); }

// Tenths from a control value: (v - 1) * 0.1 in double, stored in single.
float Tenths(int value) { return static_cast<float>((value - 1) * 0.1); }

// The opening formula of the tenths pop-ups, in single precision:
// the integer part of x * 10 + 1.
int TenthsItem(float x) {
  const float item = x * 10.0f + 1.0f;
  return static_cast<int>(item);
}

// Dispersal and detection rates: 10 * v - 10 per cent on OK, rate / 10 + 1 on
// opening, so eleven items cover 0 to 100 per cent in steps of ten.
std::int16_t PercentFromItem(int value) { return Short(10L * value - 10); }
int ItemFromPercent(std::int16_t rate) { return rate / 10 + 1; }

int Flag(bool flag) { return flag ? 1 : 0; }

std::string Decimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

std::span<const SettingsControl> SettingsControls() { return kControls; }

const SettingsControl* FindSettingsControl(int item) {
  for (const SettingsControl& control : kControls) {
    if (control.item == item) return &control;
  }
  return nullptr;
}

// The two directions side by side with the dialog's item table, one item a
// line.
// clang-format off
int OpeningValue(int item, const Parameters& p) {
  switch (item) {
    case 30: return p.numberOfKids - 1;
    case 31: return p.mutationRate < 1 ? 0 : static_cast<int>(std::log10(static_cast<double>(p.mutationRate)));
    case 33: return Flag(p.gIncludeSignalValue);
    case 34: return Flag(p.gIncludeGeneralViability);
    case 35: return Flag(p.gMalesMateOnce);
    case 36: return p.gMatingPrefTarget + 1;
    case 37: return TenthsItem(p.gSearchCost);
    case 38: return ItemFromPercent(p.gFalseAlarmRate);
    case 39: return ItemFromPercent(p.gMissedDetectionRate);
    case 40: return p.gFalseAlarmPayoff;
    case 41: return p.density;
    case 42: return TenthsItem(p.selectionFactor);
    case 43: return Flag(p.restrictedNatalDispersal);
    case 44: return ItemFromPercent(p.natalDispersalRate);
    case 45: return Flag(p.restrictedMatingDispersal);
    case 46: return ItemFromPercent(p.matingDispersalRate);
    case 47: {
      const double twice = 2.0 * static_cast<double>(p.gGenerationsToEnvironmentalChange);
      return twice < 1.0 ? 0 : static_cast<int>(std::log10(twice));
    }
    case 48: return TenthsItem(1.0f - p.gViabilityFactor);
    case 49: return Flag(p.initiallyOneHabitat);
    case 50: return Flag(p.gIncludeNeutralGenes);
    case 55: return Flag(p.asymmetricalNatalDispersal);
    case 57: return Flag(p.asymmetricalMatingDispersal);
    default: return 0;
  }
}

void ApplyControl(int item, int v, Parameters& p) {
  switch (item) {
    case 30: p.numberOfKids = Short(v + 1); break;
    case 31: p.mutationRate = Short(static_cast<long>(std::pow(10.0, v))); break;
    case 33: p.gIncludeSignalValue = v != 0; break;
    case 34: p.gIncludeGeneralViability = v != 0; break;
    case 35: p.gMalesMateOnce = v != 0; break;
    case 36: p.gMatingPrefTarget = Short(v - 1); break;
    case 37: p.gSearchCost = Tenths(v); break;
    case 38: p.gFalseAlarmRate = PercentFromItem(v); break;
    case 39: p.gMissedDetectionRate = PercentFromItem(v); break;
    case 40: p.gFalseAlarmPayoff = Short(v); break;
    case 41: p.density = Short(v); break;
    case 42: p.selectionFactor = Tenths(v); break;
    case 43: p.restrictedNatalDispersal = v != 0; break;
    case 44: p.natalDispersalRate = PercentFromItem(v); break;
    case 45: p.restrictedMatingDispersal = v != 0; break;
    case 46: p.matingDispersalRate = PercentFromItem(v); break;
    case 47:
      p.gGenerationsToEnvironmentalChange =
          static_cast<std::int32_t>(std::pow(10.0, v) * 0.5);
      break;
    case 48: p.gViabilityFactor = static_cast<float>(1.0 - 0.1 * (v - 1)); break;
    case 49: p.initiallyOneHabitat = v != 0; break;
    case 50: p.gIncludeNeutralGenes = v != 0; break;
    case 55: p.asymmetricalNatalDispersal = v != 0; break;
    case 57: p.asymmetricalMatingDispersal = v != 0; break;
    default: break;  // static text and decoration
  }
}
// clang-format on

ControlValues OpeningValues(const Parameters& params) {
  ControlValues values;
  for (const SettingsControl& control : kControls) {
    values[control.item] = OpeningValue(control.item, params);
  }
  return values;
}

void UpdateSettings(const ControlValues& values, Parameters& params) {
  for (int item = 30; item <= 60; ++item) {
    const auto found = values.find(item);
    if (found != values.end()) ApplyControl(item, found->second, params);
  }
}

InForceTexts InForceValues(const Parameters& params) {
  InForceTexts inForce;
  for (const SettingsControl& control : kControls) {
    if (control.kind != ControlKind::PopUp) continue;
    const ParameterInfo* info = FindParameter(control.parameter);
    if (info == nullptr) continue;
    const int value = OpeningValue(control.item, params);
    Parameters reopened = params;
    ApplyControl(control.item, value, reopened);
    const std::string current = FormatParameter(params, *info);
    if (value < 1 || value > control.popUpItems || FormatParameter(reopened, *info) != current) {
      inForce[control.item] = current;
    }
  }
  return inForce;
}

ControlValues DialogValues(const Parameters& params, const InForceTexts& inForce) {
  ControlValues values = OpeningValues(params);
  for (const auto& [item, text] : inForce) values[item] = 0;
  return values;
}

void ApplyChangedControls(const ControlValues& opened, const ControlValues& left, Parameters& params) {
  for (const auto& [item, value] : left) {
    const auto before = opened.find(item);
    if (before != opened.end() && before->second == value) continue;
    if (value == 0 && FindSettingsControl(item) != nullptr &&
        FindSettingsControl(item)->kind == ControlKind::PopUp) {
      continue;  // the value in force, chosen again
    }
    ApplyControl(item, value, params);
  }
}

std::string PopUpItemText(int item, int value) {
  Parameters p;
  ApplyControl(item, value, p);
  switch (item) {
    case 30:
      return std::to_string(p.numberOfKids);
    case 31:
      return "1 in " + std::to_string(p.mutationRate);
    case 36: {
      static constexpr const char* kTraits[] = {"mating preference type", "habitat specialization",
                                                "signal type"};
      return p.gMatingPrefTarget >= 0 && p.gMatingPrefTarget < 3 ? kTraits[p.gMatingPrefTarget]
                                                                 : std::to_string(p.gMatingPrefTarget);
    }
    case 37:
      return Decimal(p.gSearchCost);
    case 38:
      return std::to_string(p.gFalseAlarmRate) + " %";
    case 39:
      return std::to_string(p.gMissedDetectionRate) + " %";
    case 40:
      return std::to_string(p.gFalseAlarmPayoff);
    case 41:
      return std::to_string(p.density) + "/8";
    case 42:
      return Decimal(p.selectionFactor);
    case 44:
      return std::to_string(p.natalDispersalRate) + " %";
    case 46:
      return std::to_string(p.matingDispersalRate) + " %";
    case 47:
      return std::to_string(p.gGenerationsToEnvironmentalChange);
    case 48:
      return Decimal(p.gViabilityFactor);
    default:
      return std::to_string(value);
  }
}

std::vector<std::string> ScheduledChangeLines(const ParameterSchedule& changes) {
  if (changes.empty()) return {"No changes during the run"};
  std::vector<const ParameterChange*> byGeneration;
  for (const ParameterChange& change : changes.changes()) byGeneration.push_back(&change);
  std::stable_sort(byGeneration.begin(), byGeneration.end(),
                   [](const ParameterChange* a, const ParameterChange* b) { return a->generation < b->generation; });
  std::vector<std::string> lines;
  for (const ParameterChange* change : byGeneration) {
    std::string line = "Generation " + std::to_string(change->generation) + ":";
    const char* separator = " ";
    for (const auto& [name, value] : ChangedValues(*change)) {
      line += separator + name + " = " + value;
      separator = ", ";
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace talveron::app
