#include "app/lessons/run_summary.h"

#include "record/census_totals.h"

namespace talveron::app {

namespace {

constexpr const char* kColours[] = {"red", "blue"};
constexpr const char* kSides[] = {"left", "right"};

// The mating-preference type (0 or 1) held by more than half of a
// habitat's adults in `generation`, -1 when none is; as the criteria D and
// E and their classification read it.
int PredominantMating(const CensusHistory& history, long generation, int habitat) {
  const int adults = history.Adults(generation, habitat);
  for (int type = 0; type < 2; ++type) {
    if (PerMille(history.Count(generation, habitat, Locus::Mating, type), adults) > 500) return type;
  }
  return -1;
}

std::string MatingSentence(const CensusHistory& history, long generation, bool nearlyAll) {
  const int left = PredominantMating(history, generation, 0);
  const int right = PredominantMating(history, generation, 1);
  const std::string share = nearlyAll ? "nearly all" : "most";
  if (left < 0 || right < 0) return share + " individuals in each habitat now prefer one kind of mate.";
  if (left == right) {
    return share + " individuals in both habitats now prefer " + kColours[left] +
           " mates: the same taste on both sides, a fad, not two species.";
  }
  return share + " individuals in the left habitat now prefer " + kColours[left] + " mates, and " + share +
         " in the right prefer " + kColours[right] + " mates" +
         (nearlyAll ? ": two groups that no longer mix, the start of two species." : ".");
}

}  // namespace

std::string CriterionSentence(const CensusHistory& history, int criterion, long generation) {
  std::string text = "Generation " + std::to_string(generation) + ": ";
  switch (criterion) {
    case 0:
      return text + "most individuals in the left habitat now prefer it, and most in the right prefer the right.";
    case 1:
      return text + "most individuals in each habitat are now specialists suited to it.";
    case 2:
      return text + "nearly all individuals (over 95%) in each habitat are now specialists suited to it.";
    case 3:
      return text + MatingSentence(history, generation, false);
    case 4:
      return text + MatingSentence(history, generation, true);
    default:
      return text;
  }
}

std::string NewCriteriaSentences(const CensusHistory& history) {
  if (history.empty()) return {};
  const long last = history.LastGeneration();
  const auto met = history.Criteria();
  std::string text;
  for (int c = 0; c < CensusHistory::kCriteria; ++c) {
    if (met[static_cast<std::size_t>(c)] != last) continue;
    if (!text.empty()) text += ' ';
    text += CriterionSentence(history, c, last);
  }
  return text;
}

bool DiedOut(const CensusHistory& history) {
  if (history.empty()) return false;
  const long last = history.LastGeneration();
  return history.Adults(last, 0) == 0 && history.Adults(last, 1) == 0;
}

std::string RunEndSentence(const CensusHistory& history) {
  if (history.empty()) return {};
  const long last = history.LastGeneration();
  if (DiedOut(history)) {
    long gone = last;
    while (gone > history.FirstGeneration() && history.Adults(gone - 1, 0) + history.Adults(gone - 1, 1) == 0) --gone;
    return "Generation " + std::to_string(gone) +
           ": the population has died out. Too few young survived to replace their parents.";
  }
  const auto met = history.Criteria();
  std::string reached;
  for (int c = 0; c < CensusHistory::kCriteria; ++c) {
    if (met[static_cast<std::size_t>(c)] == 0) continue;
    if (!reached.empty()) reached += ", ";
    reached += std::string(1, static_cast<char>('A' + c)) + " in generation " +
               std::to_string(met[static_cast<std::size_t>(c)]);
  }
  std::string text = "The run ended at generation " + std::to_string(last) + ". ";
  if (reached.empty()) return text + "None of the milestones A to E was reached.";
  text += "Milestones reached: " + reached + ".";
  // The classification the data file records with criterion E.
  const long e = met[4];
  if (e == 0) return text + " No mating preference took over both habitats nearly completely.";
  const int left = PredominantMating(history, e, 0);
  const int right = PredominantMating(history, e, 1);
  if (left < 0 || right < 0) return text;
  if (left == right) {
    return text + " Both habitats took the same mating preference (" + kColours[left] + "): a fad, not speciation.";
  }
  return text + " Speciation: the " + kSides[0] + " habitat prefers " + kColours[left] + " mates and the " +
         kSides[1] + " habitat " + kColours[right] + " mates.";
}

}  // namespace talveron::app
