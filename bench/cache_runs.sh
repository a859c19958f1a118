#!/usr/bin/env bash
# Times runs of brenvik-sync with the cache of earlier runs on the wedding-like shoot of
# bench/big_shoot.sh (run that once first: it makes the recordings): a run without the
# cache, the first run into an empty cache, a second run of the same files, and a run of
# the same files after one of all but 5 phone clips (5 new files); each run's documents,
# csv tables and match dump are compared byte for byte with those of the run without the
# cache. Then the cache's size on disk per hour of sound. One measurement each: quote the
# ratios.
#
# usage: bench/cache_runs.sh [SIZE [BUILD_DIR]]    (SIZE files, default 80; BUILD_DIR build)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
case ${1:-} in -h|--help) sed -n '2,10p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
size=${1:-80}
build=${2:-build}
case $build in /*) ;; *) build=$repo/$build ;; esac
run=$build/run
events=$build/events/big_shoot
[ -s "$events/manifest.tsv" ] || { echo "cache_runs: no shoot in $events: run bench/big_shoot.sh --sizes 10 first" >&2; exit 2; }
[ -x "$run/Brenvik.app/brenvik-sync" ] || { echo "cache_runs: build brenvik-sync run_folder first" >&2; exit 2; }
ffmpeg=$(readlink -f "$run/Brenvik.app/ffmpeg")
cache=$run/Brenvik.app/CACHE
# shellcheck source=bench/decode.sh
source "$repo/bench/decode.sh"

mapfile -t args < <(awk -F'\t' -v dir="$events" -v size="$size" -v full=240 -v kept=6 \
  -f "$repo/tools/sync_arguments.awk" "$events/manifest.tsv")
# The same arguments without the last five phone clips, which come in as new files.
mapfile -t fewer < <(printf '%s\n' "${args[@]}" | tac |
  awk '/\/phone_[0-9]+\.(m4a|mp4)$/ && dropped < 5 && !grouped { ++dropped; next }
       $0 == "--end" { grouped = 1 } $0 == "--device" { grouped = 0 } { print }' | tac)
mapfile -t files < <(printf '%s\n' "${args[@]}" | grep -v '^--')
hours=$(for f in "${files[@]}"; do basename "$f"; done |
  awk -F'\t' 'NR == FNR { want[$1] = 1; next } FNR > 1 && ($1 in want) { s += $6 } END { printf "%.2f", s / 3600 }' - "$events/manifest.tsv")
cat "${files[@]}" > /dev/null

# One run; its documents, tables and dump into $scratch/$1. Prints its seconds. The
# documents folder is kept from run to run, as an editor's is: drift-corrected copies
# already there are left in place when they are the copies the run would write.
sync_into() {
  local name=$1; shift
  rm -rf "$run"/csvtabela*.csv "$run/debagmatLONG1.txt"
  mkdir -p "$run/Brenvik.app/SYNCED"
  local t; t=$(now)
  (cd "$run" && Brenvik.app/brenvik-sync --quiet --no-open "$@" > "$scratch/$name.txt" 2> "$scratch/$name.err") || true
  seconds "$t" "$(now)"
  mkdir -p "$scratch/$name"
  cp -r "$run/Brenvik.app/SYNCED" "$run"/csvtabela*.csv "$run/debagmatLONG1.txt" "$scratch/$name/" 2>/dev/null || true
}
same_as_plain() {
  if diff -r "$scratch/plain" "$scratch/$1" > /dev/null && cmp -s "$scratch/plain.txt" "$scratch/$1.txt"; then
    echo "identical"
  else
    echo "DIFFERENT"
  fi
}
taken() { grep -o '[0-9]* of [0-9]* files from the cache' "$scratch/$1.err" || echo "-"; }

echo "cache_runs: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $size files, $hours h of sound"
plain=$(sync_into plain --no-cache "${args[@]}")
rm -rf "$cache"
first=$(sync_into first "${args[@]}")
kept_kb=$(du -sk "$cache" | cut -f1)
second=$(sync_into second "${args[@]}")
rm -rf "$cache"
sync_into base "${fewer[@]}" > /dev/null
added=$(sync_into added "${args[@]}")

echo
echo "| run | time | of the run without the cache | files from the cache | documents, tables, pairs printed |"
echo "|---|---:|---:|---|---|"
echo "| without the cache | $plain s | 1.00 | - | - |"
echo "| first, into an empty cache | $first s | $(ratio "$first" "$plain") | $(taken first) | $(same_as_plain first) |"
echo "| second, the same files | $second s | $(ratio "$second" "$plain") | $(taken second) | $(same_as_plain second) |"
echo "| 5 new files | $added s | $(ratio "$added" "$plain") | $(taken added) | $(same_as_plain added) |"
echo
echo "cache after the first run: $((kept_kb / 1024)) MB for $hours h of sound, $(awk -v k="$kept_kb" -v h="$hours" 'BEGIN { printf "%.1f", k / 1024 / h }') MB per hour"
echo "5 new files, the target: $(awk -v f="$first" -v n="$size" 'BEGIN { printf "%.2f", f * 5 / n * 1.25 }') s (first run × 5/$size + 25 %); second run target: $(awk -v f="$first" 'BEGIN { printf "%.2f", f * 0.15 }') s"
