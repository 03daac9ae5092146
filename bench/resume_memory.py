#!/usr/bin/env python3
"""Peak memory and time of a large study, run and then resumed.

    bench/resume_memory.py BUILD_FOLDER [OTHER_BUILD ...] [--cells 10000,100000]

For each number of cells it writes a study of one-generation cells (one
replicate each) and runs it with the first build's `talveron-batch
--study`; then each build resumes the complete study with `--resume` (which
reads the manifest, checks every cell's file and writes the manifest
again), in turn and twice, so that builds are compared in one run. It
prints the peak resident memory and the wall time of each. A resume should
take no more memory than the run. 100,000 cells take a few minutes and
about 1 GB of disk.
"""
import argparse
import os
import sys
import tempfile

from peak_memory import measure

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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("builds", nargs="+", help="build folders")
    parser.add_argument("--cells", default="10000,100000")
    parser.add_argument("--jobs", default="2")
    args = parser.parse_args()
    batches = [os.path.join(build, "src/batch/talveron-batch") for build in args.builds]
    print(f"{'cells':>8}  {'':<10}  {'peak memory':>11}  {'time':>7}  build")
    for cells in [int(c) for c in args.cells.split(",")]:
        with tempfile.TemporaryDirectory() as work:
            study = os.path.join(work, "study.toml")
            with open(study, "w") as out:
                out.write(study_text(cells))
            folder = os.path.join(work, "out")
            options = ["--study", study, "--out-dir", folder, "--jobs", args.jobs, "-q"]
            kb, seconds = measure([batches[0]] + options, quiet=True)
            print(f"{cells:>8}  {'run':<10}  {kb / 1024:>8.1f} MB  {seconds:>5.1f} s  {args.builds[0]}", flush=True)
            for _ in range(2):
                for build, batch in zip(args.builds, batches):
                    kb, seconds = measure([batch] + options + ["--resume"], quiet=True)
                    print(f"{cells:>8}  {'--resume':<10}  {kb / 1024:>8.1f} MB  {seconds:>5.1f} s  {build}",
                          flush=True)
            size = os.path.getsize(os.path.join(folder, "manifest.json"))
            print(f"{cells:>8}  manifest.json {size / 1e6:.1f} MB", flush=True)


if __name__ == "__main__":
    main()
