// The interactive program: the run loop with its run-control flags, the
// event dispatch and the two waits, the menu commands, the data file of a
// series and the seeds. It drives the model through World and shows it
// through Views; everything that needs a window system goes through the
// Platform.
//
// One thread. Commands run only inside DoEvent, which the loop calls from
// its poll once per generation and from the waits; they set flags and
// parameters that the loop and the phases read at their next check.
#pragma once

#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/drawing/canvas.h"
#include "app/drawing/views.h"
#include "app/lessons/lessons.h"
#include "app/lessons/run_summary.h"
#include "app/shell/platform.h"
#include "model/model_hooks.h"
#include "model/world.h"
#include "record/census_history.h"
#include "record/genotype_sample.h"
#include "record/data_file.h"
#include "record/recorder.h"
#include "run/settings_file.h"

namespace talveron::app {

// Menu numbers.
inline constexpr int kAppleMenu = 128;
inline constexpr int kFileMenu = 129;
inline constexpr int kDisplayMenu = 134;
inline constexpr int kDataFileMenu = 135;
inline constexpr int kHelpMenu = 136;
inline constexpr int kAveragingSpanMenu = 108;
inline constexpr int kReplicatesMenu = 109;
inline constexpr int kAveragedVariablesMenu = 110;
inline constexpr int kGenerationsMenu = 111;
inline constexpr int kSpeedMenu = 112;
inline constexpr int kLessonsMenu = 137;

// The Lessons menu: the built-in lessons from item 1, then these, counted
// from the end of the lessons.
inline constexpr int kCloseLessonOffset = 2;  // after a separator
inline constexpr int kGlossaryOffset = 3;
inline constexpr int kCopyLinkOffset = 4;     // hidden: the page shows it
// Items added to the File and Display menus.
inline constexpr int kOpenLessonItem = 18;
inline constexpr int kPresentationItem = 21;
// The Speed menu's item of a pace a lesson opens at; 0 when it has none.
int SpeedItemOf(double generationsPerSecond);

// Items of the Display menu beyond the two commands that step through the
// map displays and the time plots.
inline constexpr int kFirstMapDisplayItem = 4;  // 4 to 7: the map displays, in their cycle's order
inline constexpr int kFirstTimePlotItem = 9;    // 9 to 12: the time plots, in their cycle's order
inline constexpr int kZoomInItem = 14;
inline constexpr int kZoomOutItem = 15;
inline constexpr int kActualSizeItem = 16;
inline constexpr int kFitToWindowItem = 17;
inline constexpr int kChartsItem = 18;  // the Charts view shown or hidden

// The Speed menu's items: the paces of kSpeeds (app/lessons/lessons.h), in
// order.
inline constexpr int kSpeedItems = static_cast<int>(std::size(kSpeeds));

// Items of the File menu.
inline constexpr int kBaseSeedItem = 11;
inline constexpr int kOpenSettingsItem = 13;
inline constexpr int kSaveSettingsItem = 14;
inline constexpr int kCopyBatchCommandItem = 15;
inline constexpr int kSavePictureItem = 16;
inline constexpr int kRunOnItem = 17;  // Run On to the End: no stop on extinction messages
inline constexpr int kSaveGenotypesItem = 19;  // after Open Lesson

// The last item of the Replicates, Generations and Averaging Span
// submenus: hidden, it shows a count that a settings file gave and no
// other item offers.
inline constexpr int kExtraReplicatesItem = 9;
inline constexpr int kExtraGenerationsItem = 10;
inline constexpr int kExtraSpanItem = 5;

// The menu bar: menus 128, 129, 134 and 135, then the submenus 108 to 111
// hung from items of the Data File menu and the Speed submenu 112 of the
// Display menu.
const std::vector<MenuSpec>& TalveronMenuBar();
// The Lessons menu: the built-in lessons, Close Lesson, Glossary and Copy
// Link.
MenuSpec LessonsMenu();

// The check marks and enabling of every menu item, as the commands leave
// them; the platform shows the same.
class MenuState {
 public:
  bool Checked(int menu, int item) const;
  bool Enabled(int menu, int item) const;
  void SetChecked(int menu, int item, bool checked) { checked_[{menu, item}] = checked; }
  void SetEnabled(int menu, int item, bool enabled) { enabled_[{menu, item}] = enabled; }

 private:
  std::map<std::pair<int, int>, bool> checked_;
  std::map<std::pair<int, int>, bool> enabled_;
};

class Shell : public ModelHooks {
 public:
  // `baseSeed` is the seed the first replicate takes; the desktop program
  // passes one from the clock.
  Shell(Platform& platform, Canvas& canvas, std::uint64_t baseSeed);
  ~Shell() override;
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;

