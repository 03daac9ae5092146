#!/usr/bin/env bash
# The product's source files stay short enough to read and its folders
# small enough to find one's way in: no source file under src/ or python/
# (.cpp .h .py .pyi .js .html .css) has more than 800 lines, and no folder
# there holds more than 25 of them. Each file or folder over its limit is
# named with the limit. The files are those git knows (tracked, and new ones
# not ignored) where the source is a git checkout, else those on disk
# outside hidden, cache and build folders.
#
#   source_size_test.sh SOURCE_DIR
set -uo pipefail
source "$(dirname "$0")/test_support.sh"

max_lines=800
max_files=25

# The product's source files below ROOT, one a line, relative to it.
source_files() {
  local root=$1
  if command -v git > /dev/null && git -C "$root" rev-parse --is-inside-work-tree > /dev/null 2>&1; then
    git -C "$root" ls-files --cached --others --exclude-standard -- src python
  else
    (cd "$root" && find src python -type d \( -name '.*' -o -name __pycache__ -o -name node_modules -o -name 'build*' \) \
      -prune -o -type f -print 2> /dev/null)
  fi | grep -E '\.(cpp|h|py|pyi|js|html|css)$' | sort -u
}

# Prints each file and folder below ROOT over its limit; fails when any is.
check_tree() {
  local root=$1 file lines folder over=0
  local -A count=()
  while IFS= read -r file; do
    [ -f "$root/$file" ] || continue  # known to git, gone from the disk
    # Lines as a reader counts them: a last line without its newline too.
    lines=$(awk 'END { print NR }' "$root/$file")
    if [ "$lines" -gt "$max_lines" ]; then
      echo "$file: $lines lines, more than the $max_lines a source file may have"
      over=1
    fi
    count[$(dirname "$file")]=$((${count[$(dirname "$file")]:-0} + 1))
  done < <(source_files "$root")
  for folder in "${!count[@]}"; do
    if [ "${count[$folder]}" -gt "$max_files" ]; then
      echo "$folder: ${count[$folder]} source files, more than the $max_files a folder may hold"
      over=1
    fi
  done
  return "$over"
}

# First a made-up tree, so that a check that passes is known to be able to
# fail: a file and a folder just over their limits, others just at them,
# and files that are not source or not the product's.
fake="$work/tree"
mkdir -p "$fake/src/full" "$fake/src/over" "$fake/python/pkg" "$fake/tests" "$fake/src/.hidden"
seq "$max_lines" > "$fake/src/full/at_limit.cpp"
{ seq "$max_lines"; printf 'no newline'; } > "$fake/python/pkg/long.py"
seq 2000 > "$fake/src/full/notes.txt"
seq 2000 > "$fake/tests/long_test.cpp"
seq 2000 > "$fake/src/.hidden/long.js"
for i in $(seq 2 "$max_files"); do : > "$fake/src/full/f$i.h"; done
for i in $(seq 0 "$max_files"); do : > "$fake/src/over/f$i.css"; done
GIT_CEILING_DIRECTORIES="$work" check_tree "$fake" > "$work/fake.out"
[ $? -eq 1 ] || fail "a tree over the limits passed"
grep -qxF "python/pkg/long.py: $((max_lines + 1)) lines, more than the $max_lines a source file may have" \
  "$work/fake.out" || fail "the long file is not named: $(cat "$work/fake.out")"
grep -qxF "src/over: $((max_files + 1)) source files, more than the $max_files a folder may hold" \
  "$work/fake.out" || fail "the full folder is not named: $(cat "$work/fake.out")"
[ "$(wc -l < "$work/fake.out")" -eq 2 ] || fail "more than the two named: $(cat "$work/fake.out")"

# Then the product itself.
if ! check_tree "$1"; then
  fail "source files or folders over their limits (listed above)"
fi

[ "$failures" -eq 0 ] || exit 1
echo "every source file has at most $max_lines lines, every folder at most $max_files source files"
