// Running the batch command once its options are valid.
#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "batch/batch_options.h"
#include "run/parallel_series.h"

namespace talveron::batch {

// What the program around the run supplies.
struct BatchContext {
  std::string program = "talveron-batch";
  std::string commandLine;                   // for a study's manifest
  const std::atomic<bool>* stop = nullptr;   // set: stop at the end of the running generation
  std::function<int()> stopSignal;           // which signal asked to stop
  bool terminal = false;                     // standard error is a terminal
  // Runs the replicates of the series given; by default on threads of this
  // process (the MPI command hands them to other processes).
  std::function<void(const std::vector<SeriesWriter*>&, const RunOptions&, RunCounters*)> engine;
  // What --jobs means to the engine, for the progress line.
  std::string workersName = "jobs";
};

// Runs the series or study and returns the process's exit status. Progress
// and messages go to `log`; fatal-error reports to `out`.
int RunBatch(const BatchOptions& options, const BatchContext& context, std::ostream& out, std::ostream& log);

// Parses, validates and runs: the whole command.
int BatchMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& log,
              const BatchContext& context = {});

// The version line of `program`: "talveron-batch 0.1 (build 1a2b3c4)".
std::string VersionLine(const std::string& program);

// A duration for people: "45 s", "3 min 05 s", "2 h 10 min".
std::string Duration(double seconds);

}  // namespace talveron::batch