  // --- start-up and the loop ---
  void MenuBarInit();
  // Runs passes until Quit (returns 0) or a fatal error, which is reported
  // and acknowledged first (returns 1).
  int MainLoop();

  // One replicate's set-up and one generation, as the loop runs them; the
  // loop's checks of the run-control flags lie around them.
  void BeginReplicate();
  void RunGeneration();
  // The settings' scheduled change of the coming generation, if any, told
  // in plain words in a lesson and with a note in the status bar outside
  // one; and the settings' own values back.
  void ApplyScheduledChange();
  void UndoScheduledChanges();

  // --- events and waits ---
  void DoEvent(const Event& event);
  // Waits for the space bar; returns at once while a series runs or a
  // restart is pending. Menu commands stay live meanwhile. The prompt is
  // what the user is told meanwhile.
  void WaitForSpaceKey(std::string_view prompt = kContinuePrompt);
  // What the space bar does in the wait of that prompt: "Start",
  // "Continue", "Next Step", "Next Generation" or "New Population".
  static std::string_view SpaceAction(std::string_view prompt);
  static constexpr std::string_view kContinuePrompt = "Press the space bar to continue";
  static constexpr std::string_view kExtinctPrompt =
      "The population is extinct: Ctrl+U runs on to the end, Ctrl+R founds a new one, the space bar shows the "
      "next message";

  // --- menus ---
  void HandleMenuChoice(long choice);
  void HandleFileChoice(int item);
  void HandleDisplayChoice(int item);
  void HandleDataFileChoice(int item);
  void HandleAveragedVariables(int item);
  // The menu choice of a command-key equivalent; 0 when the key has none or
  // its item is disabled.
  long MenuKey(char character) const;
  // An item the user can choose: enabled, and for a submenu's item the
  // item it hangs from too.
  bool ItemReachable(int menu, int item) const;
  void AboutBox();
  void GetSettings();
  void SetBaseSeed();

  // --- data file ---
  // A data file is written beside its name and put in place of an older
  // file only when a series has run to its end; a series stopped early
  // leaves the older file as it was and its records in FILE.partial.
  void CreateDataFile();
  void CloseDataFile(bool seriesComplete = false);
  bool DataFileOpen() const { return dataFile_ != nullptr; }
  std::string DataFilePath() const { return dataFile_ ? dataFile_->path() : std::string(); }

  // The file that holds the records of a series that Quit stopped; empty
  // when Quit stopped none.
  const std::string& RecordsLeftAtQuit() const { return recordsLeftAtQuit_; }

  // --- what the user is told ---
  // What the program is doing or waiting for, as the status bar shows it.
  const std::string& Activity() const { return activity_; }
  // Generations a second of a single run; 0 for as fast as it goes.
  double Speed() const { return speed_; }
  // Frames shown so far: at the fastest speed and in a series the views
  // show the state of a generation a few times a second, not every
  // generation piece by piece.
  long FramesShown() const { return framesShown_; }
  // The generations a frame falls due after, in seconds: the fastest
  // speed's, and a series'.
  static constexpr double kFrameInterval = 1.0 / 30;
  static constexpr double kSeriesFrameInterval = 0.25;

  // --- settings kept and reused ---
  SeriesSettings CurrentSettings() const;
  // Sets the parameters, counts, recording and next seed of a series, with
  // the menus' check marks.
  void ApplySettings(const SeriesSettings& settings);
  // Reads a settings file and applies it; what is wrong with it, if
  // anything, and then nothing changes.
  std::optional<std::string> OpenSettingsFile(const std::string& path);
  void OpenSettings();
  void SaveSettings();
  // The talveron-batch command line that writes, byte for byte, the file of
  // the series the next Run Replicates starts, under the name of the data
  // file chosen last.
  std::string BatchCommand() const;

  // --- genotypes (shell_genotypes.cpp) ---
  // The adults on the map as a genotype sample: the generation they are
  // the adults of (0: the founders) and the replicate, from 1. Nothing in
  // the middle of a generation (step mode), when the map shows part of it.
  std::optional<std::pair<long, GenotypeSample>> GenotypesOnMap() const;
  // File > Save Genotypes: the adults on the map, asked where, written by
  // the platform.
  void SaveGenotypes();

  // --- seeds ---
  std::uint64_t NextSeed() const { return nextSeed_; }
  std::uint64_t CurrentSeed() const { return currentSeed_; }
  // The base seed of the series running, or of the last one.
  std::uint64_t SeriesBaseSeed() const { return seriesBaseSeed_; }
  // The base seed of the next series started from the menus.
  std::uint64_t NextSeriesSeed() const { return seriesSeed_; }
  // The seed of the next run and the base seed of the next series.
  void SetSeeds(std::uint64_t seed);

