#!/usr/bin/env bash
# Sets up a fresh machine, builds and runs every test, then checks that the
# tests left the source tree as they found it: a file that a test wrote,
# changed or deleted there is named, and fails the run.
#
# The web page's tests drive Chromium with puppeteer-core, which npm
# installs from the npm registry (the first time, and again when
# tests/web/package-lock.json changes). Where npm cannot install it (no
# network, the registry unreachable), every other test still runs and the
# page's tests are reported as not run, with npm's reason.
set -euo pipefail
cd "$(dirname "$0")/.."

# Python writes its caches (__pycache__) beside the modules it imports
# unless told otherwise. A test must tell it; the check below is to see it
# when one does not, whatever this shell's own settings.
unset PYTHONDONTWRITEBYTECODE PYTHONPYCACHEPREFIX

# The source tree's state beyond its committed files: every changed, new or
# ignored file with a checksum of its content (or git's status where it is
# gone), one a line. The build folders (build/, build-*/ and the web tests'
# node_modules, which .gitignore names) are left out: the build and the
# tests write there.
tree_state() {
  local entry status path
  git status --porcelain=v1 -z --ignored=matching --untracked-files=all |
    while IFS= read -r -d '' entry; do
      status="${entry:0:2}" path="${entry:3}"
      # A rename or copy in the index is followed by its source path.
      [[ "$status" == [RC]* ]] && IFS= read -r -d '' _
      [[ "$path" =~ ^(build|build-[^/]*|tests/web/node_modules)(/|$) ]] && continue
      if [[ "$path" == */ ]]; then
        # An ignored folder, which git names whole: it, and its files one
        # by one.
        printf '%s\t%s\n' "$path" "$status"
        find "$path" -type f -exec sha1sum {} + | sed 's/^\([0-9a-f]*\)  \(.*\)$/\2\t\1/'
      elif [ -f "$path" ] && [ ! -L "$path" ]; then
        printf '%s\t%s\n' "$path" "$(sha1sum < "$path" | cut -d' ' -f1)"
      else
        printf '%s\t%s\n' "$path" "$status"
      fi
    done | LC_ALL=C sort
}
check_tree=false
if command -v git > /dev/null && [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$PWD" ]; then
  check_tree=true
  tree_before=$(tree_state)
fi

scripts/setup.sh
scripts/build.sh
# The web page, and the pinned puppeteer-core its tests drive Chromium with.
scripts/build-web.sh
web_not_run=""
node=build-web/node
mkdir -p "$node"
if ! cmp -s tests/web/package-lock.json "$node/package-lock.json" || [ ! -d "$node/node_modules" ]; then
  echo "Installing the web page tests' puppeteer-core with npm (from $(npm config get registry 2>/dev/null || echo 'the npm registry'))"
  cp tests/web/package.json tests/web/package-lock.json "$node/"
  if ! (cd "$node" && npm ci --no-audit --no-fund --ignore-scripts --loglevel=error \
          --fetch-retries=1 --fetch-timeout=60000) > "$node/npm.log" 2>&1; then
    # Without the package the page's tests skip themselves; the next run
    # tries again.
    rm -rf "$node/node_modules" "$node/package-lock.json"
    # npm's reason, without its stack trace and the lines around it.
    web_not_run=$(grep -Ev '^npm (ERR!|error)( +at |   |$| *[{}] *$)|A complete log' "$node/npm.log" |
                  head -n 6 | sed 's/^/  /' || true)
    web_not_run+="${web_not_run:+$'\n'}  (all of npm's output: $node/npm.log)"
    echo "npm could not install puppeteer-core; the page's tests will not run:" >&2
    echo "$web_not_run" >&2
  fi
fi

export QT_QPA_PLATFORM=offscreen
status=0
ctest --test-dir build --output-on-failure -j"$(nproc)" || status=$?

if [ -n "$web_not_run" ]; then
  cat <<MESSAGE

The web page's tests (web_page_tests) were NOT RUN: npm could not install
puppeteer-core, with which they drive Chromium, from the npm registry. npm said:
$web_not_run
Every other test ran. Run scripts/test.sh again where the npm registry can be
reached to run them too.
MESSAGE
fi

if $check_tree; then
  changed=$(diff <(echo "$tree_before") <(tree_state) | sed -n 's/^[<>] \([^\t]*\)\t.*/\1/p' | sort -u || true)
  if [ -n "$changed" ]; then
    echo
    echo "The tests changed these in the source tree (outside the build folders), which tests must not do:"
    echo "$changed" | sed 's/^/  /'
    [ "$status" -ne 0 ] || status=1
  fi
else
  echo "Not a git checkout (or git cannot read it): whether the tests left the source tree as they found it is not checked."
fi
exit "$status"
