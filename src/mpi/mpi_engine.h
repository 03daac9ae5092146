// Replicates handed out to the ranks of an MPI job. Rank 0 reads the
// options, writes every file, runs replicates of its own on a thread and
// gives the other ranks one replicate at a time, as each becomes free;
// what they send back is written in replicate order, so the bytes are
// those of a series run in one process.
#pragma once

#include <vector>

#include "run/parallel_series.h"

namespace talveron::mpi {

// Rank 0's engine: runs the replicates of `series` on every rank, rank 0
// included.
// Returns at once on a stop, throws at once on a failure; either way the
// ranks are told to give up what they run.
void RunOnRanks(const std::vector<SeriesWriter*>& series, const RunOptions& options, RunCounters* counters);

// Every other rank: runs what rank 0 sends until it says to quit.
void ServeReplicates();

// Rank 0, at the end, whatever happened: takes what the ranks still send
// and lets them quit.
void ReleaseRanks();

}  // namespace talveron::mpi
