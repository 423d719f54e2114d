#!/usr/bin/env bash
# Installs the Debian packages that a purpose needs, when any of them is
# missing (as root, or with sudo).
#   scripts/deps.sh run [extra-package...]      build and run tessera and tessera-cli
#   scripts/deps.sh package [extra-package...]  that, and what cpack -G DEB needs
#   scripts/deps.sh test [extra-package...]     all that, and what the test suite adds
#   scripts/deps.sh --list run|package|test     print the packages, install nothing
# Each package is listed once, under the first purpose that needs it.
set -euo pipefail

# Building and running.
run_packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev libboost-dev libcli11-dev libssl-dev
  scdoc                     # the manual pages
  man-db                    # and man to read them (man -l build-run/src/app/tessera.1.gz)
  fonts-ipafont-gothic      # the font the window is laid out for
  qt6-translations-l10n     # Qt's own dialogs and buttons in Japanese
  xvfb xauth                # the window on a machine without a display (xvfb-run)
)
# What building the Debian package adds: dpkg-shlibdeps finds the libraries
# the programs link, and CPack asks the file utility which files are programs.
package_packages=(
  dpkg-dev file
)
# What testing adds.
test_packages=(
  libgtest-dev
  clang libclang-rt-14-dev                 # fuzz targets
  desktop-file-utils appstream             # the installation checks
  bash-completion                          # the completion with it (and without it)
  dbus-daemon dbus-session-bus-common      # the desktop session tests
  qt6-wayland weston                       # the window under Wayland
  par2                                     # recovery sets: the tests' oracle
)

list=false
if [ "${1:-}" = --list ]; then
  list=true
  shift
fi
purpose=${1:-test}
case "$purpose" in
  run) packages=("${run_packages[@]}") ;;
  package) packages=("${run_packages[@]}" "${package_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${package_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: scripts/deps.sh [--list] run|package|test [extra-package...]" >&2; exit 2 ;;
esac
shift $(( $# > 0 ? 1 : 0 ))
packages+=("$@")

if $list; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { echo "deps.sh: run this as root, or install sudo" >&2; exit 1; }
    SUDO=sudo
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
