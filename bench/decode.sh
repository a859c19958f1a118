# Sourced by the whole-run benchmarks: clock helpers and `decode FILE`, what the engine asks
# of ffmpeg for one file, into a scratch folder removed on exit. Needs $ffmpeg.
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
decode() {
  "$ffmpeg" -nostdin -loglevel error -i "$1" -vn -acodec pcm_s16le -ar 8000 -ac 1 -f wav -y \
    "$scratch/$(basename "$1").wav"
}
export -f decode && export ffmpeg scratch
