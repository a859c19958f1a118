#!/usr/bin/env bash
# Makes the Debian package, brenvik_<version>_<arch>.deb, in the build folder: the programs,
# Brenvik.app in share/brenvik, the desktop entry and the icon, as `cmake --install` puts
# them, with the Debian packages they need at run time as dependencies.
#
# usage: tools/package.sh [BUILD_DIR]     BUILD_DIR defaults to "build" in the repository
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$repo/$build ;; esac

if [ ! -f "$build/CMakeCache.txt" ]; then
  bash "$repo/tools/bootstrap.sh"
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target brenvik brenvik-sync run_folder
rm -f "$build"/brenvik_*.deb
(cd "$build" && cpack -G DEB -B "$build" >/dev/null)
rm -rf "$build/_CPack_Packages"
ls "$build"/brenvik_*.deb
