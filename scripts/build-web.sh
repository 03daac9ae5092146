#!/usr/bin/env bash
# Builds Talveron for the browser into build-web/site/: the WebAssembly
# module (Debian's emscripten) and the page's files. Any static web host can
# serve the folder as it is; scripts/serve-web.sh serves it here.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
site="$root/build-web/site"
command -v emcmake >/dev/null || { echo "build-web.sh: emscripten is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
# Debian's emscripten runs on Debian's Node.js modules (acorn and others);
# another Node.js first on the PATH does not find them.
export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"
mkdir -p "$site"
emcmake cmake -S src/web -B build-web/cmake -DCMAKE_BUILD_TYPE=Release -DTALVERON_SITE="$site" >/dev/null
cmake --build build-web/cmake -j"$(nproc)"
cp src/web/site/*.html src/web/site/*.js src/web/site/*.css "$site/"
cp docs/disc-rings.svg "$site/"  # the glossary's picture
/usr/bin/python3 src/web/guide_html.py docs/guide.md src/web/site/guide-web.md > "$site/guide.html"
echo "Built the page into build-web/site/ (scripts/serve-web.sh serves it)"
