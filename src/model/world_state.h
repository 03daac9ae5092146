// A running replicate's world as bytes, and back: everything a generation
// reads (parameters, generator, adult and young lists, map, counters,
// environment state, census), so that a world restored from them steps on
// exactly as the one saved would have.
//
// The world is a sealed state of kind "world" (model/state_bytes.h), its
// body written field by field. Reading refuses, besides what the seal
// refuses, values a phase could not work with (a cell outside the grid, an
// allele that is none), naming the field.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/parameters.h"
#include "model/state_bytes.h"
#include "model/world.h"

namespace talveron {

// The world as fields of a body, and back. ReadWorld fills `world` only
// when the whole of it reads.
void WriteWorld(StateWriter& out, const World& world);
void ReadWorld(StateReader& in, World& world);
void WriteParameters(StateWriter& out, const Parameters& params);
// A list of individuals: its size, then each one's fields; `name` names the
// list in a refusal.
void WriteIndividuals(StateWriter& out, const std::vector<Individ>& list);
std::vector<Individ> ReadIndividuals(StateReader& in, std::string_view name);
Parameters ReadParameters(StateReader& in);

// The world sealed as a state of kind "world", and back.
std::string SaveWorldState(const World& world);
void RestoreWorldState(World& world, std::string_view sealed, std::string_view source = "world state");

}  // namespace talveron
