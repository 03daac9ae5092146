// A platform without a window system: events come from a script, dialogs
// give scripted answers, and the menu state, beeps, seeds and fatal reports
// are kept for inspection. Tests drive the whole interactive loop with it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/shell/platform.h"

namespace talveron::app {

class HeadlessPlatform : public Platform {
 public:
  // One step of the script, run when a poll or a wait asks for an event: it
  // may look at the program's state or act on it, and gives the event to
  // deliver, or nothing (that call then reports no event).
  using Step = std::function<std::optional<Event>()>;
  using Condition = std::function<bool()>;
  // Asked when the script is exhausted, with the sleep of the call.
  using IdleAnswer = std::function<std::optional<Event>(int sleepTicks)>;

  HeadlessPlatform();

  // --- the script ---
  void Post(const Event& event);
  void PostKey(char character, bool commandKey = false) { Post(Event::Key(character, commandKey)); }
  void PostMenu(int menu, int item) { Post(Event::Menu(menu, item)); }
  void PostStep(Step step) { script_.push_back({nullptr, false, std::move(step)}); }
  // A step for the next wait for the user (a sleep of a second or more);
  // the per-generation polls before it deliver nothing.
  void PostStepAtWait(Step step) { script_.push_back({nullptr, true, std::move(step)}); }
  // Runs `action` at the first call for which `when` holds and delivers the
  // event it returns; earlier calls deliver nothing, and the steps posted
  // behind it wait for it.
  void PostWhen(Condition when, Step action);
  void PostMenuWhen(Condition when, int menu, int item);
  void PostKeyWhen(Condition when, char character, bool commandKey = false);
  // What the script answers when it is exhausted, or when a wait for the
  // user (a sleep of a second or more) finds the next step not yet due,
  // since nothing would change while it waits. By default such a wait is
  // answered with Quit, so an unfinished script ends the loop; the
  // per-generation poll gets nothing.
  void SetIdleAnswer(IdleAnswer answer) { idle_ = std::move(answer); }
  bool ScriptDone() const { return script_.empty(); }

  // --- scripted dialog answers; unscripted ones cancel ---
  // The settings dialog: the answer may change the controls; true is OK.
  std::deque<std::function<bool(ControlValues&)>> settingsAnswers;
  std::deque<std::optional<std::string>> savePaths;
  std::deque<std::optional<std::uint64_t>> seedAnswers;
  std::deque<std::optional<std::string>> settingsPaths;
  std::deque<std::optional<std::string>> genotypePaths;
  std::deque<bool> confirmAnswers;  // yes when none is left

  // --- what the program did ---
  struct Call {
    int sleepTicks;
    bool delivered;
  };
  const std::vector<Call>& calls() const { return calls_; }
  int WaitsForUser() const;  // calls with a sleep of a second or more
  int flushes = 0;
  int beeps = 0;
  int aboutBoxes = 0;
  int pictures = 0;
  int guides = 0;
  std::string clipboard;
  std::vector<ControlValues> settingsOpenedWith;
  std::vector<InForceTexts> settingsInForce;
  std::vector<std::vector<std::string>> settingsChanges;  // the scheduled changes each dialog listed
  std::vector<std::string> notices;
  std::vector<std::string> questions;
  std::vector<std::string> activities;  // every text the status bar was given
  std::vector<int> zooms;               // the zoom steps asked for
  // The platform's clock: it stands still while the program works and runs
  // on through every wait that no event ends, by the whole wait; the
  // per-generation poll takes no time.
  double clock = 0;
  std::vector<std::string> fatalReports;
  std::optional<SeedStatus> shownSeeds;
  std::string dataFileName;
  std::string dataFileNote;
  bool menuBarInstalled = false;
  std::map<std::pair<int, int>, std::string> itemTexts;  // texts given to hidden items
  bool Checked(int menu, int item) const;
  bool Enabled(int menu, int item) const;

  // Where a fatal report is written; standard output by default.
  void SetOutput(std::ostream* output) { output_ = output; }

