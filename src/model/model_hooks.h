// What the model tells whoever shows it: status texts, non-fatal messages
// and drawing of individuals. The batch command and the desktop program each
// supply their own; the defaults show nothing.
#pragma once

#include <string_view>

#include "model/census.h"
#include "model/individual.h"

namespace talveron {

class ModelHooks {
 public:
  virtual ~ModelHooks() = default;

  // A phase starts ("Reproduction", "Dispersal", ...).
  virtual void ShowInfo(std::string_view /*action*/) {}
  // A non-fatal inconsistency or message; an interactive shell waits for the
  // space bar here.
  virtual void ShowError(std::string_view /*message*/) {}
  // The short pause after an extinction.
  virtual void WaitForKey() {}
  virtual void Beep() {}

  // Map drawing; never called while MinimizeDisplay() holds, except
  // EraseMapArea, which ClearIndividuals always does when adults are freed.
  virtual void DrawIndividual(int /*xx*/, int /*yy*/, const Individ& /*individual*/) {}
  virtual void ClearCell(int /*xx*/, int /*yy*/) {}
  virtual void EraseMapArea() {}

  // Results windows: cleared after founding, redrawn after every census.
  virtual void ZeroResults(int /*total0*/, int /*total1*/) {}
  virtual void ShowResults(const GeneFrequencies& /*frequencies*/) {}

  virtual bool MinimizeDisplay() const { return true; }
  virtual bool StepMode() const { return false; }
};

}  // namespace talveron
