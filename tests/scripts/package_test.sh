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
# Where the Python package is built, talveron carries it, without compiled
# files: its maintainer scripts compile the modules on installing and
# remove every compiled file on removing, so that installing, importing
# every module as root and purging leaves nothing behind (checked as root,
# in a copy-on-write view of this system that the test throws away).
# Where lintian is installed, it finds no error and no warning in either.
#
#   package_test.sh BUILD_DIR VERSION PROGRAM...
set -uo pipefail
source "$(dirname "$0")/installed_files.sh"
build="$1"
version="$2"
shift 2
source "$(dirname "$0")/test_support.sh"

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
    while read -r file; do expected+=("usr/$file"); done < <(python_package_files)
  fi
  contents=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||' | sort)
  actual=$(echo "$contents" | grep -v '/$')
  wanted=$(printf '%s\n' "${expected[@]}" | sort)
  [ "$actual" = "$wanted" ] || fail "$p: packed files differ from the expected ones:
$(diff <(echo "$wanted") <(echo "$actual"))"
  # A folder is empty when no other entry lies below it.
  empty=$(echo "$contents" | awk '/\/$/ { folders[$0] = 1 }
                                  { for (f in folders) if (index($0, f) == 1 && $0 != f) full[f] = 1 }
                                  END { for (f in folders) if (!(f in full)) print f }')
  [ -z "$empty" ] || fail "$p: packs empty folders: $empty"

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
  [ "$p" = talveron ] && [ -n "${TALVERON_PYTHON_DIR:-}" ] && required+=(python3-numpy python3-pandas)
  for library in "${required[@]}"; do
    [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] \
      || fail "$p: Depends does not name $library: $depends"
  done
  echo "$p: $(basename "$deb"), Depends: $depends"
done

dpkg-deb -x "$work/out/talveron_$debian_version"_*.deb "$work/root"
# The version and the build, as the program built says them.
answer=$("$work/root/usr/bin/talveron-batch" --version 2>&1)
built=$("$build/src/batch/talveron-batch" --version 2>&1)
[[ "$answer" == "talveron-batch $version (build "?*")" && "$answer" = "$built" ]] \
  || fail "packed talveron-batch --version said '$answer'; the one built says '$built'"
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

# Installs talveron, imports every module of its Python package as root and
# purges it, in an overlay of / inside a mount namespace of the test's own:
# what the system would have seen lands in $work/purge/upper and goes with
# the test.
purge_check() {
  local deb="$1" purge="$work/purge" failures_before=$failures
  local package="/usr/$TALVERON_PYTHON_DIR"
  mkdir -p "$purge/upper" "$purge/overlay" "$purge/root"
  cp "$deb" "$purge/talveron.deb"
  unshare --mount bash -s "$purge" "$package" > "$purge/log" 2>&1 <<'CHECK'
set -e
purge="$1" package="$2" root="$1/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$purge/upper,workdir=$purge/overlay" "$root"
mount --rbind /dev "$root/dev"
mount -t proc proc "$root/proc"
mount -t tmpfs tmpfs "$root/tmp"
cp "$purge/talveron.deb" "$root/tmp/"
inside() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
             DEBIAN_FRONTEND=noninteractive MPLBACKEND=Agg "$@"; }
inside dpkg -i /tmp/talveron.deb > "$purge/install.log" 2>&1
(cd "$root$package" && find . | sort) > "$purge/installed"
inside python3 -c 'import importlib, pkgutil, talveron
for module in pkgutil.walk_packages(talveron.__path__, "talveron."):
    importlib.import_module(module.name)' > "$purge/import.log" 2>&1
(cd "$root$package" && find . | sort) > "$purge/imported"
inside dpkg --purge talveron > "$purge/purge.log" 2>&1
echo done
CHECK
  if [ "$(tail -1 "$purge/log")" != done ]; then
    fail "installing, importing and purging talveron in an overlay of / failed:
$(cat "$purge/log" "$purge"/*.log 2>/dev/null)"
    return
  fi
  # Every module was compiled on installing.
  local module compiled
  while read -r module; do
    compiled="$(dirname "$module")/__pycache__/$(basename "$module" .py).cpython-"
    grep -qF "$compiled" "$purge/installed" || fail "the postinst did not compile $module"
  done < <(grep '\.py$' "$purge/installed")
  # Importing them wrote nothing more.
  [ "$(cat "$purge/installed")" = "$(cat "$purge/imported")" ] \
    || fail "importing the package as root wrote into it:
$(diff "$purge/installed" "$purge/imported")"
  # And the purge left nothing of it: no file, no folder, no warning.
  grep -i 'not empty' "$purge/purge.log" && fail "dpkg --purge talveron warned (above)"
  local left
  left=$(cd "$purge/upper" && find . -path '*talveron*' | sed 's|^\./|/|')
  [ -z "$left" ] || fail "dpkg --purge talveron left: $left"
  [ "$failures" -eq "$failures_before" ] && echo "installed, imported as root and purged: nothing left"
}
if [ -z "${TALVERON_PYTHON_DIR:-}" ]; then
  :
elif [ "$(id -u)" -ne 0 ] || ! command -v unshare > /dev/null; then
  echo "not root: installing, importing and purging the package is not checked"
elif dpkg-query -W -f='${Status}' talveron 2>/dev/null | grep -q 'ok installed'; then
  echo "talveron is installed on this system: installing, importing and purging it is not checked"
else
  purge_check "$(ls "$work/out/talveron_$debian_version"_*.deb)"
fi

[ "$failures" -eq 0 ] || exit 1
echo "package: ${packages[*]} $debian_version"
