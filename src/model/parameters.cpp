#include "model/parameters.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <variant>

namespace talveron {
namespace {

using Member = std::variant<bool Parameters::*, std::int16_t Parameters::*, std::int32_t Parameters::*,
                            float Parameters::*>;

struct Entry {
  ParameterInfo info;
  Member member;
};

constexpr auto B = ParameterKind::Boolean;
constexpr auto I = ParameterKind::Integer;
constexpr auto D = ParameterKind::Decimal;

const std::array<Entry, 23> kEntries = {{
    {{"numberOfKids", I, 0, 12, "offspring per successful mating"}, &Parameters::numberOfKids},
    {{"mutationRate", I, 1, 32767, "1/mutation probability per locus"}, &Parameters::mutationRate},
    {{"selectionFactor", D, 0, 1, "strength of selection on specialists: better at home, worse away"},
     &Parameters::selectionFactor},
    {{"density", I, 1, 8, "eighths of the cells occupied at founding; capacity density x 80 per habitat"},
     &Parameters::density},
    {{"initiallyOneHabitat", B, 0, 1, "found the population in the left habitat only"},
     &Parameters::initiallyOneHabitat},
    {{"restrictedNatalDispersal", B, 0, 1, "young stay in their natal habitat unless they migrate"},
     &Parameters::restrictedNatalDispersal},
    {{"asymmetricalNatalDispersal", B, 0, 1, "with restricted natal dispersal, only left-to-right moves"},
     &Parameters::asymmetricalNatalDispersal},
    {{"natalDispersalRate", I, 0, 100, "per cent chance that a young individual migrates"},
     &Parameters::natalDispersalRate},
    {{"restrictedMatingDispersal", B, 0, 1, "females accept only males of the habitat they search"},
     &Parameters::restrictedMatingDispersal},
    {{"matingDispersalRate", I, 0, 100, "per cent chance that a female seeks a mate in the other habitat"},
     &Parameters::matingDispersalRate},
    {{"gMatingPrefTarget", I, 0, 2, "male trait judged: 0 mating preference, 1 specialization, 2 signal"},
     &Parameters::gMatingPrefTarget},
    {{"gMalesMateOnce", B, 0, 1, "a male mates at most once per generation"}, &Parameters::gMalesMateOnce},
    {{"gSearchCost", D, 0, 1, "chance that a female dies at each male she meets"}, &Parameters::gSearchCost},
    {{"gIncludeSignalValue", B, 0, 1, "preference and signal strengths mutate"},
     &Parameters::gIncludeSignalValue},
    {{"gIncludeGeneralViability", B, 0, 1, "general viability mutates and counts in the mate search"},
     &Parameters::gIncludeGeneralViability},
    {{"gIncludeNeutralGenes", B, 0, 1, "the ten neutral genes mutate"}, &Parameters::gIncludeNeutralGenes},
    {{"gFalseAlarmRate", I, 0, 100, "per cent chance of accepting a male of the wrong signal type"},
     &Parameters::gFalseAlarmRate},
    {{"gMissedDetectionRate", I, 0, 100, "per cent chance of accepting a male whose signal is too weak"},
     &Parameters::gMissedDetectionRate},
    {{"gFalseAlarmPayoff", I, 1, 32767, "brood divisor after a false alarm"}, &Parameters::gFalseAlarmPayoff},
    {{"gViabilityFactor", D, 0, 10, "viability factor of an individual that fits the environment"},
     &Parameters::gViabilityFactor},
    {{"gGenerationsToEnvironmentalChange", I, 1, 2147483647, "generations between environmental changes"},
     &Parameters::gGenerationsToEnvironmentalChange},
    {{"noMigration", B, 0, 1, "recorded in the data file's migration line"}, &Parameters::noMigration},
    {{"asymmetricalMatingDispersal", B, 0, 1, "recorded setting; no phase reads it"},
     &Parameters::asymmetricalMatingDispersal},
}};

const std::array<ParameterInfo, kEntries.size()> kInfos = [] {
  std::array<ParameterInfo, kEntries.size()> infos{};
  for (std::size_t i = 0; i < kEntries.size(); ++i) infos[i] = kEntries[i].info;
  return infos;
}();

std::string NumberText(double value) {
  if (value == std::floor(value)) return std::to_string(static_cast<long long>(value));
  std::ostringstream out;
  out << value;
  return out.str();
}

const Entry* FindEntry(std::string_view name);

// Digits with an optional sign, point and exponent: "0.5", "-1", ".25", "2e-3".
bool IsPlainDecimal(std::string_view text) {
  std::size_t i = 0;
  auto digits = [&] {
    const std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i - start;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

}  // namespace

std::string AllowedValues(const ParameterInfo& info) {
  switch (info.kind) {
    case ParameterKind::Boolean: return "0, 1, true or false";
    case ParameterKind::Integer:
      return "a whole number from " + NumberText(info.minimum) + " to " + NumberText(info.maximum);
    case ParameterKind::Decimal:
      return "a decimal from " + NumberText(info.minimum) + " to " + NumberText(info.maximum);
  }
  return {};
}

namespace {

const Entry* FindEntry(std::string_view name) {
  for (const Entry& entry : kEntries) {
    if (entry.info.name == name) return &entry;
  }
  return nullptr;
}

}  // namespace

std::span<const ParameterInfo> ParameterTable() { return kInfos; }

const ParameterInfo* FindParameter(std::string_view name) {
  const Entry* entry = FindEntry(name);
  return entry ? &entry->info : nullptr;
}

std::optional<std::string> SetParameter(Parameters& params, std::string_view name, std::string_view text) {
  const Entry* entry = FindEntry(name);
  if (entry == nullptr) return "unknown parameter '" + std::string(name) + "' (see --help for the list)";
  const ParameterInfo& info = entry->info;
  const std::string refused = "'" + std::string(text) + "' is not allowed for " + std::string(name) +
                              ": it takes " + AllowedValues(info);

  if (info.kind == ParameterKind::Boolean) {
    bool value;
    if (text == "1" || text == "true") {
      value = true;
    } else if (text == "0" || text == "false") {
      value = false;
    } else {
      return refused;
    }
    params.*std::get<bool Parameters::*>(entry->member) = value;
    return std::nullopt;
  }

  if (info.kind == ParameterKind::Integer) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        static_cast<double>(value) < info.minimum || static_cast<double>(value) > info.maximum) {
      return refused;
    }
    if (const auto* member = std::get_if<std::int16_t Parameters::*>(&entry->member)) {
      params.**member = static_cast<std::int16_t>(value);
    } else {
      params.*std::get<std::int32_t Parameters::*>(entry->member) = static_cast<std::int32_t>(value);
    }
    return std::nullopt;
  }

  // Decimals are read in single precision, as the model stores them, and as
  // strictly as whole numbers: plain decimal notation only (no blanks,
  // hexadecimal, infinities), and no value that becomes 0 or infinite only
  // by rounding.
  float value = 0.0f;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                            std::chars_format::general);
  if (!IsPlainDecimal(text) || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value) || value < static_cast<float>(info.minimum) ||
      value > static_cast<float>(info.maximum)) {
    return refused;
  }
  params.*std::get<float Parameters::*>(entry->member) = value;
  return std::nullopt;
}

std::string FormatParameter(const Parameters& params, const ParameterInfo& info) {
  const Entry* entry = FindEntry(info.name);
  if (entry == nullptr) return {};
  return std::visit(
      [&params](auto member) -> std::string {
        const auto value = params.*member;
        if constexpr (std::is_same_v<decltype(value), const float>) {
          // The shortest text that reads back as the same single-precision value.
          char buffer[32];
          const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
          return std::string(buffer, result.ptr);
        } else {
          return std::to_string(static_cast<long long>(value));
        }
      },
      entry->member);
}

}  // namespace talveron
