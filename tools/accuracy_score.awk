# Scores one brenvik-sync run against the truth of a generated event.
#
#   awk -v set=NAME -v xml=SYNCED_fcp.XML [-v runlog=LOG] -f tools/accuracy_score.awk manifest.tsv pairs.txt
#
# manifest.tsv: brenvik-make-event's table (file device event start_s duration_s file_s
# drift_ppm rate_hz kind). pairs.txt: brenvik-sync's standard output. The XML may be
# an empty file when the run wrote none. LOG, the run's part of Brenvik.app/LOG/log_file.txt,
# gives the refined offsets in microseconds where the printout rounds them to milliseconds.
#
# A sound at event time T sits at file time (T - start)(1 + drift·1e-6), so for a printed pair
# "A <-> B offset O", the offset at A's first sample is (start_B - start_A)(1 + drift_B·1e-6)
# and the drift of A against B is 1 - (1 + drift_B·1e-6)/(1 + drift_A·1e-6), in ppm.
# True pair: one event, not one device, overlapping at least 3 s in the event. A printed pair
# that is not true, or whose offset is more than 1 s off, is a false pair.
#
# Prints one tab-separated row per true pair and per false pair:
#   T set class A B found offset_err_ms drift_err_ppm refined place_err_ms place_round_ms true_drift_ppm overlap_s
#     place_clock_ms
#   F set class A B why
# place_clock_ms: how far the pair's placement may move with the clock the timeline runs on,
# |start_A - start_B| times the spread of drifts in the group; a timeline that does not retime
# clips cannot be right on every member's clock at once.
# class is the longer file's length: "≤10 min", "30 min" or "60 min". Missing figures are "-".

BEGIN {
  FS = OFS = "\t"
  kMinOverlapS = 3
  kMaxOffsetErrS = 1
}

