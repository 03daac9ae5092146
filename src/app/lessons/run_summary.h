// What a run has shown, in plain words for a class: a sentence when a
// criterion A to E is first met, when the population dies out, and one
// that sums up the run when it ends. Read from the census of the replicate
// and the generations at which it met the criteria, as the data file
// records them.
#pragma once

#include <array>
#include <string>

#include "record/census_history.h"

namespace talveron::app {

// The sentence for criterion `criterion` (0 for A to 4 for E) met in
// `generation`: "Generation 44: most individuals in the left habitat now
// prefer it, and most in the right prefer the right."
std::string CriterionSentence(const CensusHistory& history, int criterion, long generation);

// The sentences of the criteria first met in the last generation of the
// history, one after the other; empty when none was.
std::string NewCriteriaSentences(const CensusHistory& history);

// The run as a whole, when it has ended (or died out) at its last
// generation: which criteria were met and when, and whether the mating
// preferences split the habitats or both took the same one.
std::string RunEndSentence(const CensusHistory& history);

// Nobody left in either habitat in the history's last generation.
bool DiedOut(const CensusHistory& history);

}  // namespace talveron::app
