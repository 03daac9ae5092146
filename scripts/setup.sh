#!/usr/bin/env bash
# Installs what building and testing Talveron needs, from Debian's packages.
# Packages already present are left alone, so a second run costs nothing.
#
# Only the packages named here and what they depend on are installed, not
# their recommended companions (--no-install-recommends): on a fresh
# Debian 12 (a minimal system with apt and git) that is about 1,010
# packages, 670 MB to download and 3.3 GB on disk, against about 1,280
# packages, 810 MB and 4.1 GB with the recommendations (apt-get install -s
# and --print-uris in a debootstrap --variant=minbase bookworm root). Of
# those recommendations only two are needed, and they are named below:
# xauth, which xvfb-run needs, and file, which cpack reads the programs'
# library dependencies with. Qt's platform plugins (xcb for a display,
# offscreen for the tests) come with libqt6gui6 itself, and fontconfig
# depends on a font.
#
# The largest parts: the web page's compiler, emscripten (1.4 GB on disk),
# the browser its tests use, chromium (0.7 GB), and matplotlib, with which
# the plotting scripts and their test draw; Debian's npm brings 335 small
# Node.js modules, lintian 160 small packages.
#
# Installing needs root: as root the packages are installed at once, as
# another user through sudo. Without either, the script says what is missing
# and which command to run as root, and exits with status 1.
set -euo pipefail

packages=(
  # compiler, build and tests
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  # the desktop program and its tests on a virtual display
  qt6-base-dev qt6-svg-dev libgl-dev
  xvfb xauth fonts-dejavu-core
  # the Debian package (cpack -G DEB)
  file
  # settings and parameter files
  libtomlplusplus-dev nlohmann-json3-dev
  # talveron-mpi, built when MPI is found
  libopenmpi-dev openmpi-bin
  # plotting scripts
  python3-matplotlib
  # the Python package, its tests and its notebook
  pybind11-dev python3-dev python3-numpy python3-pandas python3-pytest
  python3-nbclient python3-ipykernel
  # genotypes out as VCF (htslib), and the real clients its tests read it with
  libhts-dev bcftools tabix python3-pysam vcftools plink1.9
  # the Python package built and installed the usual way, typed, with a
  # progress bar and studies on a Dask cluster
  python3-setuptools python3-wheel python3-build python3-venv python3-pip
  mypy python3-tqdm python3-distributed
  # pybind11's build helpers, which the package's setup.py uses for a wheel
  python3-pybind11
  # the web page: compiler, browser for its tests
  emscripten chromium
  # the package check, and the citation file's (read as YAML)
  lintian python3-yaml
)

# The web page's tests run on Node.js and install their one package with
# npm: Debian's, where no Node.js is installed already.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

command="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"

cannot_install() {
  {
    echo "Talveron needs these Debian packages, which are not installed:"
    echo "  ${missing[*]}"
    echo "Installing them needs root, and $1."
    echo "Run this as root (for example after 'su -'), then this script again:"
    echo "  $command"
  } >&2
  exit 1
}

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || cannot_install "sudo is not installed"
  # Asks for the password where sudo wants one; fails for a user who may not
  # use sudo, or when there is no terminal to ask on.
  sudo -v || cannot_install "sudo refused"
  sudo=(sudo)
fi

echo "Installing the missing Debian packages and what they depend on: ${missing[*]}"
echo "(on a fresh Debian 12 that is about 1,010 packages: about 670 MB to download, 3.3 GB on disk)"
"${sudo[@]}" apt-get update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}"
