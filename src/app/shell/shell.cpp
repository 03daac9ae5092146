// The run loop, the event dispatch, the waits, the seeds and what the model
// shows through the views.
#include "app/shell/shell.h"

#include <algorithm>
#include <new>

#include "model/fatal_error.h"
#include "run/series.h"

namespace talveron::app {

namespace {

constexpr std::string_view kStepPrompt = "Step mode: space bar for the next step";

}  // namespace

Shell::Shell(Platform& platform, Canvas& canvas, std::uint64_t baseSeed)
    : world(this),
      platform_(platform),
      canvas_(canvas),
      views_(canvas, display),
      nextSeed_(baseSeed),
      seriesSeed_(baseSeed) {}

Shell::~Shell() { world.SetHooks(nullptr); }

// ---------------------------------------------------------------------------
// The loop

int Shell::MainLoop() {
  try {
    while (!quitRequested) RunPass();
  } catch (const FatalError& error) {
    return Fatal(error.what());
  } catch (const std::bad_alloc&) {
    return Fatal("Out of memory!");
  }
  return 0;
}

// A pass: one single run, or a series of gTotalReplicates replicates while
// runReplicates is set. The number of replicates is fixed when it begins.
void Shell::RunPass() {
  restart = false;
  passReplicates_ = runReplicates ? gTotalReplicates : 1;
  gReplicateNumber = 1;
  while (gReplicateNumber <= passReplicates_) {
    if (!RunReplicate() || restart) break;
    ++gReplicateNumber;
  }
  if (quitRequested) return;
  EndPass();
}

bool Shell::RunReplicate() {
  BeginReplicate();
  SetActivity(RunningActivity());
  if (!runReplicates) WaitForSpaceKey("Press the space bar to start generation 1");
  // gTotalGenerations is read before every generation: a change from the
  // menu applies to the running replicate.
  for (world.gGenerationNumber = 1; world.gGenerationNumber <= gTotalGenerations; ++world.gGenerationNumber) {
    if (quitRequested) return false;
    Poll();
    if (Abandoning()) return false;
    const double start = speed_ > 0 && !runReplicates ? platform_.Seconds() : 0;
    RunGeneration();
    if (speed_ > 0 && !runReplicates) Pace(start);
  }
  if (Abandoning()) return false;
  if (gGetData) RecordReplicate();
  return true;
}

// Waits, without taking the processor, until a generation begun at
// `generationStart` has had its share of a second. A pause or a step wait
// inside it counts as time spent.
void Shell::Pace(double generationStart) {
  const double due = generationStart + 1.0 / speed_;
  for (double now = platform_.Seconds(); now < due && speed_ > 0 && !runReplicates && !Abandoning();
       now = platform_.Seconds()) {
    if (const auto event = platform_.WaitNextEventFor(std::min(due - now, 0.25))) DoRunEvent(*event);
  }
}

void Shell::BeginReplicate() {
  platform_.FlushEvents();
  spacesKept_ = 0;
  runOn_ = false;
  // A series draws frames from the founding on; a single run shows its
  // founders as they are placed.
  if (!runReplicates && DrawingPending()) ShowFrame();
  framed_ = runReplicates;
  UndoScheduledChanges();
  world.SeedRandom(TakeSeed());
  world.gGenerationNumber = 0;
  ShowInfo("Start");
  history.Clear();
  TellNewRun();
  if (framed_) {
    // The generations of the replicate before no longer show anywhere.
    pendingCensus_.clear();
    historyCleared_ = true;
  } else {
    platform_.ShowCharts(history);
  }
  world.ClearIndividuals();
  DrawHabitatFrames();
  if (framed_) mapPending_ = MapDrawn::Founders;
  world.InitPopulations();
  mapReplicate_ = gReplicateNumber;
  mapGeneration_ = 0;
}

void Shell::RunGeneration() {
  if (noteShown_) {
    platform_.ShowNote("");
    noteShown_ = false;
  }
  framed_ = DrawsFrames();
  if (framed_) {
    // Reproduction wipes every adult shown; the survivors are drawn anew.
    mapPending_ = MapDrawn::Survivors;
  } else {
    if (DrawingPending()) ShowFrame();
    StopSpeed();
  }
  if (!changes_.empty()) ApplyScheduledChange();
  midGeneration_ = true;
  world.Reproduction();
  if (step) WaitForStep(kStepPrompt);
  world.Dispersal();
  if (step) WaitForStep(kStepPrompt);
  world.Mortality();
  midGeneration_ = false;
  mapGeneration_ = world.gGenerationNumber;
  DrawHabitatFrames();
  world.TallyLinkedList();
  world.ChangeEnvironmentIfDue();
  if (framed_) {
    pendingCensus_.push_back({world.gGenerationNumber, !display.gMinimizeDisplay, world.geneFrequencies});
  } else {
    history.Add(world.gGenerationNumber, world.geneFrequencies);
    platform_.ShowCharts(history);
    TellProgress();
  }
  if (gGetData) RecordGeneration();
  if (framed_) FrameIfDue();
  if (step) WaitForStep(kStepPrompt);
  if (cycle) WaitForStep("Cycle mode: space bar for the next generation");
}

void Shell::WaitForStep(std::string_view prompt) {
  if (spacesKept_ > 0) {
    --spacesKept_;
    return;
  }
  WaitForSpaceKey(prompt);
}

void Shell::EndPass() {
  std::string prompt = "Run finished: space bar for a new population";
  if (runReplicates) {
    if (restart) return;  // Run replicates again: a new series from replicate 1
    runReplicates = false;
    Check(kDataFileMenu, 12, false);
    EnableDataFileItems(true);
    if (DataFileOpen()) CloseDataFile(true);
    if (!seedChosenInSeries_) seriesSeed_ = seriesBaseSeed_ + static_cast<std::uint64_t>(passReplicates_);
    UpdateSeeds();
    prompt = "Series finished: " + std::to_string(passReplicates_) + " records in " + seriesFileName_;
  }
  if (restart) return;
  TellRunEnd();
  WaitForSpaceKey(prompt);
}

void Shell::Poll() {
  if (const auto event = platform_.WaitNextEvent(1)) DoRunEvent(*event);
}

void Shell::DoRunEvent(const Event& event) {
  DoEvent(event);
  const bool space = event.what == Event::Kind::KeyDown && event.character == ' ' && !event.commandKey;
  if (space && (step || cycle) && !runReplicates) ++spacesKept_;
}

void Shell::DrawHabitatFrames() {
  if (framed_) return;  // drawn with the frame
  views_.InitHabitats();
}

int Shell::Fatal(const std::string& message) {
  platform_.Beep();
  platform_.ShowFatalError(FatalErrorReport(message));
  return 1;
}

// ---------------------------------------------------------------------------
// Events and waits

void Shell::DoEvent(const Event& event) {
  // A command acts on the views as the generations so far left them.
  const bool command = event.what == Event::Kind::MenuSelect ||
                       ((event.what == Event::Kind::KeyDown || event.what == Event::Kind::AutoKey) && event.commandKey);
  if (command && DrawingPending()) ShowFrame();
  switch (event.what) {
    case Event::Kind::MenuSelect:
      if (ItemReachable(event.menu, event.item)) HandleMenuChoice(MenuChoice(event.menu, event.item));
      break;
    case Event::Kind::KeyDown:
    case Event::Kind::AutoKey:
      if (event.commandKey) HandleMenuChoice(MenuKey(event.character));
      break;
    case Event::Kind::MouseDown:
      break;  // clicks that choose no menu item do nothing
  }
}

// What the space bar does in a wait, in a word or two, for a button.
std::string_view Shell::SpaceAction(std::string_view prompt) {
  if (prompt.starts_with("Press the space bar to start")) return "Start";
  if (prompt.starts_with("Step mode")) return "Next Step";
  if (prompt.starts_with("Cycle mode")) return "Next Generation";
  if (prompt.starts_with("Run finished") || prompt.starts_with("Series finished")) return "New Population";
  return "Continue";
}

void Shell::WaitForSpaceKey(std::string_view prompt) {
  if (runReplicates || Abandoning()) return;
  // What the user waits at is on the screen.
  if (DrawingPending()) ShowFrame();
  StopSpeed();
  const std::string before = activity_;
  const std::string actionBefore = spaceAction_;
  SetActivity(std::string(prompt));
  spaceAction_ = std::string(SpaceAction(prompt));
  platform_.ShowSpaceAction(spaceAction_);
  ++waiting_;
  while (!runReplicates && !Abandoning()) {
    const auto event = platform_.WaitNextEvent(60);
    if (!event) continue;
    DoEvent(*event);
    if (event->what == Event::Kind::KeyDown && event->character == ' ') break;
    if (extinctionWait_ && runOn_) break;
  }
  --waiting_;
  SetActivity(before);
  spaceAction_ = actionBefore;
  platform_.ShowSpaceAction(spaceAction_);
}

void Shell::SetActivity(std::string text) {
  if (text == activity_) return;
  activity_ = std::move(text);
  platform_.ShowActivity(activity_);
}

std::string Shell::RunningActivity() const {
  if (runReplicates) {
    return "Series: replicate " + std::to_string(gReplicateNumber) + " of " + std::to_string(passReplicates_) +
           ", " + seriesFileName_;
  }
  return "Running: Ctrl+P pauses, Ctrl+T steps, Ctrl+R founds a new population";
}

// The pause after an extinction. A series and Run On to the End do not
// stop for it: they only poll, as every generation does.
void Shell::WaitForKey() {
  if (runReplicates || runOn_ || Abandoning()) {
    if (const auto event = platform_.WaitNextEvent(1)) DoRunEvent(*event);
    return;
  }
  if (DrawingPending()) ShowFrame();
  StopSpeed();
  if (const auto event = platform_.WaitNextEvent(60)) DoEvent(*event);
}

// ---------------------------------------------------------------------------
// Seeds. A single run takes the next seed of its counter. A series takes
// base, base + 1, ... from the series seed, as the batch command does, and
// when it has run to its end the series seed moves past the seeds it took,
// so the next series is new data. A seed typed in Base Seed or read from a
// settings file is both the next run's seed and the next series' base.

std::uint64_t Shell::TakeSeed() {
  if (runReplicates) {
    if (gReplicateNumber == 1) {
      seriesBaseSeed_ = seriesSeed_;
      seedChosenInSeries_ = false;
    }
    currentSeed_ = ReplicateSeed(seriesBaseSeed_, gReplicateNumber);
  } else {
    currentSeed_ = nextSeed_++;
  }
  UpdateSeeds();
  return currentSeed_;
}

void Shell::UpdateSeeds() {
  SeedStatus seeds;
  seeds.current = currentSeed_;
  seeds.next = nextSeed_;
  seeds.series = runReplicates;
  seeds.seriesBase = seriesBaseSeed_;
  seeds.replicate = gReplicateNumber;
  seeds.replicates = passReplicates_;
  seeds.nextSeries = seriesSeed_;
  platform_.ShowSeeds(seeds);
}

void Shell::SetSeeds(std::uint64_t seed) {
  nextSeed_ = seed;
  seriesSeed_ = seed;
  seedChosenInSeries_ = runReplicates;
  UpdateSeeds();
}

void Shell::SetBaseSeed() {
  if (const auto seed = platform_.AskBaseSeed(nextSeed_)) SetSeeds(*seed);
}

// ---------------------------------------------------------------------------
// What the model shows

void Shell::ShowInfo(std::string_view action) {
  if (framed_) {
    infoAction_ = std::string(action);
    infoGeneration_ = world.gGenerationNumber;
    infoPending_ = true;
    return;
  }
  views_.ShowInfo(action, world.gGenerationNumber, step);
}

// An extinct population reports itself in every phase of every generation
// left; the status bar says why the run waits and offers the way on in one
// step: a new population, or the run to its end without these stops.
void Shell::ShowError(std::string_view message) {
  const bool extinct = message.starts_with("Extinct") && world.totalAdults() == 0 && world.totalYoung() == 0;
  if (extinct && runOn_) return;
  // Drawn and erased at once when nothing waits: a frame never shows it.
  if (framed_ && (runReplicates || Abandoning())) return;
  if (DrawingPending()) ShowFrame();
  const Port port = canvas_.GetPort();
  views_.DrawErrorLine(message);
  if (extinct) TellExtinction();
  extinctionWait_ = extinct;
  WaitForSpaceKey(extinct ? kExtinctPrompt : kContinuePrompt);
  extinctionWait_ = false;
  views_.EraseErrorLine();
  canvas_.SetPort(port);
}

void Shell::Beep() { platform_.Beep(); }

void Shell::DrawIndividual(int xx, int yy, const Individ& individual) {
  views_.DrawIndividual(xx, yy, individual);
}

void Shell::ClearCell(int xx, int yy) { views_.ClearCell(xx, yy); }

void Shell::EraseMapArea() {
  if (framed_) {
    erasePending_ = true;
    return;
  }
  views_.EraseMapArea();
}

void Shell::ZeroResults(int /*total0*/, int /*total1*/) {
  if (framed_) {
    // The results of the generations before are gone from the views.
    zeroPending_ = true;
    for (Census& census : pendingCensus_) census.shown = false;
    return;
  }
  views_.ZeroResults();
}

void Shell::ShowResults(const GeneFrequencies& frequencies) {
  views_.ShowResults(frequencies, world.gGenerationNumber);
}

}  // namespace talveron::app
