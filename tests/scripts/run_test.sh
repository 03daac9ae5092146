#!/usr/bin/env bash
# scripts/run.sh without a display stops before the setup and the build,
# with status 1 and the ways to run the desktop program.
#
#   run_test.sh SOURCE_DIR
set -uo pipefail
source "$(dirname "$0")/test_support.sh"

# Every command the setup or the build would start only leaves a trace.
link_tools bash cat dirname
record_calls dpkg-query apt-get sudo cmake nproc

env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM PATH="$bin" \
  "$bin/bash" "$1/scripts/run.sh" > "$work/out" 2>&1 < /dev/null
status=$?
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
for advice in "DISPLAY is not set" "ssh -X" "xvfb-run -a scripts/run.sh" \
              "scripts/setup.sh && scripts/build.sh" "talveron-batch --help"; do
  grep -qF -- "$advice" "$work/out" || fail "the message does not mention '$advice'"
done
[ -e "$work/calls" ] && fail "went on to: $(cat "$work/calls")"

[ "$failures" -eq 0 ] || { cat "$work/out"; exit 1; }
echo "run.sh without a display: stops with advice"
