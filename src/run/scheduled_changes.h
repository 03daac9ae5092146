// Scheduled changes in settings files and studies: the names by which a
// study varies a change ("change.N.generation", "change.N.NAME") and the
// schedule of one cell.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model/parameter_schedule.h"
#include "run/settings_file.h"

namespace talveron {

// A varied name that starts with "change.".
bool IsChangeAxis(std::string_view name);

struct ChangeAxis {
  std::size_t change = 0;  // index of the [[change]] table, from 0
  std::string parameter;   // empty: the change's generation
  std::string error;       // non-empty: the name is not allowed, and why
};
// Reads "change.N.generation" or "change.N.NAME" of a file with `changes`
// [[change]] tables.
ChangeAxis ParseChangeAxis(std::string_view name, std::size_t changes);

// The changes of a study's cell: the file's, with the cell's values of the
// varied change axes. Throws SettingsFileError when two changes of the cell
// set one parameter at one generation.
ParameterSchedule CellChanges(const ParameterSchedule& file, const std::vector<StudyAxis>& vary,
                              const std::vector<std::string>& values);

}  // namespace talveron
