# Sourced by install_test.sh and package_test.sh: what an install holds
# beyond the programs and their pages.
#
# lessons DATADIR prints the lessons of the source's lessons folder and the
# glossary, under DATADIR.
lessons() {
  local name
  while read -r name; do
    [ -n "$name" ] && echo "$1/talveron/lessons/$name.md $1/talveron/lessons/$name.toml"
  done < "$(dirname "${BASH_SOURCE[0]}")/../../lessons/index.txt"
  echo "$1/talveron/lessons/glossary.md $1/talveron/lessons/disc-rings.svg"
}

# python_package_files prints the files that the Python package installs,
# relative to the prefix, one a line, nothing where the package is not built. They are the
# extension module and every file of the package's folder that belongs to
# the source tree: what git holds or would take on (not what it ignores,
# such as Python's __pycache__); outside a git checkout, every file but
# compiled Python. From the environment:
#   TALVERON_PYTHON_SOURCE  the package's folder in the source tree
#   TALVERON_PYTHON_DIR     where the package installs, relative to the prefix
#   TALVERON_PYTHON_MODULE  the extension module's file name
python_package_files() {
  [ -n "${TALVERON_PYTHON_DIR:-}" ] || return 0
  echo "$TALVERON_PYTHON_DIR/$TALVERON_PYTHON_MODULE"
  local files file
  if git -C "$TALVERON_PYTHON_SOURCE" rev-parse --git-dir > /dev/null 2>&1; then
    files=$(git -C "$TALVERON_PYTHON_SOURCE" ls-files --cached --others --exclude-standard .)
  else
    files=$(cd "$TALVERON_PYTHON_SOURCE" && find . -type f ! -path '*/__pycache__/*' ! -name '*.py[co]' \
            | sed 's|^\./||')
  fi
  for file in $files; do
    # A file deleted but not yet committed as deleted is no longer there.
    [ -f "$TALVERON_PYTHON_SOURCE/$file" ] && echo "$TALVERON_PYTHON_DIR/$file"
  done
  return 0
}
