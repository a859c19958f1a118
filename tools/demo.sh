#!/usr/bin/env bash
# Makes the demo recordings (once; they come out the same every time) in ./demo and
# lines them up with brenvik-sync, then shows the true starts for comparison.
#
# usage: tools/demo.sh [BUILD_DIR]     BUILD_DIR defaults to "build" in the repository
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$repo/$build ;; esac
make_event=$build/tools/brenvik-make-event
app=$build/run/Brenvik.app
demo=$repo/demo

if [ ! -x "$make_event" ] || [ ! -x "$app/brenvik-sync" ] || [ ! -e "$app/ffmpeg" ]; then
  # A fresh machine: install what the project needs and build what the demo uses.
  if [ ! -f "$build/CMakeCache.txt" ]; then
    bash "$repo/tools/bootstrap.sh"
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build" -j"$(nproc)" --target brenvik-make-event brenvik-sync run_folder
fi

# One event heard by four devices, the second camera in two files with a pause
# between them, and a recorder that was at another event.
devices='# The demo event: see tools/demo.sh
file=recorder.wav     device=recorder start=2.5   duration=120 snr=35
file=cam_a.mov        device=cam_a    start=14.2  duration=90  fps=25    filter=lowpass:7000  snr=24 reverb=on drift=12 gain=-2
file=phone.mp3        device=phone    start=41.75 duration=60  filter=phone snr=12 drift=-25 gain=-4
file=cam_b_part1.mov  device=cam_b    start=6.5   duration=32  fps=29.97 filter=highpass:120 snr=20 reverb=on drift=18
file=cam_b_part2.mov  device=cam_b    start=46    duration=38  fps=29.97 filter=highpass:120 snr=20 reverb=on drift=18
file=other_event.wav  device=other    event=2     start=5      duration=45 snr=30'
files=(recorder.wav cam_a.mov phone.mp3 cam_b_part1.mov cam_b_part2.mov other_event.wav)

# Seconds since a `date +%s.%N` stamp, one decimal.
elapsed() { awk -v from="$1" -v now="$(date +%s.%N)" 'BEGIN { printf "%.1f", now - from }'; }

t0=$(date +%s.%N)
up_to_date=1
[ -f "$demo/manifest.tsv" ] && [ "$(cat "$demo/devices.txt" 2>/dev/null)" = "$devices" ] || up_to_date=0
for f in "${files[@]}"; do [ -s "$demo/$f" ] || up_to_date=0; done
if [ $up_to_date = 1 ]; then
  echo "demo: the recordings in $demo are already there"
else
  mkdir -p "$demo"
  rm -f "$demo/manifest.tsv"
  printf '%s\n' "$devices" > "$demo/devices.txt"
  "$make_event" --quiet --out "$demo" --devices "$demo/devices.txt"
  echo "demo: made ${#files[@]} recordings in $demo ($(elapsed "$t0") s)"
fi

args=(--quiet --no-open "$demo/recorder.wav" "$demo/cam_a.mov" "$demo/phone.mp3"
      --device "$demo/cam_b_part1.mov" "$demo/cam_b_part2.mov" --end
      "$demo/other_event.wav")
echo
echo "demo: cd $build/run && Brenvik.app/brenvik-sync ${args[*]}"
echo
marker=$(mktemp)
t1=$(date +%s.%N)
status=0
(cd "$build/run" && Brenvik.app/brenvik-sync "${args[@]}") || status=$?
printf '\ndemo: brenvik-sync finished with status %d in %s s' "$status" "$(elapsed "$t1")"
case $status in
  0) echo " (synced)" ;;
  1) echo " (nothing in sync)" ;;
  *) echo " (failed)" ;;
esac

echo
echo "Timelines in $app/SYNCED:"
for doc in SYNCED_fcp.XML UNSYNCED_fcp.XML SYNCED_premierePro.XML UNSYNCED_premierePro.XML \
           SYNCED.otio UNSYNCED.otio SYNCED.mlt UNSYNCED.mlt SYNCED.kdenlive UNSYNCED.kdenlive \
           SYNCED.fcpxml UNSYNCED.fcpxml SYNCED_merged_fcp.XML SYNCED_merged_premierePro.XML; do
  if [ "$app/SYNCED/$doc" -nt "$marker" ]; then
    echo "  $doc"
  elif [ -e "$app/SYNCED/$doc" ]; then
    echo "  $doc (from an earlier run)"
  else
    echo "  $doc (not written)"
  fi
done
rm -f "$marker"
echo "Log: $app/LOG/log_file.txt"

echo
echo "The truth, from $demo/manifest.tsv (seconds in the event):"
awk -F'\t' 'NR == 1 { next }
  $1 == "recorder.wav" { ref = $4 }
  { row[NR] = $0 }
  END {
    printf "  %-18s %-9s %10s %12s %9s %10s\n", "file", "device", "starts", "vs recorder", "length", "drift ppm"
    for (i = 2; i <= NR; ++i) {
      split(row[i], c, "\t")
      if (c[3] != "1") {
        printf "  %-18s %-9s %10s %12s %9.2f %10s\n", c[1], c[2], "-", "-", c[5], "(another event: belongs to no group)"
        continue
      }
      printf "  %-18s %-9s %10.3f %+12.3f %9.2f %10.1f\n", c[1], c[2], c[4], c[4] - ref, c[5], c[7]
    }
  }' "$demo/manifest.tsv"
echo
echo "demo: $(elapsed "$t0") s in all"
# A run that failed (not one that found nothing) fails the demo.
[ "$status" -le 1 ] || exit "$status"
