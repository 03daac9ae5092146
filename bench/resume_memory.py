#!/usr/bin/env python3
"""Peak memory and time of a large study, run and then resumed.

    bench/resume_memory.py BUILD_FOLDER [--cells 10000,100000] [--jobs 2]

For each number of cells it writes a study of one-generation cells (one
replicate each), runs it with `talveron-batch --study`, then resumes the
complete study with `--resume` (which reads the manifest, checks every
cell's file and writes the manifest again), and prints the peak resident
memory and the wall time of both. A resume should take no more memory than
the run. 100,000 cells take a few minutes and about 1 GB of disk.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

# Lists of valid values whose product is the number of cells.
LISTS = {
    "numberOfKids": list(range(1, 11)),
    "mutationRate": list(range(1, 11)),
    "natalDispersalRate": list(range(1, 11)),
    "matingDispersalRate": list(range(1, 11)),
    "density": [1, 2, 3, 4, 5],
    "selectionFactor": [0.2, 0.8],
}


def study_text(cells):
    """A study of `cells` cells: 10,000 or 100,000."""
    names = ["numberOfKids", "mutationRate", "natalDispersalRate", "matingDispersalRate"]
    if cells == 100000:
        names += ["density", "selectionFactor"]
    elif cells != 10000:
        sys.exit(f"--cells: 10000 or 100000, not {cells}")
    lines = ["seed = 1", "replicates = 1", "generations = 1", "[vary]"]
    lines += [f"{name} = {LISTS[name]}" for name in names]
    return "\n".join(lines) + "\n"


def measure(command):
    """Runs `command`; returns its peak resident memory in kB and its time.

    Read from the kernel's high-water mark while it runs: the rusage of a
    child forked from Python would count Python's own memory too."""
    start = time.monotonic()
    child = subprocess.Popen(command, stderr=subprocess.DEVNULL)
    peak = 0
    while child.poll() is None:
        try:
            with open(f"/proc/{child.pid}/status") as status:
                for line in status:
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]))
        except OSError:
            pass
        time.sleep(0.05)
    if child.returncode != 0:
        sys.exit(f"{' '.join(command)} ended with {child.returncode}")
    return peak, time.monotonic() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="the build folder")
    parser.add_argument("--cells", default="10000,100000")
    parser.add_argument("--jobs", default="2")
    args = parser.parse_args()
    batch = os.path.join(args.build, "src/batch/talveron-batch")
    print(f"{'cells':>8}  {'run':>18}  {'--resume':>18}  manifest")
    for cells in [int(c) for c in args.cells.split(",")]:
        with tempfile.TemporaryDirectory() as work:
            study = os.path.join(work, "study.toml")
            with open(study, "w") as out:
                out.write(study_text(cells))
            folder = os.path.join(work, "out")
            command = [batch, "--study", study, "--out-dir", folder, "--jobs", args.jobs, "-q"]
            run_kb, run_s = measure(command)
            resume_kb, resume_s = measure(command + ["--resume"])
            manifest = os.path.getsize(os.path.join(folder, "manifest.json"))
            print(f"{cells:>8}  {run_kb / 1024:>7.1f} MB {run_s:>6.1f} s  "
                  f"{resume_kb / 1024:>7.1f} MB {resume_s:>6.1f} s  {manifest / 1e6:.1f} MB", flush=True)


if __name__ == "__main__":
    main()
