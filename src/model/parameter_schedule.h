// Scheduled changes of parameters during a replicate: secondary contact
// after a time of isolation, a change of selection half-way, a bottleneck.
//
// One rule everywhere: a change at generation G is applied after generation
// G - 1 has ended (its census and its environmental switch) and before the
// Reproduction of generation G, so every phase of generation G and after
// sees the new value. A change at generation 1 comes after the founding.
// Every replicate starts again from the settings' own values.
//
// A schedule holds the changes it has and no more: a study keeps one in
// every cell's plan, most of them empty.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/parameters.h"

namespace talveron {

// Generations with changes in one schedule, at most.
inline constexpr int kMaxScheduledChanges = 32;

// The parameters set at one generation.
struct ParameterChange {
  std::int64_t generation = 0;
  std::uint32_t changed = 0;  // bit i: ParameterTable()[i] is set
  Parameters values;          // the new values of the parameters set

  bool Sets(std::size_t parameter) const { return (changed >> parameter) & 1u; }
};

class ParameterSchedule {
 public:
  bool empty() const { return changes_.empty(); }
  std::size_t size() const { return changes_.size(); }
  // In the order they were added (a settings file's order).
  std::span<const ParameterChange> changes() const { return changes_; }

  // Sets NAME to TEXT from `generation` on, with the words of --set for a
  // bad value. Refused: a generation below 1, a parameter that cannot
  // change during a replicate, one set twice at one generation, more than
  // kMaxScheduledChanges generations. Nothing on success, else the reason,
  // naming the change ("change at generation 2001: ...").
  std::optional<std::string> Add(long long generation, std::string_view name, std::string_view text);
  // Removes NAME from the change at `generation`, if it is there (a
  // command-line change replacing a settings file's).
  void Remove(long long generation, std::string_view name);
  // Sets the generation of the index-th change (from 0), keeping its values;
  // refused like Add when another change at that generation sets one of the
  // same parameters.
  std::optional<std::string> MoveChange(std::size_t index, long long generation);

  // Applies the change at `generation`, if there is one; true when it did.
  bool ApplyAt(long long generation, Parameters& params) const;
  // The change at `generation`, or null.
  const ParameterChange* At(long long generation) const;
  // The first change after the last generation, as a refusal naming it, or
  // nothing.
  std::optional<std::string> CheckWithin(long generations) const;

  friend bool operator==(const ParameterSchedule& a, const ParameterSchedule& b);

 private:
  std::vector<ParameterChange> changes_;
};

// Why NAME cannot change during a replicate ("is read only at the
// founding"), or nothing when it can.
std::optional<std::string> UnchangeableReason(std::string_view name);

// The parameters a change sets, as NAME=VALUE in the order of the table.
std::vector<std::pair<std::string, std::string>> ChangedValues(const ParameterChange& change);
// "natalDispersalRate=10, matingDispersalRate=10"
std::string DescribeChange(const ParameterChange& change);
// Each parameter of each change as the command line writes it: "2001:natalDispersalRate=10".
std::vector<std::string> ChangeWords(const ParameterSchedule& schedule);

// The times the environment switches in a replicate of `generations`
// generations that starts from `params` and follows `schedule`.
long long EnvironmentSwitches(const Parameters& params, const ParameterSchedule& schedule, long generations);

}  // namespace talveron
