// talveron-mpi: talveron-batch across the ranks of an MPI job.
//
//   mpirun -n K talveron-mpi [the options of talveron-batch]
//
// Rank 0 reads the options, writes every file, reports and runs replicates
// too; the other ranks run the replicates it hands them. The files are byte for byte those of
// talveron-batch --jobs 1.
#include <mpi.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "batch/stop_signals.h"
#include "mpi/mpi_engine.h"
#include "run/settings_file.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  talveron::batch::StopSignals signals("talveron-mpi");
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);

  int status = 0;
  if (rank == 0) {
    // A lost rank is rank 0's to report, with its complete records kept,
    // not a reason for the library to end it on the spot.
    MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    talveron::batch::BatchContext context;
    context.program = "talveron-mpi";
    context.stop = &signals.flag();
    context.stopSignal = [&signals] { return signals.signal(); };
    context.terminal = ::isatty(STDERR_FILENO) != 0;
    context.commandLine = "talveron-mpi";
    for (const std::string& arg : args) context.commandLine += " " + talveron::ShellQuote(arg);
    context.engine = talveron::mpi::RunOnRanks;
    try {
      status = talveron::batch::BatchMain(args, std::cout, std::cerr, context);
    } catch (const std::exception& error) {
      // Nothing left to keep: every rank ends now.
      std::cerr << "talveron-mpi: " << error.what() << std::endl;
      MPI_Abort(MPI_COMM_WORLD, 1);
    }
    talveron::mpi::ReleaseRanks();
  } else {
    signals.Quiet();  // rank 0 reports for every rank
    talveron::mpi::ServeReplicates();
  }
  MPI_Finalize();
  return status;
}
