// Running the batch command once its options are valid.
#pragma once

#include <iosfwd>

#include "batch/batch_options.h"

namespace talveron::batch {

// Runs the series and returns the process's exit status. Progress and
// non-fatal messages go to `log`; fatal-error reports to `out`.
int RunBatch(const BatchOptions& options, std::ostream& out, std::ostream& log);

// Parses, validates and runs: the whole command.
int BatchMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& log);

}  // namespace talveron::batch
