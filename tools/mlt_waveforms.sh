#!/usr/bin/env bash
# Draws the sound of every track of an MLT document as a waveform strip, one under the
# other in the tractor's order and on one time scale, so that one picture shows how the
# tracks line up. Each track is rendered alone by melt: the others are hidden.
#
# usage: tools/mlt_waveforms.sh MLTFILE OUT.png [WIDTH]     WIDTH defaults to 1600
#
# Tracks are read from <track producer="…" …/> elements written on one line each, as
# Brenvik and the editors write them; tracks that carry no sound (hide="audio" or
# "both") and the background get no strip. A strip is labelled with the playlist's
# shotcut:name when a font is found, else left blank.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 MLTFILE OUT.png [WIDTH]" >&2
  exit 2
fi
mlt=$1
out=$2
width=${3:-1600}
strip_height=120
for tool in melt ffmpeg xmllint; do
  command -v "$tool" >/dev/null || { echo "ERROR: $tool is not installed" >&2; exit 2; }
done
[ -r "$mlt" ] || { echo "ERROR: cannot read $mlt" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
font=$(fc-match -f '%{file}' sans 2>/dev/null || true)
[ -r "$font" ] || font=""

# Every track line as "producer hide", in order.
mapfile -t tracks < <(grep -o '<track producer="[^"]*"[^>]*/>' "$mlt" |
  sed -E 's/<track producer="([^"]*)"( hide="([^"]*)")?.*/\1 \3/')

strips=()
for entry in "${tracks[@]}"; do
  read -r id hide <<<"$entry"
  [ "$id" = background ] && continue
  case $hide in audio|both) continue ;; esac

  # Everything hidden, then this track's sound shown again.
  sed -E "s#<track producer=\"([^\"]*)\"( hide=\"[^\"]*\")?[[:space:]]*/>#<track producer=\"\1\" hide=\"both\"/>#g;
          s#<track producer=\"$id\" hide=\"both\"/>#<track producer=\"$id\" hide=\"video\"/>#" \
    "$mlt" >"$work/alone.mlt"
  n=${#strips[@]}
  timeout 120 melt -silent "$work/alone.mlt" -consumer "avformat:$work/$n.wav" vn=1 ar=48000 ac=1 \
    </dev/null >/dev/null 2>&1 || { echo "ERROR: melt could not render track $id" >&2; exit 3; }

  graph="[0:a]showwavespic=s=${width}x${strip_height}:colors=0x7fc8ff[w];"
  graph+="color=c=0x1c1c1c:s=${width}x${strip_height}[bg];[bg][w]overlay=format=auto"
  if [ -n "$font" ]; then
    xmllint --xpath "string(//playlist[@id='$id']/property[@name='shotcut:name'])" "$mlt" \
      >"$work/$n.txt" 2>/dev/null || true
    [ -s "$work/$n.txt" ] || printf '%s' "$id" >"$work/$n.txt"
    graph+=",drawtext=fontfile=$font:textfile=$work/$n.txt:x=8:y=6:fontsize=16:fontcolor=white"
  fi
  ffmpeg -nostdin -y -loglevel error -i "$work/$n.wav" -filter_complex "$graph" \
    -frames:v 1 "$work/$n.png"
  strips+=("$work/$n.png")
done

if [ ${#strips[@]} -eq 0 ]; then
  echo "ERROR: $mlt has no track with sound" >&2
  exit 3
fi
if [ ${#strips[@]} -eq 1 ]; then
  cp "${strips[0]}" "$out"
else
  inputs=()
  for s in "${strips[@]}"; do inputs+=(-i "$s"); done
  ffmpeg -nostdin -y -loglevel error "${inputs[@]}" \
    -filter_complex "vstack=inputs=${#strips[@]}" -frames:v 1 "$out"
fi
echo "$out: ${#strips[@]} tracks"
