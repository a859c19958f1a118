# Sourced by the whole-run benchmarks: the clock helpers (clock.sh) and `decode FILE`, what
# the engine asks of ffmpeg for one file, into a scratch folder removed on exit. Needs $ffmpeg.
# shellcheck source=bench/clock.sh
source "$(dirname "${BASH_SOURCE[0]}")/clock.sh"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
decode() {
  "$ffmpeg" -nostdin -loglevel error -i "$1" -vn -acodec pcm_s16le -ar 8000 -ac 1 -f wav -y \
    "$scratch/$(basename "$1").wav"
}
export -f decode && export ffmpeg scratch
