#!/usr/bin/env bash
# scripts/setup.sh against fake system commands: dpkg-query reports xvfb
# missing, id says who runs it, and sudo and apt-get only record their calls.
#
#   setup_test.sh SOURCE_DIR
set -uo pipefail
setup="$1/scripts/setup.sh"
source "$(dirname "$0")/test_support.sh"

link_tools bash env grep
cat > "$bin/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
for arg; do :; done
[ "$arg" = xvfb ] && [ -z "${NOTHING_MISSING:-}" ] && exit 1
printf 'install ok installed'
FAKE
cat > "$bin/id" <<'FAKE'
#!/usr/bin/env bash
echo "$FAKE_UID"
FAKE
cat > "$bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "apt-get $*" >> "$CALLS"
FAKE
chmod +x "$bin"/*
sudo_script() {  # a sudo that lets the user in (0) or refuses (1)
  printf '#!/usr/bin/env bash\n[ "$1" = -v ] && exit %s\necho "sudo $*" >> "$CALLS"\n"$@"\n' "$1" \
    > "$bin/sudo"
  chmod +x "$bin/sudo"
}

# run NAME UID: runs the script, leaving its exit status, output and the
# recorded calls in $status, $work/NAME.out and $work/NAME.calls.
run() {
  : > "$work/$1.calls"
  CALLS="$work/$1.calls" FAKE_UID="$2" PATH="$bin" "$bin/bash" "$setup" \
    > "$work/$1.out" 2>&1 < /dev/null
  status=$?
}

expected_line="apt-get update && apt-get install -y --no-install-recommends xvfb"

# Neither root nor sudo, and sudo present but refusing: nothing is
# installed; status 1 and a message that names the package, the reason and
# the command to run as root.
refused() {  # NAME REASON
  [ "$status" -eq 1 ] || fail "$1: exit status $status, expected 1"
  grep -qxF "  $expected_line" "$work/$1.out" || fail "$1: no line '$expected_line'"
  grep -qx "  xvfb" "$work/$1.out" || fail "$1: the missing package is not named"
  grep -qF "$2" "$work/$1.out" || fail "$1: does not say '$2'"
  [ -s "$work/$1.calls" ] && fail "$1: ran $(cat "$work/$1.calls")"
}
run no-sudo 1000
refused no-sudo "sudo is not installed"
sudo_script 1
run sudo-refused 1000
refused sudo-refused "sudo refused"

# As root, and through a sudo that lets the user in: only the missing
# package is installed, without the recommended ones.
rm "$bin/sudo"
run root 0
[ "$status" -eq 0 ] || fail "root: exit status $status"
grep -qxF "apt-get install -y --no-install-recommends xvfb" "$work/root.calls" \
  || fail "root: calls were: $(cat "$work/root.calls")"
sudo_script 0
run sudo 1000
[ "$status" -eq 0 ] || fail "sudo: exit status $status"
grep -qxF "sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends xvfb" \
  "$work/sudo.calls" || fail "sudo: calls were: $(cat "$work/sudo.calls")"

# Nothing missing: nothing to do, whoever runs it.
NOTHING_MISSING=1 run complete 1000
[ "$status" -eq 0 ] || fail "complete: exit status $status"
[ -s "$work/complete.calls" ] && fail "complete: ran $(cat "$work/complete.calls")"

[ "$failures" -eq 0 ] || { echo "see the outputs above"; exit 1; }
echo "setup.sh: all cases pass"