  // --- lessons (shell_lessons.cpp) ---
  // Opens a lesson: its settings in force, its seed the next run's, its
  // pace the Speed menu's, its text in the lesson panel, and a new
  // population. What is wrong with its settings, if anything, and then
  // nothing changes.
  std::optional<std::string> OpenLesson(const Lesson& lesson);
  void CloseLesson();
  // File > Open Lesson: a teacher's lesson from its files.
  void OpenLessonFile();
  const std::optional<Lesson>& CurrentLesson() const { return lesson_; }
  // The Lessons menu's item of a built-in lesson, from 1; 0 for none.
  static int LessonItem(std::string_view name);
  void HandleLessonsChoice(int item);
  // The page's address after its #: "lesson=split&seed=42&density=2". An
  // unknown lesson or a bad value is refused in the settings' words, and
  // then nothing changes.
  std::optional<std::string> OpenLink(std::string_view fragment);
  // The link of the experiment on show: its lesson, the seed of the run
  // and every parameter and count that differ from the lesson's.
  std::string Link() const;
  // The last plain-language summary of the run, as the lesson panel shows it.
  const std::string& Summary() const { return summary_; }
  // The milestones reached and the changes made so far, as the lesson
  // panel lists them.
  const std::vector<std::string>& Milestones() const { return milestones_; }
  bool Presentation() const { return presentation_; }
  void SetPresentation(bool on);

  // --- ModelHooks ---
  void ShowInfo(std::string_view action) override;
  void ShowError(std::string_view message) override;
  void WaitForKey() override;
  void Beep() override;
  void DrawIndividual(int xx, int yy, const Individ& individual) override;
  void ClearCell(int xx, int yy) override;
  void EraseMapArea() override;
  void ZeroResults(int total0, int total1) override;
  void ShowResults(const GeneFrequencies& frequencies) override;
  // The model skips its drawing while the display is minimized and while a
  // generation is drawn as a frame after it has run.
  bool MinimizeDisplay() const override { return display.gMinimizeDisplay || framed_; }
  bool StepMode() const override { return step; }

  // --- run control, all clear at start-up ---
  bool restart = false;        // abandon the replicate at the next check
  bool runReplicates = false;  // a series is running
  bool step = false;           // wait after Reproduction, Dispersal and each generation
  bool cycle = false;          // wait after each generation
  bool quitRequested = false;  // Quit: the loop unwinds and returns

  long gTotalReplicates = 5;  // replicates in a series; 2 from MenuBarInit
  long gTotalGenerations = 5000;
  long gReplicateNumber = 0;
  bool gGetData = false;  // a series is being recorded

  DisplayFlags display;
  World world;
  CensusHistory history;  // the replicate on show, every generation
  DataRecorder recorder;
  MenuState menus;

 private:
  void RunPass();
  // Runs one replicate of the pass; false when it was abandoned.
  bool RunReplicate();
  void EndPass();
  void Poll();
  // An event that arrives while a generation runs or is paced: a space bar
  // pressed in step or cycle mode is kept for the next wait for it.
  void DoRunEvent(const Event& event);
  // A step or cycle wait: a space bar kept from the run ends it at once.
  void WaitForStep(std::string_view prompt);
  bool Abandoning() const { return restart || quitRequested; }
  // Asks before a command stops a running series; true to go on.
  bool MayStopSeries();
  void DrawHabitatFrames();

  // --- frames: the generations run at the fastest speed or in a series ---
  // True when the generation about to run is drawn as a frame: a series,
  // or a single run at the fastest speed outside step and cycle mode.
  bool DrawsFrames() const;
  // Draws what the generations run since the last frame leave on the
  // views, as drawing each of them piece by piece would have left it, and
  // shows it.
  void ShowFrame();
  void DrawPending();
  bool DrawingPending() const;
  // At the end of a framed generation: a frame when one is due.
  void FrameIfDue();
  // The speed reached, shown a second at a time while frames are shown.
  void CountSpeed();
  void StopSpeed();

