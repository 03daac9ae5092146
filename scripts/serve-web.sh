#!/usr/bin/env bash
# Serves the page built by scripts/build-web.sh (build-web/site/) on this
# machine only, with Python's http.server, and prints its address.
# Usage: scripts/serve-web.sh [PORT]   (8000 by default; 0 takes a free one)
set -euo pipefail
cd "$(dirname "$0")/.."
site="$PWD/build-web/site"
if [ ! -f "$site/index.html" ] || [ ! -f "$site/talveron.wasm" ]; then
  echo "serve-web.sh: no page in build-web/site: build it first with scripts/build-web.sh" >&2
  exit 1
fi
port="${1:-8000}"
case "$port" in
  ''|*[!0-9]*) echo "serve-web.sh: the port must be a number from 0 to 65535, not \"$port\"" >&2; exit 2 ;;
esac
if [ "$port" -gt 65535 ]; then
  echo "serve-web.sh: the port must be a number from 0 to 65535, not \"$port\"" >&2
  exit 2
fi
# http.server prints the address it serves (the port it took, for 0) and
# a line per request.
exec /usr/bin/python3 -u -m http.server --bind 127.0.0.1 --directory "$site" "$port"
