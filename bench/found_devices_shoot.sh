#!/usr/bin/env bash
# The wedding-like shoot of bench/big_shoot.sh as cameras, recorders and phones write it:
# numbered files in a folder per card with their maker, model, serial number and clock in
# their tags, the phones' clips in one folder, and no marking. Runs brenvik-sync three times
# on the same files: unmarked (every file a device of its own), marked as the true devices
# (--device … --end), and unmarked with --devices auto; prints the devices found against
# the true ones, the pairs each run compared, the tracks of the timelines, and whether the
# found run's documents are the marked run's.
#
# usage: bench/found_devices_shoot.sh [--keep DIR] [BUILD_DIR]
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
keep=""
build=build
while [ $# -gt 0 ]; do
  case $1 in
    --keep) keep=$2; shift 2 ;;
    -h|--help) sed -n '2,9p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "found_devices_shoot: unknown option $1" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
case $build in /*) ;; *) build=$repo/$build ;; esac
run=$build/run
make_event=$build/tools/brenvik-make-event
for tool in "$make_event" "$run/Brenvik.app/brenvik-sync"; do
  [ -x "$tool" ] || { echo "found_devices_shoot: $tool is missing" >&2; exit 2; }
done
events=$build/events/found_devices_shoot
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The shoot's device list, the same text every time (see big_shoot.sh): two cameras of one
# model told apart by their serial numbers, each a card of its own, 24 clips each; the
# recorder's three takes; a lavalier; 186 phone clips of three models, all in one folder.
shoot_devices() {
  awk 'BEGIN {
    seed = 20261208
    print "# A tagged wedding-like shoot of 240 files; see bench/found_devices_shoot.sh"
    z = " folder=rec make=ZOOM model=H6 clock=2024-06-01T14:00:00Z snr=30"
    print "file=ZOOM0001.WAV device=rec start=0    duration=1150" z
    print "file=ZOOM0002.WAV device=rec start=1180 duration=1150" z
    print "file=ZOOM0003.WAV device=rec start=2360 duration=1240" z
    print "file=TASCAM_0001.wav folder=lav device=lav make=TASCAM model=DR-10L clock=2024-06-01T14:00:00Z start=900 duration=1800 rate=44100 snr=25 drift=30 gain=-4"
    print "file=other_1.m4a device=other_1 event=2 start=10 duration=60 filter=phone snr=15"
    print "file=other_2.m4a device=other_2 event=2 start=200 duration=90 filter=phone snr=15"
    for (c = 1; c <= 2; ++c) {
      t = 5 + 20 * c
      for (k = 1; k <= 24; ++k) {
        d = 40 + int(next_random() * 110); gap = 5 + int(next_random() * 60)
        if (t + d > 3590) break
        line[++n] = sprintf("file=C%04d.MP4 folder=cam%d device=cam%d make=Sony model=ILCE-7M3 serial=40%d1 clock=2024-06-01T13:5%d:00Z start=%d duration=%d fps=%s size=320x180 picture=color filter=%s snr=%d%s", \
          100 * (c - 1) + k, c, c, c, 6 + c, t, d, c == 1 ? "25" : "29.97", c == 1 ? "lowpass:7000" : "highpass:120", 20 + 3 * c, c == 1 ? " reverb=on drift=12" : " drift=-18")
        t += d + gap
      }
    }
    for (k = 1; k <= 186; ++k) {
      d = 5 + int(next_random() * 146); s = int(next_random() * (3590 - d) * 100) / 100
      kind = next_random() < 0.3 ? "mp4" : "m4a"
      if (kind == "mp4") name = sprintf("PXL_20240601_%06d.mp4 make=Google model=Pixel7 fps=30 size=160x90 picture=color", 140000 + k)
      else name = sprintf("IMG_%04d.MOV make=Apple model=iPhone%d fps=30 size=160x90 picture=color", 1000 + 7 * k, 12 + k % 3)
      line[++n] = sprintf("file=%s folder=phones device=phone_%03d start=%.2f duration=%d filter=phone snr=%d drift=%d gain=-%d", \
        name, k, s, d, 10 + int(next_random() * 12), int(next_random() * 50) - 25, int(next_random() * 6))
    }
    for (i = 1; i <= n; ++i) { j = i + int(next_random() * (n - i + 1)); x = line[i]; line[i] = line[j]; line[j] = x }
    for (i = 1; i <= n; ++i) print line[i]
  }
  function next_random() { seed = (seed * 16807) % 2147483647; return seed / 2147483647 }'
}

# shellcheck source=bench/make_once.sh
source "$repo/bench/make_once.sh"
shoot_devices | make_once found_devices_shoot "$events"

# In the order of their starts, so that each device's files are in recording order, as the
# devices found are: the marked run is then given the list the found run makes.
{ head -1 "$events/manifest.tsv"; tail -n +2 "$events/manifest.tsv" | sort -t$'\t' -k4,4g; } > "$scratch/manifest.tsv"
mapfile -t marked < <(awk -F'\t' -v dir="$events" -f "$repo/tools/sync_arguments.awk" "$scratch/manifest.tsv")
mapfile -t files < <(printf '%s\n' "${marked[@]}" | grep -v '^--')
log=$run/Brenvik.app/LOG/log_file.txt

sync() {  # NAME ARGS… -> the printout in $scratch/NAME.txt, the documents in $scratch/NAME/
  local name=$1; shift
  (cd "$run" && Brenvik.app/brenvik-sync --quiet --no-open --drift-correct 0 --out "$scratch/$name" "$@" \
     > "$scratch/$name.txt" 2> "$scratch/$name.err") || echo "found_devices_shoot: $name run exit $?" >&2
  # The log may have rotated during the run; its last count is this run's.
  cat "$log".3 "$log".2 "$log".1 "$log" 2>/dev/null | awk '/^pairs to compare: / { n = $4 } END { print n }' > "$scratch/$name.pairs"
}
sync unmarked "${files[@]}"
sync marked "${marked[@]}"
sync found --devices auto "${files[@]}"

# Devices as sets of file names, one line each, sorted: the truth's and the found run's.
awk -F'\t' 'NR > 1 && $9 == "sound" { n = split($1, p, "/"); f[$2] = f[$2] (f[$2] == "" ? "" : " ") p[n] }
  END { for (d in f) print f[d] }' "$events/manifest.tsv" | while read -r l; do tr ' ' '\n' <<< "$l" | sort | paste -sd' '; done |
  sort > "$scratch/true_devices.txt"
awk '/^Devices found from the files:/ { on = 1; next } on && /^  [^ ]/ { if (d != "") print d; d = ""; next }
  on && /^    / { sub(/^ +/, ""); d = d (d == "" ? "" : " ") $0; next } on { on = 0 } END { if (d != "") print d }' \
  "$scratch/found.txt" > "$scratch/found_groups.txt"
# Files of no device found are devices of their own.
{ cat "$scratch/found_groups.txt"; for f in "${files[@]}"; do b=$(basename "$f"); grep -qw -- "$b" "$scratch/found_groups.txt" || echo "$b"; done; } |
  while read -r l; do tr ' ' '\n' <<< "$l" | sort | paste -sd' '; done | sort > "$scratch/found_devices.txt"

tracks() {  # the OpenTimelineIO timelines' audio tracks, over every sync group
  grep -o '"kind": "Audio"' "$scratch/$1/"SYNCED*.otio 2>/dev/null | wc -l
}
same="no"
if diff -rq "$scratch/marked" "$scratch/found" > /dev/null; then same="yes"; fi
echo "files: ${#files[@]}; true devices: $(wc -l < "$scratch/true_devices.txt"); devices found: $(wc -l < "$scratch/found_devices.txt") ($(grep -c . "$scratch/found_groups.txt") of two files or more)"
if cmp -s "$scratch/true_devices.txt" "$scratch/found_devices.txt"; then
  echo "devices found equal the true devices"
else
  echo "devices found differ from the true devices:"
  diff "$scratch/true_devices.txt" "$scratch/found_devices.txt" | head -20 || true
fi
echo
echo "| run | pairs compared | audio tracks in SYNCED.otio |"
echo "|---|---:|---:|"
for r in unmarked marked found; do echo "| $r | $(cat "$scratch/$r.pairs") | $(tracks "$r") |"; done
echo
echo "found run's documents byte-identical to the marked run's: $same"
sed -n '/^Devices found from the files:/,/^[^ D]/p' "$scratch/found.txt" | grep -v '^    \|<->' | head -12
if [ -n "$keep" ]; then mkdir -p "$keep"; cp -r "$scratch"/* "$keep/"; fi
