#!/usr/bin/python3
"""The cost of the trace's statistics and of genotype samples: one replicate
of talveron-batch with a trace, alternately without and with --stats, and
without and with --genotypes --sample-every 100, on the same seeds.

Usage: python3 bench/scenarios_bench.py TALVERON_BATCH [REPETITIONS]

Each variant runs REPETITIONS times (5 by default), the variants taking
turns, as whole commands with --jobs 1. Printed per setting: the best
processor time (user and system of the child) of each variant and its ratio
to the plain run. Other work on a shared machine only ever adds time, so
the best processor time is the steadiest figure.
"""

import os
import resource
import subprocess
import sys
import tempfile

SETTINGS = [("defaults", []), ("density 4", ["--set=density=4"]), ("density 8", ["--set=density=8"]),
            ("diverging", ["--set=density=4", "--set=selectionFactor=0.8", "--set=gMatingPrefTarget=1",
                           "--set=gIncludeNeutralGenes=1"])]
GENERATIONS = 5000


def processor_seconds(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main(argv):
    if len(argv) not in (1, 2):
        print(__doc__, file=sys.stderr)
        return 2
    batch = argv[0]
    repetitions = int(argv[1]) if len(argv) == 2 else 5
    print(f"{'setting':<12}{'plain (s)':>11}{'stats (s)':>11}{'ratio':>7}{'samples (s)':>13}{'ratio':>7}")
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "s.txt")
        trace = os.path.join(folder, "s.trace")
        for name, sets in SETTINGS:
            best = {"plain": float("inf"), "stats": float("inf"), "samples": float("inf")}
            for repetition in range(repetitions):
                base = [batch, "-q", "--jobs", "1", "--seed", str(200 + repetition), "--replicates", "1",
                        "--generations", str(GENERATIONS), "--out", out, "--trace", trace] + sets
                variants = {"plain": base, "stats": base + ["--stats"],
                            "samples": base + ["--genotypes", os.path.join(folder, "s.vcf.gz"),
                                               "--sample-every", "100"]}
                for variant, command in variants.items():
                    best[variant] = min(best[variant], processor_seconds(command))
            print(f"{name:<12}{best['plain']:>11.3f}{best['stats']:>11.3f}"
                  f"{best['stats'] / best['plain']:>7.2f}{best['samples']:>13.3f}"
                  f"{best['samples'] / best['plain']:>7.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
