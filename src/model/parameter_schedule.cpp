#include "model/parameter_schedule.h"

#include <algorithm>
#include <map>

namespace talveron {
namespace {

std::optional<std::size_t> IndexOf(std::string_view name) {
  const auto table = ParameterTable();
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i].name == name) return i;
  }
  return std::nullopt;
}

std::string Named(long long generation) { return "change at generation " + std::to_string(generation) + ": "; }

}  // namespace

std::optional<std::string> UnchangeableReason(std::string_view name) {
  if (name == "initiallyOneHabitat") return "is read only at the founding of a replicate";
  if (name == "noMigration" || name == "asymmetricalMatingDispersal") {
    return "is only recorded in the data file; no phase of a generation reads it";
  }
  return std::nullopt;
}

std::optional<std::string> ParameterSchedule::Add(long long generation, std::string_view name,
                                                  std::string_view text) {
  static_assert(kMaxScheduledChanges > 0);
  if (ParameterTable().size() > 32) return "too many parameters for a change";
  const std::string named = Named(generation);
  if (generation < 1) return named + "allowed generations are whole numbers from 1 to the last generation";
  const auto index = IndexOf(name);
  if (!index) return named + "unknown parameter '" + std::string(name) + "' (see --help for the list)";
  if (auto reason = UnchangeableReason(name)) {
    return named + std::string(name) + " cannot change during a replicate: it " + *reason;
  }
  ParameterChange* change = nullptr;
  for (std::size_t i = 0; i < size(); ++i) {
    if (changes_[i].generation == generation) change = &changes_[i];
  }
  if (change != nullptr && change->Sets(*index)) {
    return named + std::string(name) + " is set twice; set each parameter once per generation";
  }
  Parameters values = change != nullptr ? change->values : Parameters{};
  if (auto error = SetParameter(values, name, text)) return named + *error;
  if (change == nullptr) {
    if (size() == kMaxScheduledChanges) {
      return named + "more than " + std::to_string(kMaxScheduledChanges) +
             " generations with changes; allowed are at most that";
    }
    change = &changes_.emplace_back();
    change->generation = generation;
  }
  change->values = values;
  change->changed |= 1u << *index;
  return std::nullopt;
}

void ParameterSchedule::Remove(long long generation, std::string_view name) {
  const auto index = IndexOf(name);
  if (!index) return;
  for (std::size_t i = 0; i < size(); ++i) {
    if (changes_[i].generation != generation) continue;
    changes_[i].changed &= ~(1u << *index);
    if (changes_[i].changed == 0) changes_.erase(changes_.begin() + static_cast<std::ptrdiff_t>(i));
    return;
  }
}

const ParameterChange* ParameterSchedule::At(long long generation) const {
  for (const ParameterChange& change : changes()) {
    if (change.generation == generation) return &change;
  }
  return nullptr;
}

bool ParameterSchedule::ApplyAt(long long generation, Parameters& params) const {
  const ParameterChange* change = At(generation);
  if (change == nullptr) return false;
  const auto table = ParameterTable();
  for (std::size_t i = 0; i < table.size(); ++i) {
    // The text of a value reads back as the same value.
    if (change->Sets(i)) SetParameter(params, table[i].name, FormatParameter(change->values, table[i]));
  }
  return true;
}

std::optional<std::string> ParameterSchedule::CheckWithin(long generations) const {
  for (const ParameterChange& change : changes()) {
    if (change.generation > generations) {
      return Named(change.generation) + "it comes after the last generation, " + std::to_string(generations) +
             "; allowed generations are 1 to " + std::to_string(generations);
    }
  }
  return std::nullopt;
}

bool operator==(const ParameterSchedule& a, const ParameterSchedule& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a.changes_[i].generation != b.changes_[i].generation || a.changes_[i].changed != b.changes_[i].changed ||
        ChangedValues(a.changes_[i]) != ChangedValues(b.changes_[i])) {
      return false;
    }
  }
  return true;
}

std::vector<std::pair<std::string, std::string>> ChangedValues(const ParameterChange& change) {
  std::vector<std::pair<std::string, std::string>> values;
  const auto table = ParameterTable();
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (change.Sets(i)) values.emplace_back(std::string(table[i].name), FormatParameter(change.values, table[i]));
  }
  return values;
}

std::string DescribeChange(const ParameterChange& change) {
  std::string text;
  for (const auto& [name, value] : ChangedValues(change)) text += (text.empty() ? "" : ", ") + name + "=" + value;
  return text;
}

std::vector<std::string> ChangeWords(const ParameterSchedule& schedule) {
  std::vector<std::string> words;
  for (const ParameterChange& change : schedule.changes()) {
    for (const auto& [name, value] : ChangedValues(change)) {
      words.push_back(std::to_string(change.generation) + ":" + name + "=" + value);
    }
  }
  return words;
}

// The environment switches after every generation whose number the period
// in force divides (World::ChangeEnvironmentIfDue); a new period counts from
// the generation of its change on.
long long EnvironmentSwitches(const Parameters& params, const ParameterSchedule& schedule, long generations) {
  std::map<long long, std::int32_t> periods = {{1, params.gGenerationsToEnvironmentalChange}};
  const auto index = IndexOf("gGenerationsToEnvironmentalChange");
  for (const ParameterChange& change : schedule.changes()) {
    if (change.Sets(*index) && change.generation <= generations) {
      periods[change.generation] = change.values.gGenerationsToEnvironmentalChange;
    }
  }
  long long switches = 0;
  for (auto at = periods.begin(); at != periods.end(); ++at) {
    const long long first = at->first;
    const auto next = std::next(at);
    const long long last = next == periods.end() ? generations : next->first - 1;
    const long long period = at->second;
    if (period <= 0 || last < first) continue;
    switches += last / period - (first - 1) / period;
  }
  return switches;
}

}  // namespace talveron
