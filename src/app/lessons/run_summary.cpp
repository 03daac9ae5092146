#include "app/lessons/run_summary.h"

#include <algorithm>
#include <cmath>

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

// A criterion met, in words that follow "Generation 44: ".
std::string CriterionWords(const CensusHistory& history, int criterion, long generation) {
  switch (criterion) {
    case 0:
      return "most individuals in the left habitat now prefer it, and most in the right prefer the right.";
    case 1:
      return "most individuals in each habitat are now specialists suited to it.";
    case 2:
      return "nearly all individuals (over 95%) in each habitat are now specialists suited to it.";
    case 3:
      return MatingSentence(history, generation, false);
    case 4:
      return MatingSentence(history, generation, true);
    default:
      return {};
  }
}

// The criteria first met in the history's last generation.
std::vector<int> NewCriteria(const CensusHistory& history) {
  std::vector<int> criteria;
  if (history.empty()) return criteria;
  const auto met = history.Criteria();
  for (int c = 0; c < CensusHistory::kCriteria; ++c) {
    if (met[static_cast<std::size_t>(c)] == history.LastGeneration()) criteria.push_back(c);
  }
  return criteria;
}

// "half", "30%": a share of a group in words a class reads at once.
std::string Share(int percent) {
  switch (percent) {
    case 0: return "none";
    case 25: return "a quarter";
    case 50: return "half";
    case 75: return "three quarters";
    case 100: return "all";
    default: return std::to_string(percent) + "%";
  }
}

std::string Percent(double fraction) { return std::to_string(static_cast<int>(std::lround(fraction * 100))) + "%"; }

// One parameter's new value in words; the parameter's own meaning and the
// value where no plainer words are known.
std::string ParameterWords(const ParameterInfo& info, const Parameters& values) {
  const std::string_view name = info.name;
  const std::string value = FormatParameter(values, info);
  const bool on = value == "1";
  if (name == "natalDispersalRate") {
    const int rate = values.natalDispersalRate;
    if (rate == 0) return "no young move to the other habitat";
    return Share(rate) + " of the young move to the other habitat";
  }
  if (name == "restrictedNatalDispersal") {
    return on ? "the young stay in the habitat where they were born, unless they migrate"
              : "the young settle in the habitat they prefer";
  }
  if (name == "matingDispersalRate") {
    return values.matingDispersalRate == 0
               ? "no female looks for a mate in the other habitat"
               : Share(values.matingDispersalRate) + " of the females look for a mate in the other habitat";
  }
  if (name == "restrictedMatingDispersal") {
    return on ? "females mate only with males of the habitat they search"
              : "females accept males of either habitat";
  }
  if (name == "selectionFactor") {
    if (values.selectionFactor == 0) return "specialists survive no better at home than away";
    return "specialists survive " + Percent(values.selectionFactor) + " better in their own habitat and " +
           Percent(values.selectionFactor) + " worse in the other";
  }
  if (name == "gSearchCost") {
    if (values.gSearchCost == 0) return "looking for a mate costs a female nothing";
    return "each male a female meets costs her a " + Percent(values.gSearchCost) + " risk of dying";
  }
  if (name == "numberOfKids") {
    return "a female who finds a mate has " + value + " young";
  }
  if (name == "mutationRate") return "each gene changes by chance in one young in " + value;
  if (name == "gMatingPrefTarget") {
    constexpr const char* kJudged[] = {"his own mating preference", "his habitat specialization", "a signal"};
    return "females judge a male by " + std::string(kJudged[std::clamp<int>(values.gMatingPrefTarget, 0, 2)]);
  }
  return std::string(info.meaning) + ": " + value;
}

}  // namespace

std::string CriterionSentence(const CensusHistory& history, int criterion, long generation) {
  return "Generation " + std::to_string(generation) + ": " + CriterionWords(history, criterion, generation);
}

std::string NewCriteriaSentences(const CensusHistory& history) {
  std::string text;
  for (int c : NewCriteria(history)) {
    if (!text.empty()) text += ' ';
    text += CriterionSentence(history, c, history.LastGeneration());
  }
  return text;
}

std::vector<std::string> NewMilestones(const CensusHistory& history) {
  std::vector<std::string> lines;
  for (int c : NewCriteria(history)) {
    const long generation = history.LastGeneration();
    lines.push_back(std::string(1, static_cast<char>('A' + c)) + ", generation " + std::to_string(generation) + ": " +
                    CriterionWords(history, c, generation));
  }
  return lines;
}

std::string ChangeWords(const ParameterChange& change) {
  std::string words;
  const auto table = ParameterTable();
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (!change.Sets(i)) continue;
    if (!words.empty()) words += " and ";
    words += ParameterWords(table[i], change.values);
  }
  return words;
}

std::string ChangeSentence(const ParameterChange& change) {
  return "From generation " + std::to_string(change.generation) + ", " + ChangeWords(change) + ".";
}

std::string ChangeMilestone(const ParameterChange& change) {
  return "Change, generation " + std::to_string(change.generation) + ": " + ChangeWords(change) + ".";
}

std::string ExtinctionCause(std::span<const GenerationFate> fates, const Parameters& params) {
  // The generations that had adults to breed; the one cut short by the
  // extinction left none alive.
  long adults = 0, females = 0, young = 0, survivors = 0;
  int generations = 0;
  const GenerationFate* last = nullptr;
  for (const GenerationFate& fate : fates) {
    if (fate.adults == 0 || fate.young < 0) continue;
    last = &fate;
    ++generations;
    adults += fate.adults;
    females += fate.females;
    young += fate.young;
    survivors += std::max(0, fate.survivors);
  }
  if (last == nullptr) return {};
  if (last->females == 0) {
    return "Only males were left in generation " + std::to_string(last->generation) + ": no female to have young.";
  }
  const std::string span = generations == 1 ? "in the last generation"
                                            : "in the last " + std::to_string(generations) + " generations";
  if (young >= adults) {
    return "Enough young were born (" + std::to_string(young) + " " + span + ", for " + std::to_string(adults) +
           " adults), but only " + std::to_string(survivors) + " of them survived to grow up.";
  }
  const int kids = params.numberOfKids;
  if (kids == 0) return "No female had young: offspring per mating is 0.";
  // Each brood is `kids` young, unless a mistaken mating divides it.
  const bool exact = params.gFalseAlarmPayoff == 1 || params.gMatingPrefTarget != 2 || params.gFalseAlarmRate == 0;
  const long broods = young / kids;
  const std::string replace = ", fewer than the " + std::to_string(adults) + " adults they had to replace.";
  if (2 * broods >= females) {
    return "Most females found a mate, but each had only " + std::to_string(kids) + " young: " + span + " " +
           std::to_string(females) + " females had " + std::to_string(young) + " young" + replace;
  }
  std::string text = "Too few females found a mate: " + span + " " + (exact ? "" : "about ") +
                     std::to_string(broods) + " of " + std::to_string(females) + " females did, and had " +
                     std::to_string(young) + " young" + replace;
  if (params.gSearchCost > 0) {
    text += " The others died looking for one: each male a female meets costs her a " + Percent(params.gSearchCost) +
            " risk of dying.";
  } else {
    text += " The others found no male they would accept.";
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
    return "Generation " + std::to_string(gone) + ": the population has died out.";
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