  // --- Platform ---
  void FlushEvents() override;
  std::optional<Event> WaitNextEvent(int sleepTicks) override;
  std::optional<Event> WaitNextEventFor(double seconds) override;
  double Seconds() override { return clock; }
  void ZoomViews(int direction) override { zooms.push_back(direction); }
  void InstallMenuBar(std::span<const MenuSpec> menus) override;
  void CheckMenuItem(int menu, int item, bool checked) override;
  void EnableMenuItem(int menu, int item, bool enabled) override;
  void SetMenuItemText(int menu, int item, std::string_view text) override { itemTexts[{menu, item}] = text; }
  bool RunSettingsDialog(ControlValues& values, const InForceTexts& inForce,
                         const std::vector<std::string>& changes) override;
  std::optional<std::string> AskDataFilePath() override;
  void ShowNotice(std::string_view message) override { notices.emplace_back(message); }
  std::optional<std::uint64_t> AskBaseSeed(std::uint64_t current) override;
  void ShowAboutBox() override { ++aboutBoxes; }
  std::optional<std::string> AskSettingsPath(bool save) override;
  void SavePicture() override { ++pictures; }
  std::optional<std::string> AskGenotypesPath() override;
  // A .vcf.gz as the desktop program writes it (bgzip, tabix), anything
  // else as the page does (plain text).
  void WriteGenotypes(const std::string& path, long replicate, const std::vector<GenotypeSample>& samples,
                      const GenotypeSettings& settings) override;
  void CopyText(std::string_view text) override { clipboard = std::string(text); }
  bool Confirm(std::string_view question) override;
  void ShowGuide() override { ++guides; }
  void ShowSeeds(const SeedStatus& seeds) override { shownSeeds = seeds; }
  void ShowDataFileName(std::string_view name) override { dataFileName = std::string(name); }
  void ShowActivity(std::string_view text) override { activities.emplace_back(text); }
  void ShowDataFileNote(std::string_view text) override { dataFileNote = std::string(text); }
  void Beep() override { ++beeps; }
  void ShowCharts(const CensusHistory& history) override {
    charts = &history;
    ++chartUpdates;
  }
  void ShowChartsView(bool shown) override { chartsShown = shown; }
  void ShowSpaceAction(std::string_view action) override { spaceAction = std::string(action); }
  std::string spaceAction;
  void ShowMapKey(const MapKey& key) override;
  std::string mapCaption;
  void ShowNote(std::string_view text) override { note = std::string(text); }
  std::string note;
  bool chartsShown = true;
  const CensusHistory* charts = nullptr;
  int chartUpdates = 0;
  void ShowFatalError(std::string_view report) override;
  // Each frame shown; `onFrame`, when set, runs at each.
  void ShowFrame() override {
    ++frames;
    if (onFrame) onFrame();
  }
  int frames = 0;
  std::function<void()> onFrame;
  void ShowSpeedReached(double generationsPerSecond) override { speedsReached.push_back(generationsPerSecond); }
  std::vector<double> speedsReached;

  // The lesson panel as the program leaves it, and every summary it showed.
  void ShowLesson(std::string_view title, std::string_view markdown) override {
    lessonTitle = std::string(title);
    lessonText = std::string(markdown);
  }
  void HideLesson() override {
    lessonTitle.clear();
    lessonText.clear();
  }
  void ShowSummary(std::string_view summary) override {
    if (!summary.empty()) summaries.emplace_back(summary);
    summaryShown = std::string(summary);
  }
  void ShowMilestones(const std::vector<std::string>& lines) override { milestones = lines; }
  void ShowLessonPictures(const std::vector<std::pair<std::string, std::string>>& shown) override {
    lessonPictures = shown;
  }
  void ShowGlossary(std::string_view markdown) override { glossary = std::string(markdown); }
  void SetPresentation(bool on) override { presentation = on; }
  std::optional<std::string> AskLessonPath() override {
    if (lessonPaths.empty()) return std::nullopt;
    std::optional<std::string> path = lessonPaths.front();
    lessonPaths.pop_front();
    return path;
  }
  void CopyLink(std::string_view fragment) override { link = std::string(fragment); }
  std::string lessonTitle;
  std::string lessonText;
  std::vector<std::string> summaries;
  std::string summaryShown;             // what the panel shows now
  std::vector<std::string> milestones;  // the panel's list as it stands
  std::vector<std::pair<std::string, std::string>> lessonPictures;
  std::string glossary;
  bool presentation = false;
  std::deque<std::optional<std::string>> lessonPaths;
  std::string link;

 private:
  struct Entry {
    Condition when;  // empty: due at once
    bool atWait;     // due only at a wait for the user
    Step action;
  };
  bool Due(const Entry& entry, int sleepTicks) const;
  std::optional<Event> Next(int sleepTicks);

  std::deque<Entry> script_;
  IdleAnswer idle_;
  std::vector<Call> calls_;
  std::map<std::pair<int, int>, bool> checked_;
  std::map<std::pair<int, int>, bool> enabled_;
  std::ostream* output_;
};

}  // namespace talveron::app
