#!/usr/bin/env bash
# Times the synced media files of one run (--write-media) against cp copying the same
# camera files: two cameras, one in three clips, 35 minutes of pictures, a recorder 100 ppm
# fast. The media's time is that of a run with --write-media less that of the same run
# without, both taking the analyses from the cache of a first run, so that the difference
# is the media files alone. One measurement on a shared machine: quote the ratio.
#
# usage: bench/synced_media.sh [BUILD_DIR]     BUILD_DIR defaults to "build" in the repository
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$repo/$build ;; esac
run=$build/run
make_event=$build/tools/brenvik-make-event
for tool in "$make_event" "$run/Brenvik.app/brenvik-sync"; do
  [ -x "$tool" ] || { echo "synced_media: $tool is missing (build brenvik-make-event brenvik-sync run_folder)" >&2; exit 2; }
done
events=$build/events/bench_synced_media
# shellcheck source=bench/make_once.sh
source "$repo/bench/make_once.sh"
make_once synced_media "$events" < "$repo/tools/events/bench_synced_media.txt"

# shellcheck source=bench/clock.sh
source "$repo/bench/clock.sh"
scratch=$(mktemp -d "$build/synced-media-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
e=$events
args=("$e/sm_rec.wav" --device "$e/sm_a_1.mov" "$e/sm_a_2.mov" "$e/sm_a_3.mov" --end "$e/sm_b.mp4")
cameras=("$e/sm_a_1.mov" "$e/sm_a_2.mov" "$e/sm_a_3.mov" "$e/sm_b.mp4")
sync() { (cd "$run" && Brenvik.app/brenvik-sync --quiet --no-open "$@" > "$scratch/report.txt" 2>&1); }

cat "${cameras[@]}" "$e/sm_rec.wav" > /dev/null
sync --out "$scratch/first" "${args[@]}"  # fills the cache
t=$(now); sync --out "$scratch/plain" "${args[@]}"; plain=$(seconds "$t" "$(now)")
t=$(now); sync --out "$scratch/media" --write-media "${args[@]}"; with_media=$(seconds "$t" "$(now)")
grep -c "synced-media/" "$scratch/report.txt" > /dev/null || { echo "synced_media: no media files written" >&2; cat "$scratch/report.txt" >&2; exit 1; }
t=$(now); mkdir "$scratch/cp" && cp "${cameras[@]}" "$scratch/cp/"; copy=$(seconds "$t" "$(now)")

media=$(seconds "$plain" "$with_media")
camera_mb=$(du -cm "${cameras[@]}" | awk 'END { print $1 }')
media_mb=$(du -cm "$scratch/media/synced-media"/* | awk 'END { print $1 }')
echo "camera files: ${#cameras[@]}, $camera_mb MB; synced media files: $media_mb MB"
echo "run without media: $plain s   with: $with_media s   media files: $media s"
echo "cp of the camera files: $copy s   media / cp: $(awk -v a="$media" -v b="$copy" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }') x"