function abs(x) { return x < 0 ? -x : x }
function basename(p) { sub(/.*\//, "", p); return p }
function class_of(a, b,   len) {
  len = dur[a] > dur[b] ? dur[a] : dur[b]
  return len <= 600 ? "≤10 min" : len <= 1800 ? "30 min" : "60 min"
}
function key(a, b) { return a < b ? a SUBSEP b : b SUBSEP a }
function true_offset(a, b) { return (start[b] - start[a]) * (1 + drift[b] * 1e-6) }
function true_drift(a, b) { return (1 - (1 + drift[b] * 1e-6) / (1 + drift[a] * 1e-6)) * 1e6 }
# Half a unit in the last of six significant digits, the documents' number format.
function rounding(frames,   e) {
  if (frames == 0) return 0
  e = int(log(abs(frames)) / log(10))
  if (10 ^ e > abs(frames)) --e
  return 0.5 * 10 ^ (e - 5)
}

# The manifest.
FILENAME == ARGV[1] {
  if (FNR == 1 || $9 != "sound") next
  f = $1
  files[++nfiles] = f
  device[f] = $2; event[f] = $3; start[f] = $4; dur[f] = $5; drift[f] = $7
  next
}

# brenvik-sync's pair lines: "A  <->  B  offset +S.SSS s  drift +D.DD ppm  refined".
FILENAME == ARGV[2] {
  if (index($0, "  <->  ") == 0) next
  # A pair found on the second look says so last.
  line = $0
  second = sub(/  \(second look\)$/, "", line)
  n = split(line, w, " ")
  a = w[1]; b = w[3]
  for (i = 4; i < n; ++i) {
    if (w[i] == "offset") off = w[i + 1] + 0
    if (w[i] == "drift") dr = w[i + 1] + 0
  }
  reported[++npairs] = a SUBSEP b
  roff[npairs] = off; rdrift[npairs] = dr; rsecond[npairs] = second
  rrefined[npairs] = (w[n] == "refined" && w[n - 1] != "not") ? 1 : 0
  next
}

END {
  # The log names each pair found by its analysis WAVs ("... NAJDEN SYNC MEGJU
  # WORK/3-SHORTER.wav  i WORK/0-LONGER.wav ...") before its refinement line ("refined offset
  # -12345.678 ms, ...").
  if (runlog != "") {
    FS = " "
    while ((getline line < runlog) > 0) {
      if (match(line, /MEGJU [^ ]+  i [^ ]+/)) {
        split(substr(line, RSTART + 6, RLENGTH - 6), ab, "  i ")
        for (k = 1; k <= 2; ++k) {
          ab[k] = basename(ab[k])
          sub(/^[0-9]+-/, "", ab[k]); sub(/\.wav$/, "", ab[k])
        }
        log_pair = ab[1] SUBSEP ab[2]
      } else if (line ~ /^refined offset /) {
        split(line, w, " ")
        fine[log_pair] = w[3] / 1000
      }
    }
  }
  for (p = 1; p <= npairs; ++p)
    if (rrefined[p] && (reported[p] in fine) && abs(fine[reported[p]] - roff[p]) <= 0.0005)
      roff[p] = fine[reported[p]]

  # The XML, one tag per record: master clips name their file ids, sequences place them.
  RS = "<"; FS = ">"
  seq = 0; in_clip = 0; in_video = 0
  while ((getline rec < xml) > 0) {
    split(rec, t, ">")
    tag = t[1]; text = t[2]
    if (tag == "clip") in_clip = 1
    else if (tag == "/clip") in_clip = 0
    else if (in_clip && tag == "name") clip_name = basename(text)
    else if (in_clip && tag ~ /^file id="[^"]*"$/) {
      id = tag; gsub(/^file id="|"$/, "", id); file_of_id[id] = clip_name
    } else if (tag ~ /^sequence( |$)/) { ++seq; timebase[seq] = 0 }
    else if (seq && !in_clip && tag == "timebase" && timebase[seq] == 0) timebase[seq] = text + 0
    else if (tag == "video") in_video = 1
    else if (tag == "/video") in_video = 0
    else if (tag == "start") item_start = text + 0
    else if (seq && tag ~ /^file id="[^"]*"\/$/) {
      id = tag; gsub(/^file id="|"\/$/, "", id)
      f = file_of_id[id]
      seq_of[f] = seq
      if (!(seq in dmin) || drift[f] < dmin[seq]) dmin[seq] = drift[f]
      if (!(seq in dmax) || drift[f] > dmax[seq]) dmax[seq] = drift[f]
      frames[f] = item_start
      if (in_video) video[f] = 1
    }
  }

  for (p = 1; p <= npairs; ++p) {
    split(reported[p], ab, SUBSEP); a = ab[1]; b = ab[2]
    if (!(a in start) || !(b in start)) { print "F", set, "?", a, b, "not in the manifest"; continue }
    k = key(a, b)
    if (k in found_as) { print "F", set, class_of(a, b), a, b, "printed twice"; continue }
    err = roff[p] - true_offset(a, b)
    if (!is_true(a, b)) { print "F", set, class_of(a, b), a, b, why_not(a, b); continue }
    if (abs(err) > kMaxOffsetErrS) {
      printf "F\t%s\t%s\t%s\t%s\toffset %.3f s off\n", set, class_of(a, b), a, b, err
      continue
    }
    found_as[k] = p
  }

  for (i = 1; i <= nfiles; ++i) for (j = i + 1; j <= nfiles; ++j) {
    a = files[i]; b = files[j]
    if (!is_true(a, b)) continue
    k = key(a, b)
    if (!(k in found_as)) {
      print "T", set, class_of(a, b), a, b, 0, "-", "-", "-", "-", "-", sprintf("%.2f", true_drift(a, b)),
            sprintf("%.1f", overlap(a, b)), "-"
      continue
    }
    p = found_as[k]
    split(reported[p], ab, SUBSEP); a = ab[1]; b = ab[2]
    offset_err = (roff[p] - true_offset(a, b)) * 1000
    drift_err = rrefined[p] ? sprintf("%.2f", rdrift[p] - true_drift(a, b)) : "-"
    place = "-"; round_ms = "-"; clock_ms = "-"
    if ((a in seq_of) && (b in seq_of) && seq_of[a] == seq_of[b]) {
      # The timeline runs on B's clock here, as the printed offset does: A's first sample
      # belongs (start_A - start_B)(1 + drift_B·1e-6) after B's.
      s = seq_of[a]
      fa = video[a] ? timebase[s] : int(timebase[s]); fb = video[b] ? timebase[s] : int(timebase[s])
      placed = frames[a] / fa - frames[b] / fb
      place = sprintf("%.3f", (placed + true_offset(a, b)) * 1000)
      round_ms = sprintf("%.3f", (rounding(frames[a]) / fa + rounding(frames[b]) / fb) * 1000)
      clock_ms = sprintf("%.3f", abs(start[a] - start[b]) * (dmax[s] - dmin[s]) * 1e-3)
    }
    printf "T\t%s\t%s\t%s\t%s\t1\t%.3f\t%s\t%d\t%s\t%s\t%.2f\t%.1f\t%s\n", set, class_of(a, b), a, b,
           offset_err, drift_err, rrefined[p], place, round_ms, true_drift(a, b), overlap(a, b), clock_ms
  }
}

function overlap(a, b,   lo, hi) {
  lo = start[a] > start[b] ? start[a] : start[b]
  hi = start[a] + dur[a] < start[b] + dur[b] ? start[a] + dur[a] : start[b] + dur[b]
  return hi - lo
}
function is_true(a, b) {
  return event[a] == event[b] && device[a] != device[b] && overlap(a, b) >= kMinOverlapS
}
function why_not(a, b) {
  if (event[a] != event[b]) return "different events"
  if (device[a] == device[b]) return "one device"
  return sprintf("overlap %.1f s", overlap(a, b))
}
