#!/usr/bin/env bash
# Sets up a fresh machine, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
# The web page, and the pinned puppeteer-core its tests drive Chromium with
# (installed again only when tests/web/package-lock.json changes).
scripts/build-web.sh
mkdir -p build-web/node
if ! cmp -s tests/web/package-lock.json build-web/node/package-lock.json || [ ! -d build-web/node/node_modules ]; then
  cp tests/web/package.json tests/web/package-lock.json build-web/node/
  (cd build-web/node && npm ci --no-audit --no-fund --ignore-scripts --loglevel=error)
fi
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j"$(nproc)"
