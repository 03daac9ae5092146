// The map, the results graphs and the status line, drawn through a Canvas.
#pragma once

#include <string_view>

#include "app/drawing/canvas.h"
#include "model/individual.h"
#include "record/census_totals.h"

namespace talveron::app {

// Display choices set by the Display and Data File menus.
struct DisplayFlags {
  // map display mode: exactly one is set
  bool gAllLocusDisplay = true;
  bool gHabitatSpecDisplay = false;
  bool gHabitatPreferenceDisplay = false;
  bool gMatingPreferenceDisplay = false;
  // time plot: exactly one is set
  bool gHabitatSpecGraph = true;
  bool gHabitatPreferenceGraph = false;
  bool gMatingPreferenceGraph = false;
  bool gConcordanceGraph = false;
  bool gMinimizeDisplay = false;
};

class Views {
 public:
  Views(Canvas& canvas, const DisplayFlags& flags) : canvas_(canvas), flags_(flags) {}

  // --- map view (draws into the current port, selects none) ---
  void DrawIndividual(int xx, int yy, const Individ& individual);
  void ClearCell(int xx, int yy);
  void EraseMapArea();  // top 0, left 0, bottom 400, right 640
  void InitHabitats();  // the two habitat frames in black

  // --- results (leave the map window's port current) ---
  void ShowResults(const GeneFrequencies& frequencies, int generationNumber);
  // The time plot's column of a generation that was not drawn when it ran:
  // wiped and its points drawn, without the captions and the axis, which
  // the next ShowResults draws again over every column.
  void DrawTimeColumn(const GeneFrequencies& frequencies, int generationNumber);
  void ZeroResults();
  void ClearGraphText(int generationNumber);

  // --- status line (ShowInfo leaves the map port current) ---
  void ShowInfo(std::string_view action, int generationNumber, bool step);
  // The two halves of a non-fatal message around its wait for the space
  // bar; both select the text port and leave it current.
  void DrawErrorLine(std::string_view message);
  void EraseErrorLine();

  Canvas& canvas() { return canvas_; }

 private:
  void TimeColumn(const CensusTotals& sums, int generationNumber, bool captions);

  Canvas& canvas_;
  const DisplayFlags& flags_;
};

}  // namespace talveron::app
