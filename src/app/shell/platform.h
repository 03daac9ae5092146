// The platform layer beside the Canvas: events, the menu bar, the dialogs,
// the beep and the report of a fatal error. The run loop and the menu
// commands are written once against it; the desktop program supplies a Qt
// implementation and the tests a scripted one.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talveron {
class CensusHistory;
struct GenotypeSample;
struct GenotypeSettings;
}

namespace talveron::app {

struct MapKey;

// One user event, as the run loop receives it.
struct Event {
  enum class Kind {
    MouseDown,   // a click that chose nothing (content, desktop, ...)
    KeyDown,     // a key pressed
    AutoKey,     // a key held down, repeating
    MenuSelect,  // a menu item chosen with the mouse
  };

  Kind what = Kind::KeyDown;
  char character = 0;       // key events: the character typed
  bool commandKey = false;  // key events: the command key (Ctrl) was held
  int menu = 0;             // MenuSelect: menu number
  int item = 0;             // MenuSelect: item number, from 1

  static Event Key(char character, bool commandKey = false) {
    return Event{Kind::KeyDown, character, commandKey, 0, 0};
  }
  static Event RepeatedKey(char character, bool commandKey = false) {
    return Event{Kind::AutoKey, character, commandKey, 0, 0};
  }
  static Event Menu(int menu, int item) { return Event{Kind::MenuSelect, 0, false, menu, item}; }
  static Event Click() { return Event{Kind::MouseDown, 0, false, 0, 0}; }
};

// A menu choice as one number: the menu in the high 16 bits, the item in
// the low 16 bits; 0 means nothing was chosen.
constexpr long MenuChoice(int menu, int item) {
  return (static_cast<long>(menu) << 16) | static_cast<long>(item & 0xFFFF);
}
constexpr int ChoiceMenu(long choice) { return static_cast<int>(choice >> 16); }
constexpr int ChoiceItem(long choice) { return static_cast<int>(choice & 0xFFFF); }

// One item of a menu. An empty text is a separator, unless the item is
// hidden.
struct MenuItemSpec {
  std::string text;
  char commandKey = 0;     // the command-key equivalent, a lower-case letter or 0
  int submenu = 0;         // the number of the submenu hung from this item, or 0
  bool checkable = false;  // the item can carry a check mark
  // Items of a menu with the same group (not 0) are choices that exclude
  // one another: shown as radio items.
  int group = 0;
  // Not shown until SetMenuItemText gives it a text.
  bool hidden = false;
  // Shown last in its menu, after a separator, whatever its number (Quit).
  bool atEnd = false;
};

struct MenuSpec {
  int number = 0;
  std::string title;
  std::vector<MenuItemSpec> items;  // item k is items[k - 1]
  bool submenu = false;             // hung from an item of another menu
};

// The settings dialog's controls by item number: a pop-up's chosen item
// (from 1) or a check box's 0 or 1.
using ControlValues = std::map<int, int>;

// A pop-up whose parameter holds a value that none of its items gives: the
// value as text, by item number. The dialog offers it as an extra choice
// with the control value 0, "the value in force", which it opens at.
using InForceTexts = std::map<int, std::string>;

// What the user is told about the seeds: the one the running replicate
// took, the next one, and the first seed of the series when one runs.
struct SeedStatus {
  std::uint64_t current = 0;
  std::uint64_t next = 0;
  bool series = false;
  std::uint64_t seriesBase = 0;
  long replicate = 0;   // the replicate being run, from 1
  long replicates = 0;  // in the pass
  std::uint64_t nextSeries = 0;  // the base seed of the next series from the menus
};

class Platform {
 public:
  virtual ~Platform() = default;

  // --- events ---
  // Drops every event not yet delivered.
  virtual void FlushEvents() = 0;
  // The next event, waiting up to `sleepTicks` sixtieths of a second for
  // one; nothing when none came.
  virtual std::optional<Event> WaitNextEvent(int sleepTicks) = 0;
  // The same with a wait given in seconds, to the millisecond: the pacing
  // of generations waits with it.
  virtual std::optional<Event> WaitNextEventFor(double seconds) = 0;

  // --- menus ---
  virtual void InstallMenuBar(std::span<const MenuSpec> menus) = 0;
  virtual void CheckMenuItem(int menu, int item, bool checked) = 0;
  virtual void EnableMenuItem(int menu, int item, bool enabled) = 0;
  // Gives a hidden item its text and shows it; an empty text hides it.
  virtual void SetMenuItemText(int /*menu*/, int /*item*/, std::string_view /*text*/) {}

  // The time in seconds on a clock that never goes back; the pacing of
  // generations reads it.
  virtual double Seconds() = 0;

  // --- the views ---
  // Zooms the views one step in (+1) or out (-1), or to their natural size
  // pixel for pixel (0), or lets them fit the window (kFitToWindow).
  static constexpr int kFitToWindow = 2;
  virtual void ZoomViews(int direction) = 0;

