// A running replicate's state with its plan, as bytes and back: the world
// (model/world_state.h) and what the run keeps beside it, its generation,
// its recorder (criteria met, averaging span, pending text), the text it
// has made and not handed on, its genotype samples and its messages. A run
// restored from them goes on exactly as the saved one would have; nothing
// is run again, so restoring takes as long for generation 2000 as for 0.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "model/state_bytes.h"
#include "model/world_state.h"
#include "run/parallel_series.h"

namespace talveron {

// A plan as fields of a body, and back; every value is checked as the
// settings check it.
void WritePlan(StateWriter& out, const SeriesPlan& plan);
SeriesPlan ReadPlan(StateReader& in);

// A replicate run with the plan it runs, which it keeps a reference to.
struct RestoredReplicate {
  std::unique_ptr<SeriesPlan> plan;
  std::unique_ptr<ReplicateRun> run;
};

// The plan and its run sealed as a state of kind "replicate", and back.
// `source` names the bytes (a file's path) in a refusal (StateError).
std::string SaveReplicateState(const SeriesPlan& plan, const ReplicateRun& run);
RestoredReplicate RestoreReplicateState(std::string_view sealed, std::string_view source);

}  // namespace talveron
