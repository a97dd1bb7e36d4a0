#!/usr/bin/env bash
# Installs the Debian packages Lumora needs to build, run and test, when any
# of them is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config clang-format
  qt6-base-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-tools gstreamer1.0-plugins-base-apps
  libbenchmark-dev
  mdbtools strace
  xvfb xauth fonts-wqy-microhei
  gstreamer1.0-x xdotool
  qt6-translations-l10n
  gdal-bin
  poppler-utils
  libgsf-1-dev gnumeric libreoffice-calc
  libzip-dev libexpat1-dev python3-openpyxl
  desktop-file-utils dpkg-dev file
  python3
  libimage-exiftool-perl
  libzxing-dev libqrencode-dev
  zint qrencode zbar-tools
  libopencv-dev opencv-data libdlib-dev
  liblapack-dev libblas-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
