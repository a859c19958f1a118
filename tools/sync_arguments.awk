# brenvik-sync's file arguments for a generated event, from its manifest: the files in
# manifest order, the files of one device (the same device label) as one --device group.
#
#   awk -F'\t' -v dir=DIR [-v size=N -v full=M -v kept=K] -f tools/sync_arguments.awk DIR/manifest.tsv
#
# With size, a subset of size files: the first `kept` rows and an even spread of the other
# full - kept, so that a smaller run is a part of the same event. One argument a line.
NR == 1 || $9 != "sound" { next }
{
  row = NR - 1
  if (size != "" && row > kept) {
    rest = row - kept - 1
    if (int((rest + 1) * (size - kept) / (full - kept)) == int(rest * (size - kept) / (full - kept))) next
  }
  order[++n] = $2; path[n] = dir "/" $1; count[$2]++
}
END {
  for (i = 1; i <= n; ++i) {
    d = order[i]
    if (count[d] == 1) { print path[i]; continue }
    if (d in done) continue
    done[d] = 1
    print "--device"
    for (j = i; j <= n; ++j) if (order[j] == d) print path[j]
    print "--end"
  }
}
