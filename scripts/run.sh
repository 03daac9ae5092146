#!/usr/bin/env bash
# Sets up a fresh machine, builds, and starts the desktop program.
# Arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh >/dev/null
exec build/src/gui/talveron "$@"
