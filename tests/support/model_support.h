// Small hand-built worlds and hooks that remember what the model reported.
// Needs the model alone.
#pragma once

#include <string>
#include <vector>

#include "model/world.h"

namespace talveron::testing {

struct RecordingHooks : ModelHooks {
  std::vector<std::string> infos;
  std::vector<std::string> errors;
  int beeps = 0;
  int waits = 0;
  int drawn = 0;
  int cleared = 0;
  int mapErasures = 0;
  std::vector<std::pair<int, int>> zeroResults;
  bool minimize = true;
  bool step = false;

  void ShowInfo(std::string_view action) override { infos.emplace_back(action); }
  void ShowError(std::string_view message) override { errors.emplace_back(message); }
  void WaitForKey() override { ++waits; }
  void Beep() override { ++beeps; }
  void DrawIndividual(int, int, const Individ&) override { ++drawn; }
  void ClearCell(int, int) override { ++cleared; }
  void EraseMapArea() override { ++mapErasures; }
  void ZeroResults(int total0, int total1) override { zeroResults.emplace_back(total0, total1); }
  bool MinimizeDisplay() const override { return minimize; }
  bool StepMode() const override { return step; }
};

// Draws of Random() that make Randomize(range) return `value`: the smallest
// magnitude whose scaled value is `value`.
inline int DrawFor(int value, int range) {
  for (int magnitude = 0; magnitude <= 32767; ++magnitude) {
    if (ScaleDraw(magnitude, range) == value) return magnitude;
  }
  return -1;
}

inline Individ Adult(int habitat, bool male, int x = 0, int y = 0) {
  Individ individual;
  individual.habitat = static_cast<std::uint8_t>(habitat);
  individual.sex = male;
  individual.x = static_cast<std::uint8_t>(x);
  individual.y = static_cast<std::uint8_t>(y);
  return individual;
}

inline Individ Female(int habitat = 0) { return Adult(habitat, false); }
inline Individ Male(int habitat = 0) { return Adult(habitat, true); }

}  // namespace talveron::testing
