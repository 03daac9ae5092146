// talveron-batch: series and studies of replicates, headless, reproducible
// from a seed.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "batch/stop_signals.h"
#include "run/settings_file.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  talveron::batch::StopSignals signals("talveron-batch");
  const std::vector<std::string> args(argv + 1, argv + argc);
  talveron::batch::BatchContext context;
  context.stop = &signals.flag();
  context.stopSignal = [&signals] { return signals.signal(); };
  context.terminal = ::isatty(STDERR_FILENO) != 0;
  context.commandLine = "talveron-batch";
  for (const std::string& arg : args) context.commandLine += " " + talveron::ShellQuote(arg);
  return talveron::batch::BatchMain(args, std::cout, std::cerr, context);
}
