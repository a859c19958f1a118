#!/usr/bin/env bash
# Installs every Debian package the project needs. Safe to run again: apt skips what is there.
set -euo pipefail

packages=(
  g++ cmake pkg-config make
  libeigen3-dev libsndfile1-dev libsoxr-dev libmediainfo-dev libmediainfo0v5
  libavformat-dev libavutil-dev libfftw3-dev
  ffmpeg xdg-utils
  qt6-base-dev qt6-declarative-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtqml-workerscript
  xvfb x11-apps imagemagick libxml2-utils time melt
  desktop-file-utils
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all ${#packages[@]} packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq
$SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
echo "bootstrap: installed ${missing[*]}"
