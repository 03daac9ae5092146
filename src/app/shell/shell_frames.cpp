// Frames. At the fastest speed and in a series the generations run without
// drawing; a few times a second (thirty at the fastest speed, four in a
// series) the views are drawn from the state of the generation just run,
// exactly as drawing every generation piece by piece would have left them,
// and shown. Slower speeds, step and cycle mode draw piece by piece.
//
// What the piece-by-piece drawing leaves, generation by generation:
// - the map: Reproduction wipes every adult shown (or erases the area),
//   Dispersal draws every offspring where it settles, mortality wipes the
//   dead, and the habitat frames are drawn last: the map area white, the
//   survivors' discs and the frames. At a founding the frames come first
//   and the founders are drawn over them.
// - the head counts and bar graphs: redrawn whole by each census.
// - the time plot: one column a generation, wiped and plotted, the axis and
//   captions drawn again before it; a founding clears the plot.
// - the status line: the last status text of the generation.
// A frame draws the same from the population and from the censuses kept
// since the last frame.
#include <algorithm>

#include "app/shell/shell.h"

namespace talveron::app {

namespace {

constexpr int kTimeColumns = 902;    // the time plot's columns: older generations are drawn over
constexpr double kSpeedEvery = 1.0;  // the speed reached is shown this often, in seconds

}  // namespace

bool Shell::DrawsFrames() const { return runReplicates || (speed_ == 0 && !step && !cycle); }

bool Shell::DrawingPending() const {
  return infoPending_ || mapPending_ != MapDrawn::Nothing || erasePending_ || zeroPending_ || historyCleared_ ||
         !pendingCensus_.empty();
}

void Shell::FrameIfDue() {
  const double now = platform_.Seconds();
  CountSpeed();
  const double interval = runReplicates ? kSeriesFrameInterval : kFrameInterval;
  if (now - lastFrame_ < interval) return;
  // The frames keep their pace whatever a frame takes to draw: the next is
  // due an interval after this one fell due, not after it was shown. A frame
  // more than an interval late starts the pace afresh rather than hurry
  // several frames out to catch up.
  const double due = lastFrame_ + interval;
  ShowFrame();
  lastFrame_ = now - due < interval ? due : now;
}

void Shell::ShowFrame() {
  lastFrame_ = platform_.Seconds();
  DrawPending();
  platform_.ShowFrame();
  ++framesShown_;
}

void Shell::DrawPending() {
  const Port port = canvas_.GetPort();
  canvas_.SetPort(Port::View);
  if (infoPending_) views_.ShowInfo(infoAction_, infoGeneration_, step);

  const bool shown = !display.gMinimizeDisplay;
  // With the display on, the map holds the population as it stands; with
  // it minimized, only what the model erased is gone.
  if (mapPending_ != MapDrawn::Nothing && (erasePending_ || shown)) views_.EraseMapArea();
  if (mapPending_ == MapDrawn::Founders) views_.InitHabitats();
  if (mapPending_ != MapDrawn::Nothing && shown) {
    for (const Individ& adult : world.adults) {
      views_.DrawIndividual(CellLeft(adult.habitat, adult.x), CellTop(adult.y), adult);
    }
  }
  if (mapPending_ == MapDrawn::Survivors) views_.InitHabitats();

  if (zeroPending_) views_.ZeroResults();
  // Each column of the time plot holds the last generation drawn in it:
  // only the last 902 generations show.
  auto first = pendingCensus_.begin();
  int columns = 0;
  for (auto at = pendingCensus_.end(); at != pendingCensus_.begin() && columns < kTimeColumns;) {
    --at;
    if (!at->shown) break;
    first = at;
    ++columns;
  }
  if (columns > 0) {
    const auto last = pendingCensus_.end() - 1;
    for (auto at = first; at != last; ++at) views_.DrawTimeColumn(at->frequencies, at->generation);
    views_.ShowResults(last->frequencies, last->generation);
  }

  if (historyCleared_) platform_.ShowCharts(history);  // a replicate began: the charts start again
  for (const Census& census : pendingCensus_) {
    history.Add(census.generation, census.frequencies);
    TellProgress();  // a lesson tells each criterion at the generation it was met
  }
  if (!pendingCensus_.empty()) platform_.ShowCharts(history);

  pendingCensus_.clear();
  mapPending_ = MapDrawn::Nothing;
  infoPending_ = erasePending_ = zeroPending_ = historyCleared_ = false;
  canvas_.SetPort(port);
}

// Generations a second over the last second or so, from the framed
// generations of a run that goes on without waiting.
void Shell::CountSpeed() {
  const double now = platform_.Seconds();
  if (speedSince_ < 0) {
    speedSince_ = now;
    speedGenerations_ = 0;
    return;
  }
  ++speedGenerations_;
  if (now - speedSince_ < kSpeedEvery) return;
  platform_.ShowSpeedReached(static_cast<double>(speedGenerations_) / (now - speedSince_));
  speedShown_ = true;
  speedSince_ = now;
  speedGenerations_ = 0;
}

void Shell::StopSpeed() {
  speedSince_ = -1;
  if (!speedShown_) return;
  speedShown_ = false;
  platform_.ShowSpeedReached(0);
}

}  // namespace talveron::app