  // --- dialogs ---
  // Runs the settings dialog modally on `values`; true when it was closed
  // with OK, and then `values` holds the controls as the user left them.
  // `changes` lists the settings' scheduled changes (ScheduledChangeLines),
  // shown and not edited.
  virtual bool RunSettingsDialog(ControlValues& values, const InForceTexts& inForce,
                                 const std::vector<std::string>& changes) = 0;
  // The save dialog for the data file: the chosen path, nothing when the
  // user cancelled. Choosing an existing file asks before replacing it.
  virtual std::optional<std::string> AskDataFilePath() = 0;
  // A message the user acknowledges, for a slip that changes nothing.
  virtual void ShowNotice(std::string_view message) = 0;
  // The dialog for a settings file to write (`save`) or read; nothing when
  // the user cancelled.
  virtual std::optional<std::string> AskSettingsPath(bool save) = 0;
  // Saves a picture of the views, asking for the file and which views.
  virtual void SavePicture() = 0;
  // The file for the genotypes of the adults on the map: a .vcf.gz on the
  // desktop, a .vcf the page downloads; nothing when the user cancelled.
  virtual std::optional<std::string> AskGenotypesPath() { return std::nullopt; }
  // Writes the genotype samples of a replicate to `path` as VCF 4.2, the
  // samples and the settings named as the batch command names them: by
  // default as plain text (the page); the desktop program compresses it
  // with bgzip and indexes it with tabix. Throws FileError.
  virtual void WriteGenotypes(const std::string& path, long replicate, const std::vector<GenotypeSample>& samples,
                              const GenotypeSettings& settings);
  // Asks a yes-or-no question before something is lost; true is yes.
  virtual bool Confirm(std::string_view /*question*/) { return true; }
  // Puts text on the clipboard.
  virtual void CopyText(std::string_view text) = 0;
  // Shows the user guide.
  virtual void ShowGuide() = 0;
  // Asks for the seed the next replicate is to take.
  virtual std::optional<std::uint64_t> AskBaseSeed(std::uint64_t current) = 0;
  virtual void ShowAboutBox() = 0;

  // --- status ---
  virtual void ShowSeeds(const SeedStatus& seeds) = 0;
  virtual void ShowDataFileName(std::string_view name) = 0;  // empty: no file open
  // What became of the last data file, in a sentence, until another is
  // opened ("Series stopped: ... kept").
  virtual void ShowDataFileNote(std::string_view note) = 0;
  // What the program is doing or waiting for, in a sentence.
  virtual void ShowActivity(std::string_view text) = 0;
  // What the space bar does now, in a word or two ("Start", "Continue",
  // "Next Step", "Next Generation", "New Population"); empty while the run
  // goes on without it.
  virtual void ShowSpaceAction(std::string_view /*action*/) {}
  virtual void Beep() = 0;
  // The census of the replicate on show, after each generation and when a
  // replicate begins; it stays the program's until the next call.
  virtual void ShowCharts(const CensusHistory& /*history*/) {}
  // The map's caption and colour key, when the display changes.
  virtual void ShowMapKey(const MapKey& /*key*/) {}
  // A passing remark in the status bar, free prose; empty clears it.
  virtual void ShowNote(std::string_view /*note*/) {}
  // Shows or hides the Charts view.
  virtual void ShowChartsView(bool /*shown*/) {}
  // A frame: at the fastest speed and in a series the views are drawn from
  // the state of the generation on show a few times a second, not piece by
  // piece; what was drawn for it, the Charts included, is to reach the
  // screen now, all of it showing that one generation.
  virtual void ShowFrame() {}
  // The generations a second a run reaches at the fastest speed or in a
  // series, while it runs; 0 when it stops.
  virtual void ShowSpeedReached(double /*generationsPerSecond*/) {}

  // --- lessons ---
  // Shows a lesson's text (Markdown) in the lesson panel beside the views.
  virtual void ShowLesson(std::string_view /*title*/, std::string_view /*markdown*/) {}
  // Hides the lesson panel.
  virtual void HideLesson() {}
  // The plain-language summary of the run in the lesson panel, the last
  // thing that happened, until the next; empty clears it.
  virtual void ShowSummary(std::string_view /*summary*/) {}
  // The milestones the run has reached and the changes of its settings,
  // one line each, oldest first ("A, generation 44: ..."); empty clears
  // the list.
  virtual void ShowMilestones(const std::vector<std::string>& /*lines*/) {}
  // The pictures of the lesson's text, by the names the text gives them,
  // before ShowLesson: the panel shows these and reads no file.
  virtual void ShowLessonPictures(const std::vector<std::pair<std::string, std::string>>& /*pictures*/) {}
  // Shows the glossary (Markdown).
  virtual void ShowGlossary(std::string_view /*markdown*/) {}
  // Fills the screen with the lesson, the Charts and the run controls in
  // large type, or returns to the window as it was.
  virtual void SetPresentation(bool /*on*/) {}
  // The dialog for a lesson's file (NAME.md or NAME.toml); nothing when the
  // user cancelled.
  virtual std::optional<std::string> AskLessonPath() { return std::nullopt; }
  // Puts the link of the experiment on show on the clipboard; `fragment`
  // is what follows the page's address and its #.
  virtual void CopyLink(std::string_view /*fragment*/) {}

  // Writes the report of a fatal error to standard output, shows it in a
  // dialog and returns once the user has pressed a key or clicked.
  virtual void ShowFatalError(std::string_view report) = 0;
};

}  // namespace talveron::app
