#!/usr/bin/env bash
# `cmake --install` into a temporary prefix installs the programs, a manual
# page for each (gzipped), the desktop entry and its icon, the Python package
# where it is built (installed_files.sh), and nothing else: not the
# Debian package's own files, no compiled Python, no empty folder. The
# installed talveron-batch runs and reports the project's version, and the
# installed package imports.
#
#   install_test.sh BUILD_DIR VERSION PROGRAM...
set -uo pipefail
source "$(dirname "$0")/installed_files.sh"
build="$1"
version="$2"
shift 2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" > "$prefix.log" 2>&1 \
  || { cat "$prefix.log"; rm -f "$prefix.log"; echo "FAIL: cmake --install"; exit 1; }
rm -f "$prefix.log"

expected=()
for program in "$@"; do
  expected+=("bin/$program" "share/man/man1/$program.1.gz")
  [ "$program" = talveron ] && expected+=(share/applications/talveron.desktop
                                          share/icons/hicolor/scalable/apps/talveron.svg)
  [ "$program" = talveron-batch ] && expected+=($(lessons share))
done
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
wanted=$( (printf '%s\n' "${expected[@]}"; python_package_files) | sort)
[ "$actual" = "$wanted" ] || fail "installed files differ from the expected ones:
$(diff <(echo "$wanted") <(echo "$actual"))"
empty=$(cd "$prefix" && find . -mindepth 1 -type d -empty | sed 's|^\./||')
[ -z "$empty" ] || fail "installed empty folders: $empty"

# The version and the build, as the program built says them.
answer=$("$prefix/bin/talveron-batch" --version 2>&1)
built=$("$build/src/batch/talveron-batch" --version 2>&1)
[[ "$answer" == "talveron-batch $version (build "?*")" && "$answer" = "$built" ]] \
  || fail "installed talveron-batch --version said '$answer'; the one built says '$built'"

if [ -n "${TALVERON_PYTHON_DIR:-}" ]; then
  package="$TALVERON_PYTHON_DIR"
  answer=$(cd / && PYTHONPATH="$prefix/$(dirname "$package")" PYTHONDONTWRITEBYTECODE=1 \
           /usr/bin/python3 -c 'import talveron; print(talveron.__version__, talveron.__file__)' 2>&1)
  [ "$answer" = "$version $prefix/$package/__init__.py" ] \
    || fail "the installed Python package: '$answer'"
fi

for program in "$@"; do
  page="$prefix/share/man/man1/$program.1.gz"
  [ -f "$page" ] || continue
  zcat "$page" | grep -q "^\.TH \"\?${program^^}\"\? 1 .*\"Talveron $version\"" \
    || fail "$program.1: the title line does not name $program and version $version"
  # Where groff is at hand, the page must format without a warning.
  if command -v groff > /dev/null; then
    warnings=$(zcat "$page" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$program.1: $warnings"
  fi
done

desktop="$prefix/share/applications/talveron.desktop"
if [ -f "$desktop" ]; then
  exec_line=$(grep '^Exec=' "$desktop" | cut -d= -f2 | cut -d' ' -f1)
  icon=$(grep '^Icon=' "$desktop" | cut -d= -f2)
  [ -x "$prefix/bin/$exec_line" ] || fail "the desktop entry starts '$exec_line', which is not installed"
  [ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] \
    || fail "the desktop entry's icon '$icon' is not installed"
fi

[ "$failures" -eq 0 ] || exit 1
echo "install: $# programs with their manual pages; talveron-batch $version runs"
