#include "run/scheduled_changes.h"

#include <map>
#include <utility>

namespace talveron {

bool IsChangeAxis(std::string_view name) { return name.rfind("change.", 0) == 0; }

ChangeAxis ParseChangeAxis(std::string_view name, std::size_t changes) {
  ChangeAxis axis;
  const std::string form = "a change is varied as change.N.generation or change.N.NAME, N from 1 to the number "
                           "of [[change]] tables (" + std::to_string(changes) + ")";
  const std::string_view rest = name.substr(std::string_view("change.").size());
  const std::size_t dot = rest.find('.');
  const auto number = ReadWholeNumber<std::size_t>(rest.substr(0, dot), 1, changes);
  if (dot == std::string_view::npos || !number) {
    axis.error = form;
    return axis;
  }
  axis.change = *number - 1;
  const std::string_view what = rest.substr(dot + 1);
  if (what != "generation") {
    if (FindParameter(what) == nullptr) {
      axis.error = "unknown parameter '" + std::string(what) + "' (see talveron-batch --help)";
      return axis;
    }
    axis.parameter = std::string(what);
  }
  return axis;
}

ParameterSchedule CellChanges(const ParameterSchedule& file, const std::vector<StudyAxis>& vary,
                              const std::vector<std::string>& values) {
  if (file.empty()) return file;
  const auto changes = file.changes();
  std::vector<long long> generations;
  std::vector<std::map<std::string, std::string>> settings;
  for (const ParameterChange& change : changes) {
    generations.push_back(change.generation);
    std::map<std::string, std::string> set;
    for (auto& [name, value] : ChangedValues(change)) set[name] = value;
    settings.push_back(std::move(set));
  }
  for (std::size_t a = 0; a < vary.size() && a < values.size(); ++a) {
    if (!IsChangeAxis(vary[a].name)) continue;
    const ChangeAxis axis = ParseChangeAxis(vary[a].name, changes.size());
    if (!axis.error.empty()) throw SettingsFileError(vary[a].name + ": " + axis.error);
    if (axis.parameter.empty()) {
      generations[axis.change] = std::stoll(values[a]);
    } else {
      settings[axis.change][axis.parameter] = values[a];
    }
  }
  // The table's order of parameters, as in the file's own changes.
  ParameterSchedule schedule;
  for (std::size_t c = 0; c < changes.size(); ++c) {
    for (const ParameterInfo& info : ParameterTable()) {
      const auto found = settings[c].find(std::string(info.name));
      if (found == settings[c].end()) continue;
      if (auto error = schedule.Add(generations[c], found->first, found->second)) throw SettingsFileError(*error);
    }
  }
  return schedule;
}

}  // namespace talveron
