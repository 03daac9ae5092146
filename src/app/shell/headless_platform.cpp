#include "app/shell/headless_platform.h"

#include "app/drawing/map_key.h"
#include "record/vcf/genotype_vcf.h"

#include <iostream>

namespace talveron::app {

namespace {

constexpr int kQuitMenu = 129;
constexpr int kQuitItem = 9;
constexpr int kTicksPerSecond = 60;

}  // namespace

HeadlessPlatform::HeadlessPlatform()
    : idle_([](int sleepTicks) -> std::optional<Event> {
        if (sleepTicks >= kTicksPerSecond) return Event::Menu(kQuitMenu, kQuitItem);
        return std::nullopt;
      }),
      output_(&std::cout) {}

void HeadlessPlatform::Post(const Event& event) {
  script_.push_back({nullptr, false, [event] { return std::optional<Event>(event); }});
}

void HeadlessPlatform::PostWhen(Condition when, Step action) {
  script_.push_back({std::move(when), false, std::move(action)});
}

void HeadlessPlatform::PostMenuWhen(Condition when, int menu, int item) {
  PostWhen(std::move(when), [menu, item] { return std::optional<Event>(Event::Menu(menu, item)); });
}

void HeadlessPlatform::PostKeyWhen(Condition when, char character, bool commandKey) {
  PostWhen(std::move(when),
           [character, commandKey] { return std::optional<Event>(Event::Key(character, commandKey)); });
}

// The script stands for what the user does from now on, not for events
// already queued, so flushing leaves it alone.
void HeadlessPlatform::FlushEvents() { ++flushes; }

bool HeadlessPlatform::Due(const Entry& entry, int sleepTicks) const {
  if (entry.atWait && sleepTicks < kTicksPerSecond) return false;
  return !entry.when || entry.when();
}

std::optional<Event> HeadlessPlatform::WaitNextEvent(int sleepTicks) {
  std::optional<Event> event = Next(sleepTicks);
  // The per-generation poll of one tick returns at once, as on a display.
  if (!event && sleepTicks > 1) clock += static_cast<double>(sleepTicks) / kTicksPerSecond;
  return event;
}

// A wait of the pacing is no wait for the user: the script answers it as it
// answers the per-generation poll.
std::optional<Event> HeadlessPlatform::WaitNextEventFor(double seconds) {
  std::optional<Event> event = Next(0);
  if (!event) clock += seconds;
  return event;
}

std::optional<Event> HeadlessPlatform::Next(int sleepTicks) {
  std::optional<Event> event;
  if (!script_.empty() && Due(script_.front(), sleepTicks)) {
    const Step action = std::move(script_.front().action);
    script_.pop_front();
    event = action();
  } else if (script_.empty() || sleepTicks >= kTicksPerSecond) {
    event = idle_(sleepTicks);
  }
  calls_.push_back({sleepTicks, event.has_value()});
  return event;
}

int HeadlessPlatform::WaitsForUser() const {
  int waits = 0;
  for (const Call& call : calls_) {
    if (call.sleepTicks >= kTicksPerSecond) ++waits;
  }
  return waits;
}

void HeadlessPlatform::InstallMenuBar(std::span<const MenuSpec> /*menus*/) { menuBarInstalled = true; }

void HeadlessPlatform::CheckMenuItem(int menu, int item, bool checked) { checked_[{menu, item}] = checked; }

void HeadlessPlatform::EnableMenuItem(int menu, int item, bool enabled) { enabled_[{menu, item}] = enabled; }

bool HeadlessPlatform::Checked(int menu, int item) const {
  const auto found = checked_.find({menu, item});
  return found != checked_.end() && found->second;
}

bool HeadlessPlatform::Enabled(int menu, int item) const {
  const auto found = enabled_.find({menu, item});
  return found == enabled_.end() || found->second;
}

bool HeadlessPlatform::RunSettingsDialog(ControlValues& values, const InForceTexts& inForce,
                                         const std::vector<std::string>& changes) {
  settingsOpenedWith.push_back(values);
  settingsInForce.push_back(inForce);
  settingsChanges.push_back(changes);
  if (settingsAnswers.empty()) return false;
  const auto answer = std::move(settingsAnswers.front());
  settingsAnswers.pop_front();
  ControlValues edited = values;
  if (!answer(edited)) return false;
  values = edited;
  return true;
}

std::optional<std::string> HeadlessPlatform::AskDataFilePath() {
  if (savePaths.empty()) return std::nullopt;
  std::optional<std::string> path = savePaths.front();
  savePaths.pop_front();
  return path;
}

std::optional<std::string> HeadlessPlatform::AskGenotypesPath() {
  if (genotypePaths.empty()) return std::nullopt;
  std::optional<std::string> path = genotypePaths.front();
  genotypePaths.pop_front();
  return path;
}

void HeadlessPlatform::WriteGenotypes(const std::string& path, long replicate,
                                      const std::vector<GenotypeSample>& samples, const GenotypeSettings& settings) {
  const std::string compressed = ".vcf.gz";
  if (path.size() > compressed.size() && path.compare(path.size() - compressed.size(), compressed.size(), compressed) == 0) {
    WriteGenotypeVcf(path, replicate, samples, settings);
  } else {
    Platform::WriteGenotypes(path, replicate, samples, settings);
  }
}

std::optional<std::string> HeadlessPlatform::AskSettingsPath(bool /*save*/) {
  if (settingsPaths.empty()) return std::nullopt;
  std::optional<std::string> path = settingsPaths.front();
  settingsPaths.pop_front();
  return path;
}

std::optional<std::uint64_t> HeadlessPlatform::AskBaseSeed(std::uint64_t /*current*/) {
  if (seedAnswers.empty()) return std::nullopt;
  const std::optional<std::uint64_t> seed = seedAnswers.front();
  seedAnswers.pop_front();
  return seed;
}

void HeadlessPlatform::ShowFatalError(std::string_view report) {
  *output_ << report << std::flush;
  fatalReports.emplace_back(report);
}

void HeadlessPlatform::ShowMapKey(const MapKey& key) { mapCaption = key.caption; }

bool HeadlessPlatform::Confirm(std::string_view question) {
  questions.emplace_back(question);
  if (confirmAnswers.empty()) return true;
  const bool answer = confirmAnswers.front();
  confirmAnswers.pop_front();
  return answer;
}

}  // namespace talveron::app
