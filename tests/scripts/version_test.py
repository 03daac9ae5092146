"""--version names the version and the build, the commit built from.

Every program given prints "NAME VERSION (build ID)", VERSION the project's
(CMakeLists.txt) and ID, in a git checkout, a name of a commit of its
history (`git describe --always --dirty` when it was built: the commit
checked out, or one before it when commits came after the build), else
"unknown". cmake/BuildId.cmake,
which writes the header the programs take it from, is run on git
repositories made here: it names their commit, marks changes not committed
"-dirty", follows a new commit, rewrites nothing when nothing changed, and
says "unknown" outside a checkout and in a folder inside another project's
checkout.

Usage: version_test.py SOURCE_DIR CMAKE PROGRAM...
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

SOURCE = pathlib.Path(sys.argv[1]).resolve()
CMAKE = sys.argv[2]
PROGRAMS = [pathlib.Path(p) for p in sys.argv[3:]]
SCRIPT = SOURCE / "cmake" / "BuildId.cmake"
TEMPLATE = SOURCE / "src" / "model" / "version.h.in"
VERSION = re.search(r"^project\(Talveron VERSION ([0-9.]+)", (SOURCE / "CMakeLists.txt").read_text(),
                    re.M).group(1)
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def git(folder, *args):
    """git in `folder`, without the settings of whoever runs the test."""
    environment = dict(os.environ, GIT_CONFIG_NOSYSTEM="1", HOME=str(folder), GIT_AUTHOR_NAME="t",
                       GIT_AUTHOR_EMAIL="t@example.org", GIT_COMMITTER_NAME="t",
                       GIT_COMMITTER_EMAIL="t@example.org")
    environment.pop("GIT_DIR", None)
    environment.pop("GIT_WORK_TREE", None)
    return subprocess.run(["git", "-C", str(folder), *args], capture_output=True, text=True, check=True,
                          env=environment).stdout.strip()


def commit_of(folder, name):
    """The commit a described name stands for, or None."""
    try:
        return git(folder, "rev-parse", "--verify", "--quiet", name.removesuffix("-dirty") + "^{commit}")
    except subprocess.CalledProcessError:
        return None


def is_checkout_top(folder):
    try:
        return pathlib.Path(git(folder, "rev-parse", "--show-toplevel")).resolve() == folder.resolve()
    except (subprocess.CalledProcessError, OSError):
        return False


# --- the programs ---
for program in PROGRAMS:
    environment = dict(os.environ, DISPLAY="", QT_QPA_PLATFORM="")  # talveron answers without a display
    result = subprocess.run([str(program), "--version"], capture_output=True, text=True, env=environment,
                            timeout=120)
    line = result.stdout
    match = re.fullmatch(re.escape(program.name) + r" (\S+) \(build ([A-Za-z0-9._+-]+)\)\n", line)
    check(result.returncode == 0 and match is not None,
          f"{program.name} --version said {line!r} (status {result.returncode}), "
          f"not '{program.name} {VERSION} (build ID)'")
    if match is None:
        continue
    check(match.group(1) == VERSION, f"{program.name} --version names version {match.group(1)}, not {VERSION}")
    build = match.group(2)
    if is_checkout_top(SOURCE):
        commit = commit_of(SOURCE, build)
        try:
            git(SOURCE, "merge-base", "--is-ancestor", commit or "", "HEAD")
            ours = commit is not None
        except subprocess.CalledProcessError:
            ours = False
        check(ours, f"{program.name} --version names build {build}, which is no commit of this checkout's "
                    f"history (at {git(SOURCE, 'rev-parse', '--short', 'HEAD')})")
    else:
        check(build == "unknown", f"{program.name}: build {build} from sources that are not a checkout")


# --- cmake/BuildId.cmake ---
def build_id(folder, output):
    """Runs the script for `folder`; the build its header names."""
    subprocess.run([CMAKE, f"-DSOURCE_DIR={folder}", f"-DINPUT={TEMPLATE}", f"-DOUTPUT={output}",
                    f"-DPROJECT_VERSION={VERSION}", "-P", str(SCRIPT)], check=True, capture_output=True)
    header = output.read_text()
    build = re.search(r'kBuild = "([^"]*)"', header).group(1)
    check(f'kTalveronVersion = "{VERSION}"' in header, f"the header does not give version {VERSION}:\n{header}")
    check(f'kVersionAndBuild = "{VERSION} (build {build})"' in header,
          f"the header's kVersionAndBuild is not '{VERSION} (build {build})':\n{header}")
    return build


work = pathlib.Path(tempfile.mkdtemp())
try:
    header = work / "out" / "model" / "version.h"

    plain = work / "plain"  # a source archive: no .git anywhere above
    plain.mkdir()
    check(build_id(plain, header) == "unknown", "a folder outside any checkout does not give 'unknown'")

    repository = work / "repository"
    repository.mkdir()
    git(repository, "init", "-q")
    (repository / "file.txt").write_text("one\n")
    git(repository, "add", "file.txt")
    git(repository, "commit", "-q", "-m", "one")
    first = build_id(repository, header)
    check(commit_of(repository, first) == git(repository, "rev-parse", "HEAD") and not first.endswith("-dirty"),
          f"a clean checkout gives build {first}, not its commit")

    # Nothing changed: the header is not written again, so nothing recompiles.
    before = header.stat().st_mtime_ns
    os.utime(header, ns=(before - 10**9, before - 10**9))
    before = header.stat().st_mtime_ns
    check(build_id(repository, header) == first, "the same checkout gives another build")
    check(header.stat().st_mtime_ns == before, "an unchanged build id rewrote the header")

    (repository / "file.txt").write_text("two\n")
    dirty = build_id(repository, header)
    check(dirty == first + "-dirty", f"a change not committed gives build {dirty}, not {first}-dirty")

    git(repository, "commit", "-q", "-a", "-m", "two")
    second = build_id(repository, header)
    check(second != first and commit_of(repository, second) == git(repository, "rev-parse", "HEAD"),
          f"after a new commit the build is {second} (before: {first})")

    # Sources unpacked inside another project's checkout are not its commit.
    inner = repository / "unpacked"
    inner.mkdir()
    check(build_id(inner, header) == "unknown", "a folder inside another checkout does not give 'unknown'")
finally:
    shutil.rmtree(work, ignore_errors=True)

for failure in failures:
    print("FAIL:", failure)
print(f"versions and builds: {len(PROGRAMS)} programs, {len(failures)} failures")
sys.exit(1 if failures else 0)
