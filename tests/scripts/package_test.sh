#!/usr/bin/env bash
# `cpack -G DEB` makes the Debian packages as a user installs them:
#   talveron      the desktop program and talveron-batch, their manual pages,
#                 the menu entry and its icon; matplotlib only recommended;
#   talveron-mpi  (where talveron-mpi is built) talveron-mpi and its page,
#                 depending on talveron of the same version and Open MPI;
# each with a description that apt shows as paragraphs, its copyright file,
# its changelog (whose latest entry is the package's version), its lintian
# overrides and the libraries its programs need declared; no MPI in
# talveron. The packed talveron-batch runs.
# Where lintian is installed, it finds no error and no warning in either.
#
#   package_test.sh BUILD_DIR VERSION PROGRAM...
set -uo pipefail
# The lessons of the source's lessons folder and the glossary, under DATADIR.
lessons() {
  local name
  while read -r name; do
    [ -n "$name" ] && echo "$1/talveron/lessons/$name.md $1/talveron/lessons/$name.toml"
  done < "$(dirname "$0")/../../lessons/index.txt"
  echo "$1/talveron/lessons/glossary.md $1/talveron/lessons/disc-rings.svg"
}
build="$1"
version="$2"
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out") > "$work/log" 2>&1 \
  || { cat "$work/log"; echo "FAIL: cpack"; exit 1; }

has() { local want="$1"; shift; for item; do [ "$item" = "$want" ] && return 0; done; return 1; }
packages=(talveron)
has talveron-mpi "$@" && packages+=(talveron-mpi)
made=$(cd "$work/out" && ls ./*.deb 2>/dev/null | sed 's|^\./||' | sort)
for p in "${packages[@]}"; do
  ls "$work/out/${p}"_*.deb > /dev/null 2>&1 || { cat "$work/log"; echo "FAIL: no package $p made"; exit 1; }
done
[ "$(echo "$made" | wc -l)" -eq "${#packages[@]}" ] || fail "made other packages than ${packages[*]}: $made"

# The Debian version is the changelog's latest: the project's version and a
# Debian revision.
debian_version=$(zcat "$build/debian/changelog.Debian.gz" | head -1 | sed -n 's/^talveron (\(.*\)) .*/\1/p')
[ "${debian_version%-*}" = "$version" ] \
  || fail "the changelog's latest entry is '$debian_version', not version $version"

for p in "${packages[@]}"; do
  deb=$(ls "$work/out/${p}"_*.deb)
  field() { dpkg-deb -f "$deb" "$1"; }
  [ "$(field Package)" = "$p" ] || fail "package name '$(field Package)', expected $p"
  [ "$(field Version)" = "$debian_version" ] \
    || fail "$p: version '$(field Version)', the changelog says $debian_version"
  [[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] \
    || fail "$p: maintainer '$(field Maintainer)' without an e-mail address"

  # apt shows lines that start with two spaces as verbatim text.
  field Description | tail -n +2 | grep -q '^  ' \
    && fail "$p: the description has verbatim lines: $(field Description)"

  expected=("usr/share/doc/$p/copyright" "usr/share/doc/$p/changelog.Debian.gz"
            "usr/share/lintian/overrides/$p")
  for program in "$@"; do
    if [ "$p" = talveron-mpi ]; then [ "$program" = talveron-mpi ] || continue
    else [ "$program" = talveron-mpi ] && continue
    fi
    expected+=("usr/bin/$program" "usr/share/man/man1/$program.1.gz")
    [ "$program" = talveron ] && expected+=(usr/share/applications/talveron.desktop
                                            usr/share/icons/hicolor/scalable/apps/talveron.svg)
    [ "$program" = talveron-batch ] && expected+=($(lessons usr/share))
  done
  if [ "$p" = talveron ]; then
    for file in ${TALVERON_PYTHON_FILES:-}; do expected+=("usr/$file"); done
  fi
  actual=$(dpkg-deb -c "$deb" | grep -v '/$' | awk '{print $6}' | sed 's|^\./||' | sort)
  wanted=$(printf '%s\n' "${expected[@]}" | sort)
  [ "$actual" = "$wanted" ] || fail "$p: packed files differ from the expected ones:
$(diff <(echo "$wanted") <(echo "$actual"))"

  depends=$(field Depends)
  required=(libc6 libstdc++6)
  case "$p" in
    talveron)
      has talveron "$@" && required+=(libqt6widgets6 libqt6gui6 libqt6core6)
      [[ "$depends" == *mpi* ]] && fail "talveron depends on MPI: $depends"
      [[ "$depends" == *matplotlib* ]] && fail "talveron depends on matplotlib: $depends"
      [[ ", $(field Recommends)," == *", python3-matplotlib,"* ]] \
        || fail "talveron does not recommend python3-matplotlib: '$(field Recommends)'"
      ;;
    talveron-mpi) required+=("talveron (= $debian_version)" openmpi-bin) ;;
  esac
  [ "$p" = talveron ] && [ -n "${TALVERON_PYTHON_FILES:-}" ] && required+=(python3-numpy python3-pandas)
  for library in "${required[@]}"; do
    [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] \
      || fail "$p: Depends does not name $library: $depends"
  done
  echo "$p: $(basename "$deb"), Depends: $depends"
done

dpkg-deb -x "$work/out/talveron_$debian_version"_*.deb "$work/root"
answer=$("$work/root/usr/bin/talveron-batch" --version 2>&1)
[ "$answer" = "talveron-batch $version" ] || fail "packed talveron-batch --version said '$answer'"
zcat "$work/root/usr/share/doc/talveron/changelog.Debian.gz" | cmp -s - "$build/debian/changelog" \
  || fail "the packed changelog is not the changelog"

if command -v lintian > /dev/null; then
  # Every error (E:) and warning (W:) fails; the rest is shown. lintian's
  # own temporary files go with the test's.
  mkdir "$work/tmp"
  TMPDIR="$work/tmp" lintian -I --pedantic "$work"/out/*.deb > "$work/lintian" 2>&1
  grep -v '^running with root privileges' "$work/lintian"
  grep -q '^[EW]: ' "$work/lintian" && fail "lintian reports errors or warnings (above)"
else
  echo "lintian is not installed: the packages are not checked with it"
fi

[ "$failures" -eq 0 ] || exit 1
echo "package: ${packages[*]} $debian_version"
