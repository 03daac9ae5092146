// The menu bar and the menu commands. Commands never run the simulation:
// they set flags and parameters that the loop and the phases read at their
// next check; only the data-file commands act at once.
#include <cctype>
#include <filesystem>

#include "app/drawing/map_key.h"
#include "app/shell/settings_formulas.h"
#include "app/shell/shell.h"

namespace talveron::app {

namespace {

constexpr long kAveragingSpans[] = {10, 20, 50, 100};
constexpr long kReplicateCounts[] = {1, 2, 5, 10, 50, 100, 500, 1000};
constexpr long kGenerationCounts[] = {5, 20, 50, 100, 200, 500, 1000, 2000, 5000};

MenuItemSpec Item(std::string text, char key = 0) { return MenuItemSpec{std::move(text), key, 0, false}; }
MenuItemSpec Checkable(std::string text, char key = 0) { return MenuItemSpec{std::move(text), key, 0, true}; }
MenuItemSpec Radio(std::string text, int group = 1) { return MenuItemSpec{std::move(text), 0, 0, true, group}; }
MenuItemSpec Separator() { return MenuItemSpec{}; }
MenuItemSpec Last(MenuItemSpec item) {
  item.atEnd = true;
  return item;
}
// Kept for its number; the item is shown elsewhere.
MenuItemSpec Hidden(MenuItemSpec item) {
  item.hidden = true;
  return item;
}
MenuItemSpec Submenu(std::string text, int submenu) {
  return MenuItemSpec{std::move(text), 0, submenu, false};
}

// The counts as radio items, and a hidden one for a count none of them
// offers.
template <std::size_t N>
std::vector<MenuItemSpec> CountItems(const long (&counts)[N], const std::string& unit) {
  std::vector<MenuItemSpec> items;
  for (long count : counts) items.push_back(Radio(std::to_string(count) + unit));
  MenuItemSpec extra = Radio("");
  extra.hidden = true;
  items.push_back(extra);
  return items;
}

std::vector<MenuSpec> BuildMenuBar() {
  return {
      {kAppleMenu, "Talveron", {Item("About Talveron...")}, false},
      {kFileMenu,
       "File",
       {Item("Restart", 'r'), Separator(), Checkable("Pause", 'p'), Checkable("Step Mode", 't'),
        Checkable("Cycle Mode", 'y'), Separator(), Item("Settings...", 'e'), Separator(), Last(Item("Quit", 'q')),
        Separator(), Item("Base Seed...", 'b'), Separator(), Item("Open Settings..."), Item("Save Settings..."),
        Item("Copy Batch Command"), Item("Save Picture..."), Item("Run On to the End", 'u'),
        Item("Open Lesson..."), Item("Save Genotypes...")},
       false},
      {kDisplayMenu,
       "Display",
       {Item("Next Map Display", 'm'), Item("Next Time Plot", 'g'), Separator(), Radio("All Three Loci", 1),
        Radio("Habitat Specialization Locus", 1), Radio("Habitat Preference Locus", 1),
        Radio("Mating Preference Locus", 1), Separator(), Radio("Habitat Specialization Plot", 2),
        Radio("Specialization & Preference Plot", 2), Radio("Mating Preference Plot", 2),
        Radio("Concordance Plot", 2), Separator(), Item("Zoom In", '+'), Item("Zoom Out", '-'),
        Item("Actual Size", '0'), Item("Fit to Window"), Checkable("Charts"), Separator(),
        Submenu("Speed", kSpeedMenu), Checkable("Presentation")},
       false},
      {kDataFileMenu,
       "Data File",
       {Item("Open Data File...", 'o'), Item("Close Data File", 'w'), Separator(),
        Submenu("Replicates", kReplicatesMenu), Submenu("Generations per Replicate", kGenerationsMenu),
        Separator(), Checkable("Timed Criteria"), Submenu("Averaged Variable", kAveragedVariablesMenu),
        Submenu("Averaging Span", kAveragingSpanMenu), Separator(), Checkable("Minimize Display", 'd'),
        Checkable("Run Replicates", 'l')},
       false},
      LessonsMenu(),
      // About is the Talveron menu's; its number here stays.
      {kHelpMenu, "Help", {Item("Guide"), Hidden(Item("About Talveron"))}, false},
      {kAveragingSpanMenu, "Averaging Span", CountItems(kAveragingSpans, " Generations"), true},
      {kReplicatesMenu, "Replicates", CountItems(kReplicateCounts, ""), true},
      {kAveragedVariablesMenu,
       "Averaged Variable",
       {Checkable("Record Averages"), Radio("Left Habitat Total"), Radio("Left Habitat Preference"),
        Radio("Left Habitat Specialization"), Radio("Left Habitat Mating Preference")},
       true},
      {kGenerationsMenu, "Generations per Replicate", CountItems(kGenerationCounts, ""), true},
      {kSpeedMenu,
       "Speed",
       {Radio("As Fast as It Goes"), Radio("1000 Generations a Second"), Radio("300 Generations a Second"),
        Radio("100 Generations a Second"), Radio("30 Generations a Second"), Radio("10 Generations a Second"),
        Radio("3 Generations a Second"), Radio("1 Generation a Second")},
       true},
  };
}

// The menu and item a submenu hangs from; {0, 0} for a menu of the bar.
std::pair<int, int> ParentItem(int submenu) {
  for (const MenuSpec& menu : TalveronMenuBar()) {
    for (std::size_t i = 0; i < menu.items.size(); ++i) {
      if (menu.items[i].submenu == submenu) return {menu.number, static_cast<int>(i + 1)};
    }
  }
  return {0, 0};
}

}  // namespace

const std::vector<MenuSpec>& TalveronMenuBar() {
  static const std::vector<MenuSpec> menuBar = BuildMenuBar();
  return menuBar;
}

bool MenuState::Checked(int menu, int item) const {
  const auto found = checked_.find({menu, item});
  return found != checked_.end() && found->second;
}

bool MenuState::Enabled(int menu, int item) const {
  const auto found = enabled_.find({menu, item});
  return found == enabled_.end() || found->second;
}

// ---------------------------------------------------------------------------
// Start-up

void Shell::MenuBarInit() {
  platform_.InstallMenuBar(TalveronMenuBar());
  Check(kAveragingSpanMenu, 1, true);
  recorder.choices.gAveragingSpan = 10;
  Check(kReplicatesMenu, 2, true);
  gTotalReplicates = 2;
  Check(kGenerationsMenu, 9, true);
  gTotalGenerations = 5000;
  Enable(kDataFileMenu, 2, false);
  Check(kDataFileMenu, 7, recorder.choices.gGetTimedCriteria);
  Check(kAveragedVariablesMenu, 1, !recorder.choices.gGetTimedCriteria);
  Check(kDataFileMenu, 11, display.gMinimizeDisplay);
  CheckDisplayItems();
  Check(kDisplayMenu, kChartsItem, chartsShown_);
  platform_.ShowMapKey(MapKeyFor(display));
  SetSpeed(1);
  Enable(kLessonsMenu, static_cast<int>(BuiltInLessons().size()) + kCloseLessonOffset, false);
  UpdateSeeds();
}

// ---------------------------------------------------------------------------
// Dispatch

void Shell::HandleMenuChoice(long choice) {
  if (choice == 0) return;
  const int menu = ChoiceMenu(choice);
  const int item = ChoiceItem(choice);
  switch (menu) {
    case kAppleMenu:
      if (item == 1) AboutBox();
      break;
    case kFileMenu:
      HandleFileChoice(item);
      break;
    case kDisplayMenu:
      HandleDisplayChoice(item);
      break;
    case kDataFileMenu:
      HandleDataFileChoice(item);
      break;
    case kLessonsMenu:
      HandleLessonsChoice(item);
      break;
    case kHelpMenu:
      if (item == 1) platform_.ShowGuide();
      if (item == 2) AboutBox();
      break;
    case kAveragingSpanMenu:
      if (item >= 1 && item <= kExtraSpanItem && (item < kExtraSpanItem || extraCounts_.count(menu) != 0)) {
        CheckOnly(kAveragingSpanMenu, 1, kExtraSpanItem, item);
        recorder.choices.gAveragingSpan =
            item == kExtraSpanItem ? extraCounts_[kAveragingSpanMenu] : kAveragingSpans[item - 1];
      }
      break;
    case kReplicatesMenu:
      if (item >= 1 && item <= kExtraReplicatesItem &&
          (item < kExtraReplicatesItem || extraCounts_.count(menu) != 0)) {
        CheckOnly(kReplicatesMenu, 1, kExtraReplicatesItem, item);
        gTotalReplicates = item == kExtraReplicatesItem ? extraCounts_[kReplicatesMenu] : kReplicateCounts[item - 1];
      }
      break;
    case kAveragedVariablesMenu:
      HandleAveragedVariables(item);
      break;
    case kGenerationsMenu:
      if (item >= 1 && item <= kExtraGenerationsItem &&
          (item < kExtraGenerationsItem || extraCounts_.count(menu) != 0)) {
        CheckOnly(kGenerationsMenu, 1, kExtraGenerationsItem, item);
        gTotalGenerations =
            item == kExtraGenerationsItem ? extraCounts_[kGenerationsMenu] : kGenerationCounts[item - 1];
      }
      break;
    case kSpeedMenu:
      SetSpeed(item);
      break;
    default:
      break;
  }
}

long Shell::MenuKey(char character) const {
  const char key = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
  if (key == 0) return 0;
  for (const MenuSpec& menu : TalveronMenuBar()) {
    for (std::size_t i = 0; i < menu.items.size(); ++i) {
      if (menu.items[i].commandKey != key) continue;
      const int item = static_cast<int>(i + 1);
      return ItemReachable(menu.number, item) ? MenuChoice(menu.number, item) : 0;
    }
  }
  return 0;
}

bool Shell::ItemReachable(int menu, int item) const {
  if (!menus.Enabled(menu, item)) return false;
  const auto [parentMenu, parentItem] = ParentItem(menu);
  return parentMenu == 0 || ItemReachable(parentMenu, parentItem);
}

// ---------------------------------------------------------------------------
// File menu

void Shell::HandleFileChoice(int item) {
  switch (item) {
    case 1:  // Restart
      if (!MayStopSeries()) break;
      if (runReplicates) {
        runReplicates = false;
        Check(kDataFileMenu, 12, false);
      }
      if (DataFileOpen()) {
        CloseDataFile();
        gGetData = false;
      }
      restart = true;
      break;
    case 3:  // Pause
      Check(kFileMenu, 3, true);
      WaitForSpaceKey("Paused: press the space bar");
      Check(kFileMenu, 3, false);
      break;
    case 4:  // Step mode
      step = !step;
      spacesKept_ = 0;  // a press kept for the other mode is not this mode's
      Check(kFileMenu, 4, step);
      if (step) {
        Check(kFileMenu, 5, false);
        cycle = false;
      }
      break;
    case 5:  // Cycle mode
      cycle = !cycle;
      spacesKept_ = 0;
      Check(kFileMenu, 5, cycle);
      if (cycle) {
        Check(kFileMenu, 4, false);
        step = false;
      }
      break;
    case 7:
      GetSettings();
      break;
    case 9:  // Quit
      if (!MayStopSeries()) break;
      if (runReplicates && DataFileOpen()) recordsLeftAtQuit_ = dataFile_->writtenPath();
      if (DataFileOpen()) CloseDataFile();
      quitRequested = true;
      break;
    case kBaseSeedItem:
      SetBaseSeed();
      break;
    case kOpenSettingsItem:
      OpenSettings();
      break;
    case kSaveSettingsItem:
      SaveSettings();
      break;
    case kCopyBatchCommandItem:
      platform_.CopyText(BatchCommand());
      break;
    case kSavePictureItem:
      platform_.SavePicture();
      break;
    case kRunOnItem:
      runOn_ = true;
      break;
    case kOpenLessonItem:
      OpenLessonFile();
      break;
    case kSaveGenotypesItem:
      SaveGenotypes();
      break;
    default:
      break;
  }
}

// A series stops only when the user says so.
bool Shell::MayStopSeries() {
  if (!runReplicates || !DataFileOpen()) return true;
  const std::string kept = std::filesystem::path(dataFile_->writtenPath()).filename().string();
  return platform_.Confirm("A series is running: " + std::to_string(gReplicateNumber - 1) + " of " +
                           std::to_string(passReplicates_) +
                           " replicates done. Stop it? The complete records are kept in " + kept);
}

void Shell::AboutBox() {
  const Port port = canvas_.GetPort();
  platform_.ShowAboutBox();
  canvas_.SetPort(port);
}

// A control the user leaves as it opened leaves its parameter alone, so OK
// never moves a value that lies off a pop-up's items.
void Shell::GetSettings() {
  const InForceTexts inForce = InForceValues(world.params);
  const ControlValues opened = DialogValues(world.params, inForce);
  ControlValues values = opened;
  if (platform_.RunSettingsDialog(values, inForce, ScheduledChangeLines(changes_))) {
    ApplyChangedControls(opened, values, world.params);
    // Kept for the replicates to come, also while a scheduled change is in force.
    if (beforeChanges_) ApplyChangedControls(opened, values, *beforeChanges_);
  }
}

// ---------------------------------------------------------------------------
// Display menu

void Shell::HandleDisplayChoice(int item) {
  const MapKey before = MapKeyFor(display);
  if (item == 1) NextMapDisplay();
  if (item == 2) NextGraph();
  if (item >= kFirstMapDisplayItem && item < kFirstMapDisplayItem + 4) ChooseMapDisplay(item - kFirstMapDisplayItem);
  if (item >= kFirstTimePlotItem && item < kFirstTimePlotItem + 4) ChooseGraph(item - kFirstTimePlotItem);
  if (item == kZoomInItem) platform_.ZoomViews(1);
  if (item == kZoomOutItem) platform_.ZoomViews(-1);
  if (item == kActualSizeItem) platform_.ZoomViews(0);
  if (item == kFitToWindowItem) platform_.ZoomViews(Platform::kFitToWindow);
  if (const MapKey key = MapKeyFor(display); key.caption != before.caption) {
    platform_.ShowMapKey(key);
    // The map is drawn afresh only as the next generation draws it.
    if (waiting_ > 0) {
      platform_.ShowNote("The map changes to " + key.caption.substr(0, key.caption.find(':')) +
                         " at the next generation");
      noteShown_ = true;
    }
  }
  if (item == kPresentationItem) SetPresentation(!presentation_);
  if (item == kChartsItem) {
    chartsShown_ = !chartsShown_;
    Check(kDisplayMenu, kChartsItem, chartsShown_);
    platform_.ShowChartsView(chartsShown_);
  }
  CheckDisplayItems();
}

void Shell::ChooseMapDisplay(int index) {
  bool* const modes[] = {&display.gAllLocusDisplay, &display.gHabitatSpecDisplay,
                         &display.gHabitatPreferenceDisplay, &display.gMatingPreferenceDisplay};
  for (int i = 0; i < 4; ++i) *modes[i] = i == index;
}

void Shell::ChooseGraph(int index) {
  bool* const graphs[] = {&display.gHabitatSpecGraph, &display.gHabitatPreferenceGraph,
                          &display.gMatingPreferenceGraph, &display.gConcordanceGraph};
  if (*graphs[index]) return;
  for (int i = 0; i < 4; ++i) *graphs[i] = i == index;
  views_.ClearGraphText(world.gGenerationNumber);
}

// The check marks show the map display and the time plot in force.
void Shell::CheckDisplayItems() {
  const bool modes[] = {display.gAllLocusDisplay, display.gHabitatSpecDisplay, display.gHabitatPreferenceDisplay,
                        display.gMatingPreferenceDisplay};
  const bool graphs[] = {display.gHabitatSpecGraph, display.gHabitatPreferenceGraph,
                         display.gMatingPreferenceGraph, display.gConcordanceGraph};
  for (int i = 0; i < 4; ++i) {
    Check(kDisplayMenu, kFirstMapDisplayItem + i, modes[i]);
    Check(kDisplayMenu, kFirstTimePlotItem + i, graphs[i]);
  }
}

void Shell::SetSpeed(int item) {
  if (item < 1 || item > kSpeedItems) return;
  CheckOnly(kSpeedMenu, 1, kSpeedItems, item);
  speed_ = kSpeeds[item - 1];
}

// All loci, habitat specialization, habitat preference, mating preference,
// all loci again; nothing happens when no mode is set.
void Shell::NextMapDisplay() {
  bool* const modes[] = {&display.gAllLocusDisplay, &display.gHabitatSpecDisplay,
                         &display.gHabitatPreferenceDisplay, &display.gMatingPreferenceDisplay};
  for (int i = 0; i < 4; ++i) {
    if (!*modes[i]) continue;
    *modes[i] = false;
    *modes[(i + 1) % 4] = true;
    return;
  }
}

void Shell::NextGraph() {
  bool* const graphs[] = {&display.gHabitatSpecGraph, &display.gHabitatPreferenceGraph,
                          &display.gMatingPreferenceGraph, &display.gConcordanceGraph};
  for (int i = 0; i < 4; ++i) {
    if (!*graphs[i]) continue;
    *graphs[i] = false;
    *graphs[(i + 1) % 4] = true;
    views_.ClearGraphText(world.gGenerationNumber);
    return;
  }
}

// ---------------------------------------------------------------------------
// Data File menu and its submenus

void Shell::HandleDataFileChoice(int item) {
  switch (item) {
    case 1:  // Open data file
      CreateDataFile();
      if (DataFileOpen()) {
        Enable(kDataFileMenu, 1, false);
        Enable(kDataFileMenu, 2, true);
      }
      break;
    case 2:  // Close data file
      if (DataFileOpen()) CloseDataFile();
      break;
    case 7: {  // Timed criteria
      RecordingChoices& choices = recorder.choices;
      choices.gGetTimedCriteria = !choices.gGetTimedCriteria;
      Check(kDataFileMenu, 7, choices.gGetTimedCriteria);
      if (choices.gGetTimedCriteria) {
        choices.gGetAverageLeftHabitatTotal = false;
        choices.gGetAveragedLeftHabitatPreference = false;
        choices.gGetAverageLeftHabitatSpecialization = false;
        choices.gGetAverageLeftHabitatMatingPreference = false;
        for (int i = 1; i <= 5; ++i) Check(kAveragedVariablesMenu, i, false);
      }
      break;
    }
    case 11:
      ToggleMinimizeDisplay();
      break;
    case 12:
      RunReplicates();
      break;
    default:
      break;
  }
}

void Shell::ToggleMinimizeDisplay() {
  display.gMinimizeDisplay = !display.gMinimizeDisplay;
  Check(kDataFileMenu, 11, display.gMinimizeDisplay);
  const Port port = canvas_.GetPort();
  canvas_.SetPort(Port::Graph);
  canvas_.EraseRect(canvas_.GetPortBounds());
  canvas_.SetPort(port);
}

// Timed criteria and an averaged variable are never recorded together:
// any item of this menu turns timed criteria off.
void Shell::HandleAveragedVariables(int item) {
  if (item < 1 || item > 5) return;
  RecordingChoices& choices = recorder.choices;
  if (item >= 2) {
    for (int i = 2; i <= 5; ++i) Check(kAveragedVariablesMenu, i, false);
    choices.gGetAverageLeftHabitatTotal = item == 2;
    choices.gGetAveragedLeftHabitatPreference = item == 3;
    choices.gGetAverageLeftHabitatSpecialization = item == 4;
    choices.gGetAverageLeftHabitatMatingPreference = item == 5;
    Check(kAveragedVariablesMenu, item, true);
  }
  choices.gGetTimedCriteria = false;
  Check(kDataFileMenu, 7, false);
  Check(kAveragedVariablesMenu, 1, true);
}

// ---------------------------------------------------------------------------
// Menu state

void Shell::Check(int menu, int item, bool checked) {
  menus.SetChecked(menu, item, checked);
  platform_.CheckMenuItem(menu, item, checked);
}

void Shell::Enable(int menu, int item, bool enabled) {
  menus.SetEnabled(menu, item, enabled);
  platform_.EnableMenuItem(menu, item, enabled);
}

void Shell::CheckOnly(int menu, int first, int last, int chosen) {
  for (int item = first; item <= last; ++item) Check(menu, item, false);
  Check(menu, chosen, true);
}

void Shell::EnableDataFileItems(bool enabled) {
  for (int item = 1; item <= 10; ++item) Enable(kDataFileMenu, item, enabled);
}

}  // namespace talveron::app
