#!/usr/bin/env bash
# scripts/build.sh on a machine without cmake or a C++ compiler (a fresh
# one, before scripts/setup.sh) stops with status 1 and says to run the
# setup first, rather than failing on a missing command.
#
#   build_test.sh SOURCE_DIR
set -uo pipefail
source "$(dirname "$0")/test_support.sh"
link_tools bash dirname
# missing: which of cmake and c++ the machine lacks
for missing in cmake c++; do
  rm -f "$bin/cmake" "$bin/c++"
  for tool in cmake c++; do
    [ "$tool" = "$missing" ] || record_calls "$tool"
  done
  PATH="$bin" "$bin/bash" "$1/scripts/build.sh" > "$work/out" 2>&1 < /dev/null
  status=$?
  [ "$status" -eq 1 ] || fail "without $missing: exit status $status, expected 1"
  grep -qF "$missing is not installed" "$work/out" || fail "without $missing: does not name it: $(cat "$work/out")"
  grep -qF "scripts/setup.sh" "$work/out" || fail "without $missing: does not point to scripts/setup.sh"
  [ -e "$work/calls" ] && fail "without $missing: went on to: $(cat "$work/calls")"
done

[ "$failures" -eq 0 ] || exit 1
echo "build.sh without cmake or a compiler: points to the setup"
