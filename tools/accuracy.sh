#!/usr/bin/env bash
# Measures how well brenvik-sync lines up generated events whose truth is known: for every
# device list, makes the recordings once, runs brenvik-sync at each tolerance with and without
# refinement, scores every pair against the manifest and prints markdown tables.
#
# usage: tools/accuracy.sh [--build DIR] [--tolerances "T..."] [--refine "0 1"] [--default "T..."]
#                          [--results DIR] [--rescore] LIST...
#   LIST      device lists (tools/events/*.txt); each is one set in the tables
#   --build   the build folder (default: build in the repository)
#   --tolerances  the sweep (default "0.98 0.99 0.995 0.998")
#   --default     the tolerances whose refinement, misses and false pairs are listed
#                 (default "0.99 0.995")
#   --results     where the outputs, raw rows and run times go (default BUILD/accuracy)
#   --rescore     score the outputs kept in --results again instead of running brenvik-sync
#
# Files of one device (the same device label in a list) are given as one --device group.
# One brenvik-sync runs at a time: the shared machine and the run folder allow no more.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$repo/build
tolerances="0.98 0.99 0.995 0.998"
refines="0 1"
default_tolerance="0.99 0.995"
results=""
rescore=0
lists=()
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --tolerances) tolerances=$2; shift 2 ;;
    --refine) refines=$2; shift 2 ;;
    --default) default_tolerance=$2; shift 2 ;;
    --results) results=$2; shift 2 ;;
    --rescore) rescore=1; shift ;;
    -h|--help) sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "accuracy: unknown option $1" >&2; exit 2 ;;
    *) lists+=("$1"); shift ;;
  esac
done
[ ${#lists[@]} -gt 0 ] || { echo "accuracy: give at least one device list (tools/events/*.txt)" >&2; exit 2; }
case $build in /*) ;; *) build=$PWD/$build ;; esac
results=${results:-$build/accuracy}
case $results in /*) ;; *) results=$PWD/$results ;; esac
run=$build/run
make_event=$build/tools/brenvik-make-event
for tool in "$make_event" "$run/Brenvik.app/brenvik-sync"; do
  [ -x "$tool" ] || { echo "accuracy: $tool is missing (build brenvik-make-event brenvik-sync run_folder)" >&2; exit 2; }
done
score=$repo/tools/accuracy_score.awk
tables=$repo/tools/accuracy_tables.awk

mkdir -p "$results"
rows=$results/rows.tsv    # tolerance refine, then the scorer's row
runs=$results/runs.tsv    # set tolerance refine seconds exit_status
: > "$rows"
[ $rescore = 1 ] || : > "$runs"

# The recordings depend only on the list's text, so a folder named by its checksum is reused.
make_events() {  # LIST -> prints the folder
  local list=$1 sum dir
  sum=$(sha256sum < "$list" | cut -c1-16)
  dir=$build/events/$(basename "$list" .txt)-$sum
  if [ ! -s "$dir/manifest.tsv" ]; then
    rm -rf "$dir" && mkdir -p "$dir"
    "$make_event" --quiet --out "$dir" --devices "$list" >&2
  fi
  echo "$dir"
}

# The files in manifest order; a device with several files becomes one --device group.
sync_arguments() {  # DIR -> one argument per line
  awk -F'\t' -v dir="$1" -f "$repo/tools/sync_arguments.awk" "$1/manifest.tsv"
}

# One brenvik-sync run of the current set; keeps its printout, its SYNCED_fcp.XML and its log.
run_once() {
  local t status=0 seconds
  rm -f "$run"/Brenvik.app/SYNCED/*.XML "$xml"
  local log=$run/Brenvik.app/LOG/log_file.txt log_bytes=0
  [ -e "$log" ] && log_bytes=$(stat -c %s "$log")
  t=$(date +%s.%N)
  (cd "$run" && nice Brenvik.app/brenvik-sync --quiet --no-open --no-cache --tolerance "$tolerance" \
     --refine "$refine" "${args[@]}" > "$out" 2> /dev/null) || status=$?
  seconds=$(awk -v a="$t" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  printf '%s\t%s\t%s\t%s\t%s\n' "$set_name" "$tolerance" "$refine" "$seconds" "$status" >> "$runs"
  echo "accuracy: $set_name tolerance $tolerance refine $refine: exit $status, $seconds s" >&2
  cp "$run/Brenvik.app/SYNCED/SYNCED_fcp.XML" "$xml" 2> /dev/null || true
  # A log that rotated during the run holds its start in log_file.txt.1.
  if [ -e "$log" ] && [ "$(stat -c %s "$log")" -lt "$log_bytes" ]; then
    { tail -c +$((log_bytes + 1)) "$log.1"; cat "$log"; } > "$results/$set_name-$tolerance-$refine.log" 2> /dev/null || true
  else
    tail -c +$((log_bytes + 1)) "$log" > "$results/$set_name-$tolerance-$refine.log" 2> /dev/null || true
  fi
}

for list in "${lists[@]}"; do
  set_name=$(basename "$list" .txt)
  t=$(date +%s.%N)
  dir=$(make_events "$list")
  echo "accuracy: $set_name: recordings in $dir ($(awk -v a="$t" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }') s)" >&2
  mapfile -t args < <(sync_arguments "$dir")
  for tolerance in $tolerances; do
    for refine in $refines; do
      out=$results/$set_name-$tolerance-$refine.txt
      xml=$results/$set_name-$tolerance-$refine.XML
      if [ $rescore = 0 ]; then
        run_once
      fi
      [ -e "$xml" ] || xml=/dev/null
      log=$results/$set_name-$tolerance-$refine.log
      [ -e "$log" ] || log=/dev/null
      awk -v set="$set_name" -v xml="$xml" -v runlog="$log" -f "$score" "$dir/manifest.tsv" "$out" |
        awk -v t="$tolerance" -v r="$refine" 'BEGIN { OFS = "\t" } { print t, r, $0 }' >> "$rows"
    done
  done
done

awk -v default_tolerance="$default_tolerance" -f "$tables" "$runs" "$rows"
