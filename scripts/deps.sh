#!/usr/bin/env bash
# Installs the Debian packages that building and testing Scarlex needs,
# only those that are missing. Runs apt-get as root or through sudo.
set -euo pipefail

packages=(
  cmake g++ ninja-build pkg-config
  libjpeg62-turbo-dev libexiv2-dev
  libopencv-imgproc-dev libopencv-objdetect-dev opencv-data
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev
)
if [ "${1:-}" = "--test" ]; then
  # Oracles and tools used only by tests: jpegtran/djpeg/cjpeg, exiv2, a
  # virtual X server for the end-to-end run, clang for the fuzz targets.
  packages+=(libjpeg-turbo-progs exiv2 xvfb xauth xdotool x11-apps)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
