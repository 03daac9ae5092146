#!/usr/bin/python3
"""A replicate run from Python against the same replicate run by
talveron-batch, side by side, and the time to build a trace's DataFrame.

Usage: PYTHONPATH=build/python python3 bench/python_bench.py TALVERON_BATCH [REPETITIONS]

For each setting the two alternate, REPETITIONS times each (5 by default):
talveron-batch as a whole command (process start, files and all) with
--jobs 1, and talveron.run_series(replicates=1, jobs=1) in this process.
Both write the same bytes, which is checked. Printed per setting: the
median and the best wall-clock time of each, and the best processor time
(user and system, of the child process or of this one), with their ratios
(Python / batch). Other work on a shared machine only ever adds time, so the
best times are the steadier figure, processor time the steadiest. Last, the time to build the trace DataFrame of a series of
20 replicates x 5000 generations (run on all cores) from its arrays.
"""

import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

import talveron

SETTINGS = [("defaults", {}), ("density 4", {"density": 4}),
            ("diverging", {"density": 4, "selectionFactor": 0.8, "gMatingPrefTarget": 1})]
GENERATIONS = 5000


def main(argv):
    if len(argv) not in (1, 2):
        print(__doc__, file=sys.stderr)
        return 2
    batch = argv[0]
    repetitions = int(argv[1]) if len(argv) == 2 else 5
    print(f"{'':<12}{'wall median (s)':>23}{'':>7}{'wall best (s)':>22}{'':>7}"
          f"{'processor best (s)':>24}")
    print(f"{'setting':<12}" + f"{'batch':>9}{'python':>9}{'ratio':>7}" * 3)
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "batch.txt")
        for name, parameters in SETTINGS:
            sets = [f"--set={k}={v}" for k, v in parameters.items()]
            batch_times, python_times, batch_cpu, python_cpu = [], [], [], []
            for repetition in range(repetitions):
                seed = 100 + repetition
                started = time.perf_counter()
                before = resource.getrusage(resource.RUSAGE_CHILDREN)
                subprocess.run([batch, "--quiet", "--jobs", "1", "--seed", str(seed), "--replicates", "1",
                                "--generations", str(GENERATIONS), *sets, "--out", out], check=True)
                after = resource.getrusage(resource.RUSAGE_CHILDREN)
                batch_times.append(time.perf_counter() - started)
                batch_cpu.append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
                started = time.perf_counter()
                cpu = time.process_time()
                series = talveron.run_series(seed=seed, replicates=1, generations=GENERATIONS, jobs=1,
                                             **parameters)
                python_cpu.append(time.process_time() - cpu)
                python_times.append(time.perf_counter() - started)
                with open(out, "rb") as f:
                    if f.read() != series.data_file:
                        print(f"{name}: the data files differ", file=sys.stderr)
                        return 1
            line = f"{name:<12}"
            for b, p in ((statistics.median(batch_times), statistics.median(python_times)),
                         (min(batch_times), min(python_times)), (min(batch_cpu), min(python_cpu))):
                line += f"{b:>9.3f}{p:>9.3f}{p / b:>7.3f}"
            print(line)

    series = talveron.run_series(seed=1, replicates=20, generations=GENERATIONS, trace=True)
    started = time.perf_counter()
    trace = series.trace
    built = time.perf_counter() - started
    print(f"trace DataFrame of 20 x {GENERATIONS} generations ({len(trace)} rows): {built * 1000:.1f} ms, "
          f"{trace.memory_usage(index=False).sum() / 1e6:.1f} MB")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
