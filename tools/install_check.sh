#!/usr/bin/env bash
# Checks the programs as a user gets them: installs the build into a temporary prefix and,
# from an unrelated folder with a new HOME, syncs the demo recordings with the installed
# brenvik-sync, which must write the documents and tables into a new ~/Videos/Brenvik/
# <date>-<time> folder, the log into ~/.local/state/brenvik and nothing anywhere else;
# validates the desktop entry; makes the Debian package and lists its dependencies. With
# --deb it also installs that package with apt-get (root, on a machine it may change) and
# runs the demo with the installed brenvik-sync from /tmp, then removes the package.
#
# usage: tools/install_check.sh [--deb] [BUILD_DIR]     BUILD_DIR defaults to "build"
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
with_deb=0
if [ "${1:-}" = --deb ]; then with_deb=1; shift; fi
build=${1:-build}
case $build in /*) ;; *) build=$repo/$build ;; esac

fail() { echo "install_check: $*" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The demo recordings (tools/demo.sh makes them once, and syncs them from the run folder).
bash "$repo/tools/demo.sh" "$build" >"$scratch/demo.txt" 2>&1 || { cat "$scratch/demo.txt" >&2; fail "tools/demo.sh failed"; }
demo=$repo/demo
files=("$demo/recorder.wav" "$demo/cam_a.mov" "$demo/phone.mp3"
       --device "$demo/cam_b_part1.mov" "$demo/cam_b_part2.mov" --end "$demo/other_event.wav")
prefix=$scratch/prefix
cmake --build "$build" -j"$(nproc)" --target brenvik brenvik-sync run_folder >/dev/null
cmake --install "$build" --prefix "$prefix" >/dev/null

# Runs the demo with the brenvik-sync in BIN_DIR from an empty folder, as a user whose
# home is new, and checks where everything went.
check_run() {
  local bin_dir=$1 home=$scratch/home-$2 elsewhere=$scratch/elsewhere-$2
  mkdir -p "$home" "$elsewhere"
  local status=0
  (cd "$elsewhere" && env -u XDG_STATE_HOME HOME="$home" PATH="$bin_dir:$PATH" \
     brenvik-sync --quiet --no-open "${files[@]}" >"$scratch/out-$2.txt" 2>&1) || status=$?
  [ "$status" = 0 ] || { cat "$scratch/out-$2.txt" >&2; fail "$2: brenvik-sync exited $status"; }
  local runs=("$home"/Videos/Brenvik/*)
  [ ${#runs[@]} = 1 ] && [ -d "${runs[0]}" ] || fail "$2: not one run folder in ~/Videos/Brenvik: ${runs[*]}"
  [[ $(basename "${runs[0]}") =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}-[0-9]{6}$ ]] ||
    fail "$2: the run folder ${runs[0]} is not named by date and time"
  for doc in SYNCED_fcp.XML UNSYNCED_fcp.XML SYNCED_premierePro.XML UNSYNCED_premierePro.XML \
             SYNCED.otio UNSYNCED.otio SYNCED.mlt UNSYNCED.mlt SYNCED.fcpxml UNSYNCED.fcpxml \
             csvtabela.csv csvtabela-clean.csv; do
    [ -s "${runs[0]}/$doc" ] || fail "$2: ${runs[0]}/$doc is missing"
  done
  grep -q "Synced: the timelines are in ${runs[0]}$" "$scratch/out-$2.txt" ||
    fail "$2: brenvik-sync did not name ${runs[0]}"
  grep -q "NAJDEN SYNC" "$home/.local/state/brenvik/log_file.txt" || fail "$2: no pair in the log"
  [ -z "$(ls -A "$elsewhere")" ] || fail "$2: the run wrote into its working directory: $(ls -A "$elsewhere")"
  echo "install_check: $2: synced the demo into ~/Videos/Brenvik/$(basename "${runs[0]}"), log in ~/.local/state/brenvik"
}

marker=$scratch/marker
touch "$marker"
check_run "$prefix/bin" prefix
[ -z "$(find "$prefix" -newer "$marker")" ] || fail "the run wrote into the installation: $(find "$prefix" -newer "$marker")"

desktop-file-validate "$prefix/share/applications/brenvik.desktop"
echo "install_check: desktop-file-validate passed on brenvik.desktop"

deb=$(bash "$repo/tools/package.sh" "$build" | tail -n 1)
dpkg-deb --info "$deb"
depends=$(dpkg-deb --field "$deb" Depends)
for needed in libqt6quick6 qml6-module-qtquick-controls ffmpeg libmediainfo0v5 libsndfile1 libsoxr0 xdg-utils; do
  [[ ", $depends," == *", $needed,"* ]] || fail "$(basename "$deb") does not depend on $needed"
done
contents=$(dpkg-deb --contents "$deb")
[[ $contents == *"./usr/share/brenvik/Brenvik.app/ffmpeg -> /usr/bin/ffmpeg"* ]] ||
  fail "$(basename "$deb") lacks the ffmpeg link"

if [ $with_deb = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=900 install -y -qq "$deb" >/dev/null
  check_run /usr/bin package
  apt-get -o DPkg::Lock::Timeout=900 remove -y -qq brenvik >/dev/null
fi
echo "install_check: passed"
