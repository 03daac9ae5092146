# What the script tests share, sourced by each: a folder of their own,
# $work, removed when the test ends; failures counted by fail; and
# $work/bin for the system's commands as a test sets them up: link_tools
# puts the real ones there, record_calls fakes that only note their call in
# $work/calls.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

bin="$work/bin"
mkdir -p "$bin"
link_tools() {
  local tool
  for tool; do ln -s "$(command -v "$tool")" "$bin/$tool"; done
}
record_calls() {
  local tool
  for tool; do
    printf '#!/usr/bin/env bash\necho "%s $*" >> "%s"\n' "$tool" "$work/calls" > "$bin/$tool"
    chmod +x "$bin/$tool"
  done
}
