#!/usr/bin/env bash
# `cpack -G DEB` makes a Debian package named talveron with the project's
# version, the files that `cmake --install` installs under /usr, and the
# libraries the programs need declared as dependencies; the packed
# talveron-batch runs.
#
#   package_test.sh BUILD_DIR VERSION PROGRAM...
set -uo pipefail
build="$1"
version="$2"
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out") > "$work/log" 2>&1 \
  || { cat "$work/log"; echo "FAIL: cpack"; exit 1; }
package=$(ls "$work"/out/talveron_*.deb 2>/dev/null)
[ -f "$package" ] || { cat "$work/log"; echo "FAIL: no package made"; exit 1; }

field() { dpkg-deb -f "$package" "$1"; }
[ "$(field Package)" = talveron ] || fail "package name '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "package version '$(field Version)', expected $version"

expected=()
for program in "$@"; do
  expected+=("usr/bin/$program" "usr/share/man/man1/$program.1")
  [ "$program" = talveron ] && expected+=(usr/share/applications/talveron.desktop
                                          usr/share/icons/hicolor/scalable/apps/talveron.svg)
done
for file in ${TALVERON_PYTHON_FILES:-}; do expected+=("usr/$file"); done
actual=$(dpkg-deb -c "$package" | grep -v '/$' | awk '{print $6}' | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
[ "$actual" = "$wanted" ] || fail "packed files differ from the expected ones:
$(diff <(echo "$wanted") <(echo "$actual"))"

depends=$(field Depends)
required=(libc6 libstdc++6)
for program in "$@"; do
  case "$program" in
    talveron) required+=(libqt6widgets6 libqt6gui6 libqt6core6) ;;
    talveron-mpi) required+=(openmpi-bin) ;;
  esac
done
[ -n "${TALVERON_PYTHON_FILES:-}" ] && required+=(python3-numpy python3-pandas)
for library in "${required[@]}"; do
  [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] \
    || fail "Depends does not name $library: $depends"
done

dpkg-deb -x "$package" "$work/root"
answer=$("$work/root/usr/bin/talveron-batch" --version 2>&1)
[ "$answer" = "talveron-batch $version" ] || fail "packed talveron-batch --version said '$answer'"

[ "$failures" -eq 0 ] || exit 1
echo "package: $(basename "$package"), Depends: $depends"
