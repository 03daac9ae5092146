#include "model/world_state.h"

#include <utility>
#include <vector>

namespace talveron {
namespace {

constexpr std::size_t kIndividualBytes = 11 + kNeutralGenes;

void WriteIndividual(StateWriter& out, const Individ& one) {
  out.U8(one.habitat);
  out.U8(one.x);
  out.U8(one.y);
  out.Bool(one.sex);
  out.U8(one.habitatPref);
  out.U8(one.habitatSpec);
  out.U8(one.matingPrefType);
  out.U8(one.matingPrefValue);
  out.U8(one.signalType);
  out.U8(one.signalValue);
  out.U8(static_cast<std::uint8_t>(one.generalViability));
  for (const std::uint8_t gene : one.neutralGenes) out.U8(gene);
}

// Every field within what the phases index and step through.
Individ ReadIndividual(StateReader& in) {
  auto field = [&in](std::string_view name, int most) {
    return in.Small(name, static_cast<std::uint8_t>(most));
  };
  Individ one;
  one.habitat = field("an individual's habitat", kHabitats - 1);
  one.x = field("an individual's x", kColumns - 1);
  one.y = field("an individual's y", kRows - 1);
  one.sex = in.Bool("an individual's sex");
  one.habitatPref = field("an individual's habitatPref", kNeutralAllele);
  one.habitatSpec = field("an individual's habitatSpec", kNeutralAllele);
  one.matingPrefType = field("an individual's matingPrefType", kNeutralAllele);
  one.matingPrefValue = field("an individual's matingPrefValue", 9);
  one.signalType = field("an individual's signalType", kNeutralAllele);
  one.signalValue = field("an individual's signalValue", 9);
  one.generalViability = static_cast<std::int8_t>(field("an individual's generalViability", kNeutralAllele));
  for (std::uint8_t& gene : one.neutralGenes) gene = field("an individual's neutral gene", 1);
  return one;
}

}  // namespace

void WriteIndividuals(StateWriter& out, const std::vector<Individ>& list) {
  out.U64(list.size());
  for (const Individ& one : list) WriteIndividual(out, one);
}

std::vector<Individ> ReadIndividuals(StateReader& in, std::string_view name) {
  const std::size_t count = in.Count(name, kIndividualBytes);
  std::vector<Individ> list;
  list.reserve(count);
  for (std::size_t i = 0; i < count; ++i) list.push_back(ReadIndividual(in));
  return list;
}

void WriteParameters(StateWriter& out, const Parameters& p) {
  out.I16(p.numberOfKids);
  out.I16(p.mutationRate);
  out.F32(p.selectionFactor);
  out.I16(p.density);
  out.Bool(p.initiallyOneHabitat);
  out.Bool(p.restrictedNatalDispersal);
  out.Bool(p.asymmetricalNatalDispersal);
  out.I16(p.natalDispersalRate);
  out.Bool(p.restrictedMatingDispersal);
  out.I16(p.matingDispersalRate);
  out.I16(p.gMatingPrefTarget);
  out.Bool(p.gMalesMateOnce);
  out.F32(p.gSearchCost);
  out.Bool(p.gIncludeSignalValue);
  out.Bool(p.gIncludeGeneralViability);
  out.Bool(p.gIncludeNeutralGenes);
  out.I16(p.gFalseAlarmRate);
  out.I16(p.gMissedDetectionRate);
  out.I16(p.gFalseAlarmPayoff);
  out.F32(p.gViabilityFactor);
  out.I32(p.gGenerationsToEnvironmentalChange);
  out.Bool(p.noMigration);
  out.Bool(p.asymmetricalMatingDispersal);
}

Parameters ReadParameters(StateReader& in) {
  Parameters p;
  p.numberOfKids = in.I16("numberOfKids");
  p.mutationRate = in.I16("mutationRate");
  p.selectionFactor = in.F32("selectionFactor");
  p.density = in.I16("density");
  p.initiallyOneHabitat = in.Bool("initiallyOneHabitat");
  p.restrictedNatalDispersal = in.Bool("restrictedNatalDispersal");
  p.asymmetricalNatalDispersal = in.Bool("asymmetricalNatalDispersal");
  p.natalDispersalRate = in.I16("natalDispersalRate");
  p.restrictedMatingDispersal = in.Bool("restrictedMatingDispersal");
  p.matingDispersalRate = in.I16("matingDispersalRate");
  p.gMatingPrefTarget = in.I16("gMatingPrefTarget");
  p.gMalesMateOnce = in.Bool("gMalesMateOnce");
  p.gSearchCost = in.F32("gSearchCost");
  p.gIncludeSignalValue = in.Bool("gIncludeSignalValue");
  p.gIncludeGeneralViability = in.Bool("gIncludeGeneralViability");
  p.gIncludeNeutralGenes = in.Bool("gIncludeNeutralGenes");
  p.gFalseAlarmRate = in.I16("gFalseAlarmRate");
  p.gMissedDetectionRate = in.I16("gMissedDetectionRate");
  p.gFalseAlarmPayoff = in.I16("gFalseAlarmPayoff");
  p.gViabilityFactor = in.F32("gViabilityFactor");
  p.gGenerationsToEnvironmentalChange = in.I32("gGenerationsToEnvironmentalChange");
  p.noMigration = in.Bool("noMigration");
  p.asymmetricalMatingDispersal = in.Bool("asymmetricalMatingDispersal");
  // Each value within its range, as the settings would take it.
  for (const ParameterInfo& info : ParameterTable()) {
    Parameters check;
    if (auto error = SetParameter(check, info.name, FormatParameter(p, info))) in.Damaged(*error);
  }
  return p;
}

void WriteWorld(StateWriter& out, const World& world) {
  WriteParameters(out, world.params);
  const RngState& rng = world.rng.state();
  for (const std::uint64_t word : rng.s) out.U64(word);
  out.U64(rng.draws);
  const std::vector<int> script = world.rng.PendingScript();
  out.U64(script.size());
  for (const int draw : script) out.I32(draw);
  WriteIndividuals(out, world.adults);
  WriteIndividuals(out, world.young);
  for (const auto& habitat : world.map) {
    for (const auto& column : habitat) {
      for (const std::int16_t cell : column) out.U8(static_cast<std::uint8_t>(cell));
    }
  }
  out.I64(world.habitat0Census);
  out.I64(world.habitat1Census);
  out.U8(static_cast<std::uint8_t>(world.gCurrentViability));
  out.Bool(world.gFalseAlarm);
  out.I64(world.gGenerationNumber);
  for (const auto& byHabitat : world.geneFrequencies.count) {
    for (const auto& bySpec : byHabitat) {
      for (const auto& byPref : bySpec) {
        for (const int count : byPref) out.I64(count);
      }
    }
  }
}

void ReadWorld(StateReader& in, World& world) {
  const Parameters params = ReadParameters(in);
  RngState rng;
  for (std::uint64_t& word : rng.s) word = in.U64("the generator's state");
  if ((rng.s[0] | rng.s[1] | rng.s[2] | rng.s[3]) == 0) in.Damaged("the generator's state is all zeros");
  rng.draws = in.U64("the generator's count of draws");
  std::vector<int> script(in.Count("the scripted draws", 4));
  for (int& draw : script) draw = in.I32("a scripted draw");
  std::vector<Individ> adults = ReadIndividuals(in, "the number of adults");
  if (adults.size() > static_cast<std::size_t>(kHabitats * kCellsPerHabitat)) {
    in.Damaged(std::to_string(adults.size()) + " adults, more than the grid's cells");
  }
  std::vector<Individ> young = ReadIndividuals(in, "the number of young");
  decltype(world.map) map{};
  for (auto& habitat : map) {
    for (auto& column : habitat) {
      for (std::int16_t& cell : column) cell = in.Small("a cell of the map", 1);
    }
  }
  constexpr std::int64_t kMaxCount = 0x7FFFFFFF;
  const int census0 = static_cast<int>(in.Within("habitat0Census", 0, kMaxCount));
  const int census1 = static_cast<int>(in.Within("habitat1Census", 0, kMaxCount));
  const int viability = in.Small("gCurrentViability", 2);
  const bool falseAlarm = in.Bool("gFalseAlarm");
  const int generation = static_cast<int>(in.Within("gGenerationNumber", 0, kMaxCount));
  GeneFrequencies frequencies;
  for (auto& byHabitat : frequencies.count) {
    for (auto& bySpec : byHabitat) {
      for (auto& byPref : bySpec) {
        for (int& count : byPref) count = static_cast<int>(in.Within("a census count", 0, kMaxCount));
      }
    }
  }

  world.params = params;
  world.rng.Restore(rng, std::move(script));
  world.adults = std::move(adults);
  world.young = std::move(young);
  world.map = map;
  world.habitat0Census = census0;
  world.habitat1Census = census1;
  world.gCurrentViability = viability;
  world.gFalseAlarm = falseAlarm;
  world.gGenerationNumber = generation;
  world.geneFrequencies = frequencies;
}

std::string SaveWorldState(const World& world) {
  StateWriter out;
  WriteWorld(out, world);
  return SealState("world", out.bytes());
}

void RestoreWorldState(World& world, std::string_view sealed, std::string_view source) {
  StateReader in(OpenState(sealed, "world", source), std::string(source));
  ReadWorld(in, world);
  in.ExpectEnd();
}

}  // namespace talveron
