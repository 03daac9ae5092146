// What the user sets, kept and reused: settings files that the batch
// command reads too, the batch command line of the current settings, and
// the picture of the views.
#include <filesystem>
#include <fstream>

#include "app/shell/shell.h"
#include "run/settings_file.h"

namespace talveron::app {

namespace {

constexpr long kSpans[] = {10, 20, 50, 100};
constexpr long kReplicateCounts[] = {1, 2, 5, 10, 50, 100, 500, 1000};
constexpr long kGenerationCounts[] = {5, 20, 50, 100, 200, 500, 1000, 2000, 5000};

// The item of a count submenu that stands for `value`; 0 when none does.
template <std::size_t N>
int ItemOf(const long (&counts)[N], long value) {
  for (std::size_t i = 0; i < N; ++i) {
    if (counts[i] == value) return static_cast<int>(i + 1);
  }
  return 0;
}

}  // namespace

// The series the next Run Replicates starts: its base seed, and the counts,
// recording and parameters in force.
SeriesSettings Shell::CurrentSettings() const {
  SeriesSettings settings;
  settings.seed = seriesSeed_;
  settings.replicates = gTotalReplicates;
  settings.generations = gTotalGenerations;
  settings.recording = recorder.choices;
  settings.params = beforeChanges_ ? *beforeChanges_ : world.params;
  settings.changes = changes_;
  return settings;
}

void Shell::ApplySettings(const SeriesSettings& settings) {
  world.params = settings.params;
  changes_ = settings.changes;
  beforeChanges_.reset();
  gTotalReplicates = settings.replicates;
  gTotalGenerations = settings.generations;
  recorder.choices = settings.recording;

  const long span = recorder.choices.gAveragingSpan;
  CheckCount(kReplicatesMenu, kExtraReplicatesItem, ItemOf(kReplicateCounts, gTotalReplicates), gTotalReplicates,
             std::to_string(gTotalReplicates));
  CheckCount(kGenerationsMenu, kExtraGenerationsItem, ItemOf(kGenerationCounts, gTotalGenerations),
             gTotalGenerations, std::to_string(gTotalGenerations));
  CheckCount(kAveragingSpanMenu, kExtraSpanItem, ItemOf(kSpans, span), span,
             std::to_string(span) + " Generations");
  const RecordingChoices& c = recorder.choices;
  Check(kDataFileMenu, 7, c.gGetTimedCriteria);
  Check(kAveragedVariablesMenu, 1, !c.gGetTimedCriteria);
  Check(kAveragedVariablesMenu, 2, c.gGetAverageLeftHabitatTotal);
  Check(kAveragedVariablesMenu, 3, c.gGetAveragedLeftHabitatPreference);
  Check(kAveragedVariablesMenu, 4, c.gGetAverageLeftHabitatSpecialization);
  Check(kAveragedVariablesMenu, 5, c.gGetAverageLeftHabitatMatingPreference);
  if (settings.seed) {
    SetSeeds(*settings.seed);
  } else {
    UpdateSeeds();
  }
}

// A submenu checks the item of its count; a count it does not offer is
// shown, checked, as its extra item, until another count is chosen.
void Shell::CheckCount(int menu, int extraItem, int chosen, long count, const std::string& text) {
  if (chosen == 0) {
    extraCounts_[menu] = count;
    platform_.SetMenuItemText(menu, extraItem, text + " (settings file)");
    chosen = extraItem;
  }
  for (int item = 1; item <= extraItem; ++item) Check(menu, item, item == chosen);
}

std::optional<std::string> Shell::OpenSettingsFile(const std::string& path) {
  if (runReplicates) return "A series is running: settings can be opened when it has ended.";
  try {
    const SettingsFile file = ReadSettingsFile(path);
    if (!file.vary.empty()) {
      return path + " describes a study of several series ([vary]); run it with talveron-batch.";
    }
    if (auto late = file.settings.changes.CheckWithin(file.settings.generations)) return path + ": " + *late;
    ApplySettings(file.settings);
  } catch (const SettingsFileError& error) {
    return std::string(error.what());
  }
  return std::nullopt;
}

void Shell::OpenSettings() {
  while (const std::optional<std::string> path = platform_.AskSettingsPath(false)) {
    const std::optional<std::string> failure = OpenSettingsFile(*path);
    if (!failure) return;
    platform_.ShowNotice(*failure);
    if (runReplicates) return;
  }
}

void Shell::SaveSettings() {
  while (const std::optional<std::string> path = platform_.AskSettingsPath(true)) {
    std::ofstream out(*path, std::ios::binary | std::ios::trunc);
    out << SettingsFileText(CurrentSettings());
    out.close();
    if (out) return;
    platform_.ShowNotice("The settings cannot be written to " + *path + ". Choose another place or name.");
  }
}

// A change at generation G applies before the Reproduction of G, as in
// the batch command; every replicate starts from the settings' values.
void Shell::ApplyScheduledChange() {
  const ParameterChange* change = changes_.At(world.gGenerationNumber);
  if (change == nullptr) return;
  if (!beforeChanges_) beforeChanges_ = world.params;
  changes_.ApplyAt(world.gGenerationNumber, world.params);
  platform_.ShowNote("Generation " + std::to_string(world.gGenerationNumber) + ": " + DescribeChange(*change) +
                     " from now on (settings' change)");
  noteShown_ = true;
}

void Shell::UndoScheduledChanges() {
  if (!beforeChanges_) return;
  world.params = *beforeChanges_;
  beforeChanges_.reset();
}

std::string Shell::BatchCommand() const {
  const std::string chosen = DataFileOpen() ? DataFilePath() : lastDataFileName_;
  const std::string out = chosen.empty() ? "talveron-data.txt" : std::filesystem::path(chosen).filename().string();
  return BatchCommandLine(CurrentSettings(), out);
}

}  // namespace talveron::app
