"""Every program's manual page names every option its --help lists, and no
other: the long options (--name) of `PROGRAM --help` against those in the
OPTIONS section of docs/man/PROGRAM.1, read from the roff source.

A failure names the file to update and what to add or remove there, so an
option added to a program's --help fails here until its manual page
describes it.

Usage: man_pages_test.py SOURCE_DIR PROGRAM...
(talveron-mpi answers --help as a single process, without mpirun.)
"""

import os
import pathlib
import re
import subprocess
import sys

SOURCE = pathlib.Path(sys.argv[1])
PROGRAMS = [pathlib.Path(p) for p in sys.argv[2:]]
OPTION = re.compile(r"(?<![\w-])--[a-z][a-z0-9]*(?:-[a-z0-9]+)*")
failures = []


def help_options(program):
    """The long options that `program --help` names, and its text."""
    command = [str(program), "--help"]
    # The desktop program answers --help before it needs a display.
    environment = dict(os.environ, DISPLAY="", QT_QPA_PLATFORM="")
    result = subprocess.run(command, capture_output=True, text=True, env=environment, timeout=120)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} exited {result.returncode}: {result.stderr.strip()}")
    return set(OPTION.findall(result.stdout)), result.stdout


def roff_text(line):
    """A roff line as it reads: \\- is a minus, font changes and the
    quotes of macro arguments are dropped."""
    line = line.replace("\\-", "-").replace("\\(hy", "-")
    line = re.sub(r"\\f(\[[^]]*\]|\(..|.)", "", line)
    return line.replace('"', "")


def man_options(page):
    """The long options named in the OPTIONS section of a roff page."""
    options = set()
    inside = False
    for line in page.read_text().splitlines():
        if line.startswith(".SH"):
            inside = line.split(None, 1)[1:] == ["OPTIONS"]
            continue
        if inside and not line.startswith(".\\\""):  # not a comment
            options |= set(OPTION.findall(roff_text(line)))
    return options


for program in PROGRAMS:
    name = program.name
    page = SOURCE / "docs" / "man" / f"{name}.1"
    shown = page.relative_to(SOURCE)
    if not page.exists():
        failures.append(f"{name} has no manual page: write {shown}")
        continue
    try:
        listed, text = help_options(program)
    except (OSError, RuntimeError, subprocess.TimeoutExpired) as error:
        failures.append(f"{name} --help: {error}")
        continue
    if not {"--help", "--version"} <= listed:
        failures.append(f"{name} --help names neither --help nor --version; read:\n{text}")
        continue
    documented = man_options(page)
    if not documented:
        failures.append(f"{shown} has no option under .SH OPTIONS")
    for option in sorted(listed - documented):
        failures.append(f"{shown} does not describe {option}, which `{name} --help` lists: "
                        f"add it under .SH OPTIONS in {shown}")
    for option in sorted(documented - listed):
        failures.append(f"{shown} names {option} under .SH OPTIONS, which `{name} --help` does not list: "
                        f"remove it from {shown}, or add it to {name}'s --help")
    print(f"{name}: {len(listed)} options in --help, {len(documented)} in {shown}")

for failure in failures:
    print("FAIL:", failure)
print(f"manual pages: {len(failures)} failures")
sys.exit(1 if failures else 0)
