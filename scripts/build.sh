#!/usr/bin/env bash
# Configures and builds (release build) into ./build; arguments go to
# `cmake --build`, e.g. `--target talveron` to build the desktop program
# alone. scripts/run.sh and scripts/test.sh share this one configuration, so
# neither rebuilds what the other built. Warnings as errors and the
# sanitizers are for builds in folders of their own (see .ci/run).
#
# A new build folder leaves out the benchmarks, which neither the desktop
# program nor the tests need; to have them in build/ too, once:
#   cmake -S . -B build -DTALVERON_BENCHMARKS=ON
# and from then on this script builds them as well.
set -euo pipefail
cd "$(dirname "$0")/.."
# On a fresh machine nothing of the build is installed yet.
for tool in cmake c++; do
  command -v "$tool" > /dev/null || {
    echo "build.sh: $tool is not installed; scripts/setup.sh installs what the build needs (run it first)" >&2
    exit 1
  }
done
options=(-DCMAKE_BUILD_TYPE=Release -DTALVERON_WERROR=OFF -DTALVERON_SANITIZE=OFF)
[ -f build/CMakeCache.txt ] || options+=(-DTALVERON_BENCHMARKS=OFF)
cmake -S . -B build "${options[@]}"
cmake --build build -j"$(nproc)" "$@"
