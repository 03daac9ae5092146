#!/usr/bin/env bash
# Generations a second of the batch command, and of the desktop program
# and the page at the fastest speed with the frames a second they show,
# measured one after the other on this machine: the batch command's loop
# and the desktop program's on Qt (build/bench/talveron_gui_bench,
# offscreen, at the fastest speed and in a series) and the page bench.html
# in headless Chromium, which runs the same loop in WebAssembly and shows
# all the figures. Needs the
# desktop build with its benchmarks (scripts/build.sh), the page
# (scripts/build-web.sh) and puppeteer-core in build-web/node (scripts/test.sh
# installs it).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
bench="$root/build/bench/talveron_gui_bench"
[ -x "$bench" ] || { echo "bench-web.sh: $bench is missing: build with scripts/build.sh" >&2; exit 1; }
[ -f build-web/site/bench.html ] || { echo "bench-web.sh: no page: build it with scripts/build-web.sh" >&2; exit 1; }
[ -d build-web/node/node_modules/puppeteer-core ] ||
  { echo "bench-web.sh: puppeteer-core is not installed in build-web/node (scripts/test.sh installs it)" >&2; exit 1; }

work=$(mktemp -d)
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT

echo "Desktop program (talveron_gui_bench, Qt offscreen)..."
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" "$bench" \
  --benchmark_filter='BM_(Batch|Fastest|Series)/' --benchmark_format=json >"$work/native.json" 2>/dev/null
/usr/bin/python3 - "$work/native.json" build-web/site/native.json <<'PY'
import json
import sys

runs = json.load(open(sys.argv[1]))["benchmarks"]
figures = {}
for run in runs:
    kind, density = run["name"].split("/")[:2]
    figure = figures.setdefault(density, {})
    if kind == "BM_Batch":
        figure["batch"] = run["generations/s"]
    elif kind == "BM_Fastest":
        figure["fastest"] = run["generations/s"]
        figure["frames"] = run["frames/s"]
    elif kind == "BM_Series":
        figure["series"] = run["generations/s"]
json.dump(figures, open(sys.argv[2], "w"))
PY

scripts/serve-web.sh 0 >"$work/serve.log" 2>&1 &
server=$!
for _ in $(seq 50); do grep -q "http://127.0.0.1:" "$work/serve.log" && break; sleep 0.1; done
address=$(grep -o "http://127.0.0.1:[0-9]*/" "$work/serve.log" | head -1)
echo "Browser (bench.html in headless Chromium)..."
NODE_PATH="$root/build-web/node/node_modules" node scripts/bench-web.js "${address}bench.html" "$work/profile"
