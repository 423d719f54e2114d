#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when
# any of them is missing. Usage: scripts/deps.sh [extra-package...]
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev libboost-dev libgtest-dev
  libcli11-dev libssl-dev scdoc
  fonts-ipafont-gothic
  xvfb xauth
  clang libclang-rt-14-dev
  desktop-file-utils appstream dpkg-dev file
  dbus-daemon dbus-session-bus-common
  qt6-wayland weston
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
