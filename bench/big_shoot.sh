#!/usr/bin/env bash
# Times whole runs of brenvik-sync on a wedding-like shoot against ffmpeg alone decoding the
# same files two at a time (as the engine transcodes), each run from nothing (--no-cache),
# at several sizes of one shoot: two cameras stopped and started many times (each camera one
# device), a recorder in three takes, a lavalier, many short phone clips of 5 to 150 s, and
# two clips of another wedding.
# A smaller size is a subset of the same files, so the sizes differ only in how many there
# are. One measurement per size, not a sample: quote the ratios.
#
# usage: bench/big_shoot.sh [--sizes "60 120 240"] [--keep DIR] [BUILD_DIR]
#   --sizes  files per run (default 240; at least 10 each, at most 240)
#   --keep   keep each run's printout, log part, tables and documents in DIR/<size>/
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sizes=240
keep=""
build=build
while [ $# -gt 0 ]; do
  case $1 in
    --sizes) sizes=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    -h|--help) sed -n '2,12p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "big_shoot: unknown option $1" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
case $build in /*) ;; *) build=$repo/$build ;; esac
run=$build/run
make_event=$build/tools/brenvik-make-event
for tool in "$make_event" "$run/Brenvik.app/brenvik-sync" "$run/Brenvik.app/ffmpeg" /usr/bin/time; do
  [ -x "$tool" ] || { echo "big_shoot: $tool is missing (build brenvik-make-event brenvik-sync run_folder; package time)" >&2; exit 2; }
done
ffmpeg=$(readlink -f "$run/Brenvik.app/ffmpeg")
events=$build/events/big_shoot
full=240

# The shoot's device list: the same text every time (a fixed linear congruential sequence,
# not awk's rand, whose sequence differs between awk builds).
shoot_devices() {
  awk -v full="$full" 'BEGIN {
    seed = 20261208
    print "# A wedding-like shoot of " full " files over an hour; see bench/big_shoot.sh"
    # The recorder in three takes with short pauses, a lavalier over the middle.
    print "file=rec_take1.wav device=rec start=0    duration=1150 snr=30"
    print "file=rec_take2.wav device=rec start=1180 duration=1150 snr=30"
    print "file=rec_take3.wav device=rec start=2360 duration=1240 snr=30"
    print "file=lav.wav       device=lav start=900  duration=1800 rate=44100 snr=25 drift=30 gain=-4"
    print "file=other_1.m4a   device=other_1 event=2 start=10 duration=60 filter=phone snr=15"
    print "file=other_2.m4a   device=other_2 event=2 start=200 duration=90 filter=phone snr=15"
    cams = 2 * 24; phones = full - 6 - cams
    # Cameras: each clip starts after the previous one ended.
    for (c = 1; c <= 2; ++c) {
      t = 5 + 20 * c
      for (k = 1; k <= cams / 2; ++k) {
        d = 40 + int(next_random() * 110); gap = 5 + int(next_random() * 60)
        if (t + d > 3590) break
        line[++n] = sprintf("file=cam%d_%03d.%s device=cam%d start=%d duration=%d fps=%s size=320x180 picture=color filter=%s snr=%d%s", \
          c, k, c == 1 ? "mov" : "mp4", c, t, d, c == 1 ? "25" : "29.97", c == 1 ? "lowpass:7000" : "highpass:120", 20 + 3 * c, c == 1 ? " reverb=on drift=12" : " drift=-18")
        t += d + gap
      }
    }
    for (k = 1; k <= phones; ++k) {
      d = 5 + int(next_random() * 146); s = int(next_random() * (3590 - d) * 100) / 100
      kind = next_random() < 0.3 ? "mp4" : "m4a"
      extra = kind == "mp4" ? " fps=30 size=320x180 picture=color" : ""
      line[++n] = sprintf("file=phone_%03d.%s device=phone_%03d start=%.2f duration=%d filter=phone snr=%d drift=%d gain=-%d%s", \
        k, kind, k, s, d, 10 + int(next_random() * 12), int(next_random() * 50) - 25, int(next_random() * 6), extra)
    }
    # Cameras and phones interleaved, so that every subset holds some of each.
    for (i = 1; i <= n; ++i) { j = i + int(next_random() * (n - i + 1)); x = line[i]; line[i] = line[j]; line[j] = x }
    for (i = 1; i <= n; ++i) print line[i]
  }
  function next_random() { seed = (seed * 16807) % 2147483647; return seed / 2147483647 }'
}

# shellcheck source=bench/make_once.sh
source "$repo/bench/make_once.sh"
shoot_devices | make_once big_shoot "$events"

# The first six rows (takes, lavalier, the other wedding) and an even spread of the rest;
# files of one device become one --device group.
sync_arguments() {  # SIZE -> one argument per line
  awk -F'\t' -v dir="$events" -v size="$1" -v full="$full" -v kept=6 \
    -f "$repo/tools/sync_arguments.awk" "$events/manifest.tsv"
}

# shellcheck source=bench/decode.sh
source "$repo/bench/decode.sh"

echo "big_shoot: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| files | hours of sound | ffmpeg decode, 2 at a time | whole run | ratio | beyond decoding | files placed | false pairs | peak memory | match dump | log written |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for size in $sizes; do
  mapfile -t args < <(sync_arguments "$size")
  mapfile -t files < <(printf '%s\n' "${args[@]}" | grep -v '^--')
  hours=$(for f in "${files[@]}"; do basename "$f"; done |
    awk -F'\t' 'NR == FNR { want[$1] = 1; next } FNR > 1 && ($1 in want) { s += $6 } END { printf "%.1f", s / 3600 }' - "$events/manifest.tsv")
  cat "${files[@]}" > /dev/null
  t=$(now)
  printf '%s\0' "${files[@]}" | xargs -0 -n 1 -P 2 bash -c 'decode "$0"'
  decoded=$(seconds "$t" "$(now)")
  rm -f "$scratch"/*.wav
  log=$run/Brenvik.app/LOG/log_file.txt
  log_before=$(stat -c %s "$log" 2>/dev/null || echo 0)
  status=0
  touch "$scratch/time.txt.start"
  t=$(now)
  (cd "$run" && /usr/bin/time -v -o "$scratch/time.txt" Brenvik.app/brenvik-sync --quiet --no-open --no-cache \
     "${args[@]}" > "$scratch/pairs.txt" 2> "$scratch/stderr.txt") || status=$?
  whole=$(seconds "$t" "$(now)")
  # The log may have rotated during the run: what moved aside was written by it too.
  log_after=$(stat -c %s "$log" 2>/dev/null || echo 0)
  for old in "$log".*; do [ "$old" -nt "$scratch/time.txt.start" ] && log_after=$((log_after + $(stat -c %s "$old"))); done
  [ "$status" = 0 ] || { echo "big_shoot: brenvik-sync exit $status at $size files:" >&2; tail -3 "$scratch/stderr.txt" >&2; }
  peak_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$scratch/time.txt")
  dump=$(stat -c %s "$run/debagmatLONG1.txt" 2>/dev/null || echo 0)
  # Files placed: those in a pair found; false pairs scored against the shoot's truth.
  placed=$(awk '$2 == "<->" { seen[$1]; seen[$3] } END { print length(seen) }' "$scratch/pairs.txt")
  # The scorer counts a pair that shares under 3 s as no true pair; one found there at its
  # true offset (within 1 s) is no false pair either.
  false_pairs=$(awk -v set=shoot -v xml=/dev/null -f "$repo/tools/accuracy_score.awk" \
    "$events/manifest.tsv" "$scratch/pairs.txt" | awk -F'\t' '$1 == "F" { print $4 "\t" $5 "\t" $6 }' |
    awk -F'\t' -v pairs="$scratch/pairs.txt" '
      FILENAME != "-" && FNR == 1 { next }
      FILENAME != "-" { start[$1] = $4; drift[$1] = $7; next }
      $3 !~ /^overlap [0-9.]+ s$/ { ++bad; next }
      { want[$1 SUBSEP $2] = 1 }
      END {
        while ((getline line < pairs) > 0) {
          split(line, w, " ")
          if (w[2] != "<->" || !((w[1] SUBSEP w[3]) in want)) continue
          err = w[5] - (start[w[3]] - start[w[1]]) * (1 + drift[w[3]] * 1e-6)
          if (err > 1 || err < -1) ++bad
        }
        print bad + 0
      }' "$events/manifest.tsv" -)
  echo "| $size | $hours | $decoded s | $whole s | $(ratio "$whole" "$decoded") × | $(awk -v a="$whole" -v b="$decoded" 'BEGIN { printf "%.1f", a - b }') s | $placed | $false_pairs | $((peak_kb / 1024)) MB | $((dump / 1048576)) MB | $(((log_after - log_before) / 1024)) kB |"
  if [ -n "$keep" ]; then
    mkdir -p "$keep/$size"
    cp "$scratch/pairs.txt" "$scratch/stderr.txt" "$keep/$size/"
    cp "$run"/csvtabela*.csv "$keep/$size/" 2>/dev/null || true
    cp -r "$run/Brenvik.app/SYNCED" "$keep/$size/" 2>/dev/null || true
  fi
done
