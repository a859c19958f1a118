# Sourced by the shoot benchmarks: `make_once LABEL DIR` makes the recordings of the device
# list on standard input into DIR with $make_event. They depend only on the list's text,
# so they are made again only when it changed or the last making did not finish.
make_once() {
  local label=$1 events=$2
  mkdir -p "$events"
  cat > "$events/devices.new"
  if ! cmp -s "$events/devices.new" "$events/devices.txt" || [ ! -s "$events/manifest.tsv" ]; then
    echo "$label: making the recordings in $events (a few minutes, once)" >&2
    find "$events" -mindepth 1 ! -name devices.new -delete
    "$make_event" --quiet --out "$events" --devices "$events/devices.new"
    mv "$events/devices.new" "$events/devices.txt"
  else
    rm "$events/devices.new"
  fi
}
