"""The peak resident memory of a command, for the memory benchmarks."""

import subprocess
import sys
import time


def measure(command, quiet=False):
    """Runs `command`; returns its peak resident memory in kB and its time
    in seconds. `quiet`: its standard error is dropped.

    Read from the kernel's high-water mark while it runs: the rusage of a
    child forked from Python would count Python's own memory too."""
    start = time.monotonic()
    child = subprocess.Popen(command, stderr=subprocess.DEVNULL if quiet else None)
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
