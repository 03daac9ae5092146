#!/usr/bin/env bash
# scripts/test.sh in a small git checkout of its own, with the setup, the
# builds, npm and ctest faked: where npm cannot reach its registry the tests
# still run and the page's tests are reported as not run, with npm's reason;
# and every file the tests wrote, changed or deleted in the source tree is
# named and fails the run (ignored ones too, such as Python's __pycache__),
# while the build folders and what was there before are not.
#
#   test_command_test.sh SOURCE_DIR
set -uo pipefail
source_dir="$1"
command -v git > /dev/null || { echo "git is not installed: test.sh's check of the source tree is not tested"; exit 77; }
source "$(dirname "$0")/test_support.sh"

# The fakes. npm fails as it does without a network where FAKE_NPM=offline;
# ctest records its call and whether Python may write its caches, runs
# $FAKE_TESTS in the checkout (what the tests write there) and exits with
# $FAKE_STATUS.
cat > "$bin/npm" <<'FAKE'
#!/usr/bin/env bash
[ "$1" = config ] && { echo "https://npm-registry.invalid/"; exit 0; }
echo "npm $*" >> "$CALLS"
if [ "${FAKE_NPM:-}" = offline ]; then
  mkdir -p node_modules/half-installed
  echo "npm error code ENOTFOUND" >&2
  echo "npm error FetchError: request to https://npm-registry.invalid/puppeteer-core failed, reason: getaddrinfo ENOTFOUND npm-registry.invalid" >&2
  echo "npm error     at ClientRequest.<anonymous> (/usr/lib/node_modules/npm/lib/fetch.js:130:14) {" >&2
  echo "npm error   code: 'ENOTFOUND'," >&2
  echo "npm error }" >&2
  echo "npm error A complete log of this run can be found in: /root/.npm/_logs/debug-0.log" >&2
  exit 1
fi
mkdir -p node_modules/puppeteer-core
FAKE
cat > "$bin/ctest" <<'FAKE'
#!/usr/bin/env bash
echo "ctest ${PYTHONDONTWRITEBYTECODE:-caches allowed}" >> "$CALLS"
eval "${FAKE_TESTS:-}"
exit "${FAKE_STATUS:-0}"
FAKE
chmod +x "$bin"/*

# checkout NAME: a fresh checkout with the real test.sh and .gitignore.
checkout() {
  local tree="$work/$1"
  mkdir -p "$tree/scripts" "$tree/tests/web" "$tree/python/talveron" "$tree/docs"
  cp "$source_dir/scripts/test.sh" "$tree/scripts/"
  cp "$source_dir/.gitignore" "$tree/"
  for script in setup build build-web; do
    printf '#!/usr/bin/env bash\nmkdir -p build build-web/site\n' > "$tree/scripts/$script.sh"
    chmod +x "$tree/scripts/$script.sh"
  done
  echo '{}' > "$tree/tests/web/package.json"
  echo '{"lockfileVersion": 3}' > "$tree/tests/web/package-lock.json"
  echo 'print("plots")' > "$tree/python/talveron/plots.py"
  echo readme > "$tree/README.md"
  echo notes > "$tree/docs/notes.md"
  git -C "$tree" init -q
  git -C "$tree" add -A
  git -C "$tree" -c user.name=test -c user.email=test@example.org commit -qm checkout
}

# run NAME: runs test.sh in checkout NAME; its status, output and the fakes'
# calls are left in $status, $work/NAME.out and $work/NAME.calls.
run() {
  CALLS="$work/$1.calls" PATH="$bin:$PATH" PYTHONDONTWRITEBYTECODE=1 \
    bash "$work/$1/scripts/test.sh" > "$work/$1.out" 2>&1 < /dev/null
  status=$?
}

# reported NAME: the paths the run named as written into the source tree.
reported() {
  sed -n '/changed these in the source tree/,$p' "$work/$1.out" | tail -n +2 | sed 's/^  //' | sort
}

# npm without its registry: the other tests run, the page's are reported
# not run with npm's reason, nothing half-installed stays, and the next run
# tries again.
checkout offline
FAKE_NPM=offline run offline
[ "$status" -eq 0 ] || fail "offline: exit status $status, expected 0"
grep -q '^ctest' "$work/offline.calls" || fail "offline: the tests did not run"
grep -q "web_page_tests) were NOT RUN" "$work/offline.out" || fail "offline: the page's tests are not reported as not run"
grep -qF "getaddrinfo ENOTFOUND npm-registry.invalid" "$work/offline.out" || fail "offline: npm's reason is not shown"
grep -qF "ClientRequest" "$work/offline.out" && fail "offline: npm's stack trace is shown"
[ -e "$work/offline/build-web/node/node_modules" ] && fail "offline: a half-installed node_modules stays"
FAKE_NPM=offline run offline
[ "$(grep -c '^npm ci' "$work/offline.calls")" -eq 2 ] || fail "offline: the second run did not try npm again"
# Whatever the caller's settings, the tests run with Python free to write
# its caches, so that a test that lets it is seen.
grep -qx "ctest caches allowed" "$work/offline.calls" || fail "offline: ctest ran with $(grep ^ctest "$work/offline.calls")"

# With the registry: the package is installed once, nothing is reported.
checkout online
run online
run online
[ "$status" -eq 0 ] || fail "online: exit status $status: $(cat "$work/online.out")"
[ -d "$work/online/build-web/node/node_modules/puppeteer-core" ] || fail "online: puppeteer-core not installed"
[ "$(grep -c '^npm ci' "$work/online.calls")" -eq 1 ] || fail "online: npm ci ran again with the same lock file"
grep -q "NOT RUN\|source tree" "$work/online.out" && fail "online: reported $(cat "$work/online.out")"

# Tests that write into the source tree: a compiled module (which git
# ignores), a new file, a changed and a deleted committed file are named;
# what they write into the build folders, and a change made before the run,
# are not.
checkout writes
echo "my own change" > "$work/writes/docs/notes.md"
FAKE_TESTS='mkdir -p python/talveron/__pycache__ build/Testing build-web/node/x
            echo pyc > python/talveron/__pycache__/plots.cpython-311.pyc
            echo result > result.txt; echo changed >> README.md; rm docs/notes.md
            echo log > build/Testing/log; echo x > build-web/node/x/y' run writes
[ "$status" -eq 1 ] || fail "writes: exit status $status, expected 1"
expected="README.md
docs/notes.md
python/talveron/__pycache__/
python/talveron/__pycache__/plots.cpython-311.pyc
result.txt"
[ "$(reported writes)" = "$expected" ] || fail "writes: reported
$(reported writes)
expected
$expected"

# A __pycache__ there before the run, to which a test adds a file: only the
# new file is named. A failing ctest keeps its own status.
checkout cache
mkdir -p "$work/cache/python/talveron/__pycache__"
echo old > "$work/cache/python/talveron/__pycache__/plots.cpython-311.pyc"
FAKE_STATUS=8 FAKE_TESTS='echo new > python/talveron/__pycache__/frames.cpython-311.pyc' run cache
[ "$status" -eq 8 ] || fail "cache: exit status $status, expected ctest's 8"
[ "$(reported cache)" = "python/talveron/__pycache__/frames.cpython-311.pyc" ] \
  || fail "cache: reported '$(reported cache)'"

[ "$failures" -eq 0 ] || { echo "see the outputs above"; exit 1; }
echo "test.sh: runs without npm's registry and names what tests leave in the source tree"