  void Check(int menu, int item, bool checked);
  void Enable(int menu, int item, bool enabled);
  void CheckOnly(int menu, int first, int last, int chosen);
  void EnableDataFileItems(bool enabled);  // items 1 to 10 of the Data File menu
  void NextMapDisplay();
  void NextGraph();
  void ChooseMapDisplay(int index);  // 0 to 3, in the order of the cycle
  void ChooseGraph(int index);
  void CheckDisplayItems();
  void SetSpeed(int item);
  // Checks the item of a count, or shows the count as the extra item.
  void CheckCount(int menu, int extraItem, int chosen, long count, const std::string& text);
  // Waits out the rest of a generation's share of time at the chosen speed;
  // menus and keys stay live.
  void Pace(double generationStart);
  void SetActivity(std::string text);
  std::string RunningActivity() const;
  void ToggleMinimizeDisplay();
  void RunReplicates();

  // Recording a series; a failed write ends the series.
  void RecordGeneration();
  void RecordReplicate();
  void ReportWriteFailure(const FileError& error);
  std::optional<FileError> ReleaseDataFile(bool seriesComplete);
  void ResetRecording();

  // Tells the criteria met in the generation just run, or the run's end,
  // in plain words; the changes of the settings once the generations
  // before them are told; the milestones as a list.
  bool Telling() const { return lesson_.has_value() && !runReplicates; }
  void TellProgress();
  void TellDueChanges();
  void AddMilestone(std::string line);
  // The lesson's changes as marked lines on the Charts and the time plot
  // of the replicate beginning.
  void MarkChanges();
  // What the generation running did, kept while a lesson is open to tell
  // why a population died out.
  enum class FateStep { Begins, Born, Survived };
  void KeepFate(FateStep part);
  void TellRunEnd();
  void TellNewRun();
  void TellExtinction();
  void Tell(const std::string& summary);

  std::uint64_t TakeSeed();
  void UpdateSeeds();
  int Fatal(const std::string& message);

  Platform& platform_;
  Canvas& canvas_;
  Views views_;
  std::unique_ptr<DataFile> dataFile_;
  std::string activity_;
  double speed_ = 0;
  std::string seriesFileName_;  // the data file of the running series
  bool dataWritten_ = false;    // the open data file holds a series' header
  std::uint64_t nextSeed_;
  std::uint64_t currentSeed_ = 0;
  std::uint64_t seriesSeed_;
  std::uint64_t seriesBaseSeed_ = 0;
  bool seedChosenInSeries_ = false;  // the seeds were set while a series ran
  std::string lastDataFileName_;
  std::string recordsLeftAtQuit_;  // the data file chosen last, for the batch command
  long passReplicates_ = 1;
  int spacesKept_ = 0;  // space bar presses kept for the step and cycle waits
  bool chartsShown_ = true;
  int waiting_ = 0;         // waits for the space bar under way
  bool noteShown_ = false;  // the status bar shows a note until the next generation
  ParameterSchedule changes_;                 // of the settings, for every replicate
  std::optional<Parameters> beforeChanges_;   // the settings' values while a change is in force
  std::string spaceAction_;  // what the space bar does now; empty while the run goes on
  bool runOn_ = false;           // this replicate no longer stops on extinction messages
  bool extinctionWait_ = false;  // the wait is the one of an extinction message
  std::optional<Lesson> lesson_;  // the lesson open, if any
  std::string summary_;
  std::vector<std::string> milestones_;
  std::vector<long> changesToTell_;      // generations of changes applied, not yet told
  std::vector<GenerationFate> fates_;    // the last generations', oldest first
  bool changeNoteShown_ = false;         // the status bar tells a change, until the replicate ends
  bool extinctionTold_ = false;  // this replicate's extinction is told
  bool presentation_ = false;
  std::map<int, long> extraCounts_;  // by submenu: the count its extra item stands for
  long mapReplicate_ = 0;       // the replicate whose adults the map shows
  long mapGeneration_ = 0;      // and their generation: 0 for the founders
  bool midGeneration_ = false;  // a generation has begun and not ended (step mode waits)

  // What the generations since the last frame have left to draw.
  bool framed_ = false;  // the generation running is drawn as a frame, after it
  enum class MapDrawn { Nothing, Founders, Survivors };
  MapDrawn mapPending_ = MapDrawn::Nothing;
  bool erasePending_ = false;  // the map area was erased
  bool zeroPending_ = false;   // the results were cleared (a replicate began)
  bool historyCleared_ = false;
  std::string infoAction_;  // the last status text, of generation infoGeneration_
  int infoGeneration_ = 0;
  bool infoPending_ = false;
  struct Census {
    int generation;
    bool shown;  // the display was on: the results show it
    GeneFrequencies frequencies;
  };
  std::vector<Census> pendingCensus_;  // oldest first
  double lastFrame_ = -1e300;
  long framesShown_ = 0;
  double speedSince_ = -1;  // when the generations counted began
  long speedGenerations_ = 0;
  bool speedShown_ = false;
};

}  // namespace talveron::app
