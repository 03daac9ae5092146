// What a run has shown, in plain words for a class: a sentence when a
// criterion A to E is first met, when the settings change, when the
// population dies out (and why), and one that sums up the run when it
// ends; and the list of the milestones reached so far. Read from the
// census of the replicate and the generations at which it met the
// criteria, as the data file records them.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "model/parameter_schedule.h"
#include "model/parameters.h"
#include "record/census_history.h"

namespace talveron::app {

// The sentence for criterion `criterion` (0 for A to 4 for E) met in
// `generation`: "Generation 44: most individuals in the left habitat now
// prefer it, and most in the right prefer the right."
std::string CriterionSentence(const CensusHistory& history, int criterion, long generation);

// The sentences of the criteria first met in the last generation of the
// history, one after the other; empty when none was.
std::string NewCriteriaSentences(const CensusHistory& history);

// The lines of the milestones list for the criteria first met in the last
// generation of the history: "A, generation 44: most individuals in the
// left habitat now prefer it, and most in the right prefer the right."
std::vector<std::string> NewMilestones(const CensusHistory& history);

// A scheduled change of the settings in plain words: "half of the young
// move to the other habitat" (each parameter it sets, joined by "and").
std::string ChangeWords(const ParameterChange& change);
// "From generation 151, half of the young move to the other habitat."
std::string ChangeSentence(const ParameterChange& change);
// "Change, generation 151: half of the young move to the other habitat."
std::string ChangeMilestone(const ParameterChange& change);

// What one generation of a run did, kept to tell why a population died
// out.
struct GenerationFate {
  long generation = 0;
  int adults = 0;       // before Reproduction
  int females = 0;      // of them
  int young = -1;       // born in Reproduction; -1 while not known
  int survivors = -1;   // adults after Mortality; -1 while not known
};

// Why the population died out, in a sentence or two, worked out from what
// its last generations did (`fates`, oldest first; a generation cut short
// by the extinction last) and the parameters in force: no female was
// left, too few females found a mate (and what became of the others),
// each brood was too small to replace its parents, or too few young
// survived to grow up.
std::string ExtinctionCause(std::span<const GenerationFate> fates, const Parameters& params);

// The run as a whole, when it has ended (or died out) at its last
// generation: which criteria were met and when, and whether the mating
// preferences split the habitats or both took the same one. Of a
// population that died out only when; ExtinctionCause says why.
std::string RunEndSentence(const CensusHistory& history);

// Nobody left in either habitat in the history's last generation.
bool DiedOut(const CensusHistory& history);

}  // namespace talveron::app
