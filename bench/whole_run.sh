#!/usr/bin/env bash
# Times one whole run of brenvik-sync on four 30-minute recordings against ffmpeg alone
# decoding the same files to 8 kHz mono WAV, one at a time and one per core (as the
# engine transcodes), and reads the run's peak memory. One measurement, not a sample:
# quote the ratios, which both sides of a shared machine's noise mostly cancel from.
#
# usage: bench/whole_run.sh [BUILD_DIR]     BUILD_DIR defaults to "build" in the repository
# Targets: whole run <= 1.5 x decode time, peak memory <= 1 GB.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$repo/$build ;; esac
run=$build/run
make_event=$build/tools/brenvik-make-event
devices=$repo/tools/events/bench_4x30min.txt
events=$build/events/bench_4x30min
for tool in "$make_event" "$run/Brenvik.app/brenvik-sync" "$run/Brenvik.app/ffmpeg" /usr/bin/time; do
  [ -x "$tool" ] || { echo "whole_run: $tool is missing (build brenvik-make-event brenvik-sync run_folder; package time)" >&2; exit 2; }
done
ffmpeg=$(readlink -f "$run/Brenvik.app/ffmpeg")

# The recordings come out the same for the same device list, so they are made once.
if ! cmp -s "$devices" "$events/devices.txt" || [ ! -s "$events/manifest.tsv" ]; then
  rm -rf "$events" && mkdir -p "$events"
  "$make_event" --quiet --out "$events" --devices "$devices"
  cp "$devices" "$events/devices.txt"
fi
mapfile -t files < <(awk -F'\t' -v dir="$events" 'NR > 1 { print dir "/" $1 }' "$events/manifest.tsv")

# shellcheck source=bench/decode.sh
source "$repo/bench/decode.sh"

# Warm the page cache for both sides alike.
cat "${files[@]}" > /dev/null

t=$(now)
for f in "${files[@]}"; do decode "$f"; done
sequential=$(seconds "$t" "$(now)")

cores=$(nproc)
t=$(now)
# shellcheck disable=SC2016  # $0 is the file xargs hands to the inner shell
printf '%s\0' "${files[@]}" | xargs -0 -n 1 -P "$cores" bash -c 'decode "$0"'
parallel=$(seconds "$t" "$(now)")

t=$(now)
status=0
(cd "$run" && /usr/bin/time -v -o "$scratch/time.txt" \
   Brenvik.app/brenvik-sync --quiet --no-open --no-cache "${files[@]}" > "$scratch/pairs.txt" 2> /dev/null) || status=$?
whole=$(seconds "$t" "$(now)")

# The same run without the sub-frame refinement tells that stage's share.
t=$(now)
(cd "$run" && Brenvik.app/brenvik-sync --quiet --no-open --no-cache --refine 0 "${files[@]}" > /dev/null 2>&1) || true
unrefined=$(seconds "$t" "$(now)")

# And without the drift-corrected copies, which cost a resampling of every drifting sound.
t=$(now)
(cd "$run" && Brenvik.app/brenvik-sync --quiet --no-open --no-cache --drift-correct 0 "${files[@]}" > /dev/null 2>&1) || true
uncorrected=$(seconds "$t" "$(now)")
peak_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$scratch/time.txt")
cpu=$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { printf "%.1f", u + s }' "$scratch/time.txt")

hours=$(awk -F'\t' 'NR > 1 { s += $6 } END { printf "%.2f", s / 3600 }' "$events/manifest.tsv")
echo "whole_run: ${#files[@]} files, $hours h of sound, $cores cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "brenvik-sync exit $status; pairs:"
sed 's/^/  /' "$scratch/pairs.txt"
echo
echo "| measurement | seconds | whole run ÷ this |"
echo "|---|---:|---:|"
echo "| ffmpeg decode only, one file at a time | $sequential | $(ratio "$whole" "$sequential") |"
echo "| ffmpeg decode only, $cores at once (as the engine) | $parallel | $(ratio "$whole" "$parallel") |"
echo "| brenvik-sync --quiet --no-open --no-cache, whole run (CPU $cpu s) | $whole | 1.00 |"
echo "| the same with --refine 0 | $unrefined | $(ratio "$whole" "$unrefined") |"
echo "| the same with --drift-correct 0 | $uncorrected | $(ratio "$whole" "$uncorrected") |"
echo
echo "Peak memory (maximum resident set size of brenvik-sync or its largest ffmpeg): $((peak_kb / 1024)) MB"
echo "Targets: whole run <= 1.5 x decode time; peak memory <= 1024 MB"
