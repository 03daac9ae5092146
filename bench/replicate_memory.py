#!/usr/bin/env python3
"""Peak memory of long averaging replicates: the same at 1 and 4 million
generations, on one core, on threads and under MPI.

    bench/replicate_memory.py BUILD_FOLDER [--generations 1000000,4000000]

Runs `talveron-batch --record total --span 1` (the largest data file per
generation) with one replicate on one job and two replicates on two jobs,
and, when talveron-mpi was built, two replicates on three ranks, and prints
the peak resident memory of each process (of each rank under MPI) with the
size of the data file. It takes minutes: a million generations are about a
minute of one core.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

from peak_memory import measure


def peak_of(command):
    """Runs `command`; returns its peak resident memory in kB."""
    return measure(command)[0]


def measure_rank(prefix, command):
    """Under mpirun: runs this rank's command, writes its peak to PREFIX.RANK."""
    peak = peak_of(command)
    with open(f"{prefix}.{os.environ.get('OMPI_COMM_WORLD_RANK', '0')}", "w") as out:
        print(peak, file=out)
    return 0


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--measure-rank":
        sys.exit(measure_rank(sys.argv[2], sys.argv[3:]))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="the build folder")
    parser.add_argument("--generations", default="1000000,4000000")
    args = parser.parse_args()
    batch = os.path.join(args.build, "src/batch/talveron-batch")
    mpi = os.path.join(args.build, "src/mpi/talveron-mpi")
    mpirun = shutil.which("mpirun")
    common = ["--seed", "1", "--record", "total", "--span", "1", "-q"]
    env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1",
               OMPI_MCA_rmaps_base_oversubscribe="1")
    os.environ.update(env)
    print(f"{'generations':>12}  {'how':<28} {'data file':>12}  peak memory")
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "data.txt")
        for generations in [int(g) for g in args.generations.split(",")]:
            g = ["--generations", str(generations), "--out", out]
            for how, extra in (("1 replicate, --jobs 1", ["--replicates", "1", "--jobs", "1"]),
                               ("2 replicates, --jobs 2", ["--replicates", "2", "--jobs", "2"])):
                kb = peak_of([batch] + common + g + extra)
                print(f"{generations:>12}  {how:<28} {os.path.getsize(out) / 1e6:>9.1f} MB  {kb / 1024:.1f} MB",
                      flush=True)
            if os.path.exists(mpi) and mpirun:
                prefix = os.path.join(work, "peak")
                subprocess.check_call([mpirun, "-n", "3", sys.executable, os.path.abspath(__file__),
                                       "--measure-rank", prefix, mpi] + common + g + ["--replicates", "2"])
                ranks = [int(open(f"{prefix}.{rank}").read()) / 1024 for rank in range(3)]
                print(f"{generations:>12}  {'2 replicates, 3 MPI ranks':<28} "
                      f"{os.path.getsize(out) / 1e6:>9.1f} MB  " + ", ".join(f"{r:.1f}" for r in ranks) +
                      " MB (ranks 0, 1, 2)", flush=True)


if __name__ == "__main__":
    main()
