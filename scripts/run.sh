#!/usr/bin/env bash
# Sets up a fresh machine, builds, and starts the desktop program.
# Arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

# The desktop program needs a display; say how to get one before spending
# minutes on the setup and the build.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'MESSAGE'
The desktop program needs a display, and there is none here (DISPLAY is not set).
Start it in one of these ways:
  - from a terminal of a desktop session on this machine: scripts/run.sh
  - from another machine over ssh with X forwarding: ssh -X THIS-MACHINE,
    then scripts/run.sh
  - on a virtual display, where nobody sees it: xvfb-run -a scripts/run.sh
The batch command needs no display. Set up this machine (once, as root or
with sudo) and build it, then ask it:
  scripts/setup.sh && scripts/build.sh --target talveron-batch
  build/src/batch/talveron-batch --help
MESSAGE
  exit 1
fi

scripts/setup.sh
echo "Building the desktop program in build/ (the first time takes a few minutes)"
scripts/build.sh --target talveron
# Qt warns when the per-user runtime folder is not set (as for root, or over
# su); give it the folder it would choose itself, quietly.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="${TMPDIR:-/tmp}/runtime-$(id -un)"
  mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
fi
exec build/src/gui/talveron "$@"
