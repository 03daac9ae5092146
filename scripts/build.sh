#!/usr/bin/env bash
# Configures and builds (release build) into ./build; arguments go to
# `cmake --build`, e.g. `--target talveron` to build the desktop program
# alone. scripts/run.sh and scripts/test.sh share this one configuration, so
# neither rebuilds what the other built. Warnings as errors and the
# sanitizers are for builds in folders of their own (see .ci/run).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTALVERON_WERROR=OFF -DTALVERON_SANITIZE=OFF
cmake --build build -j"$(nproc)" "$@"
