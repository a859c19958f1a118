# Markdown tables from tools/accuracy.sh's measurements.
#
#   awk -v default_tolerance="0.99 0.995" -f tools/accuracy_tables.awk runs.tsv rows.tsv
#
# default_tolerance: the tolerances (one or more) whose refinement, misses and false pairs
# are listed.
#
# runs.tsv: set tolerance refine seconds exit_status, one line per brenvik-sync run.
# rows.tsv: tolerance refine, then a row of tools/accuracy_score.awk:
#   T set class A B found offset_err_ms drift_err_ppm refined place_err_ms place_round_ms true_drift_ppm overlap_s
#     place_clock_ms
#   F set class A B why

BEGIN {
  FS = OFS = "\t"
  kLongOverlapS = 600
  kPlacementLimitMs = 2
  kPrintStepMs = 1  # brenvik-sync prints offsets in milliseconds
}

function abs(x) { return x < 0 ? -x : x }
function add(list, value) { ++count[list]; values[list, count[list]] = value }
# Median and largest of a list's absolute values, "median / max"; "-" when it is empty.
function spread(list, digits,   n, i, j, v, a, fmt) {
  n = count[list] + 0
  if (n == 0) return "-"
  for (i = 1; i <= n; ++i) a[i] = abs(values[list, i])
  for (i = 2; i <= n; ++i) {
    v = a[i]
    for (j = i - 1; j >= 1 && a[j] > v; --j) a[j + 1] = a[j]
    a[j + 1] = v
  }
  fmt = "%." digits "f / %." digits "f"
  return sprintf(fmt, n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2, a[n])
}
function remember(list, item) { if (!((list, item) in seen)) { seen[list, item] = 1; order[list, ++items[list]] = item } }

FILENAME == ARGV[1] {
  run_seconds[$1, $2, $3] = $4
  total_seconds[$2, $3] += $4
  remember("tolerances", $2); remember("refines", $3)
  next
}

{
  tol = $1; ref = $2; kind = $3; set = $4; cls = $5; pair = $6 " <-> " $7
  remember("sets", set); remember("classes " set, cls)
  g = tol SUBSEP ref SUBSEP set SUBSEP cls
  all = tol SUBSEP ref
  if (kind == "F") {
    ++false_pairs[g]
    ++false_pairs[all]
    false_list[tol, ref] = false_list[tol, ref] sprintf("| %s | %s | %s | %s |\n", ref ? "refined" : "decided", set, pair, $8)
    next
  }
  ++true_pairs[g]
  ++true_pairs[all]
  if (!$8) {
    missed[tol, ref] = missed[tol, ref] sprintf("| %s | %s | %s | %s |\n", ref ? "refined" : "decided", set, cls, pair)
    next
  }
  ++found[g]
  ++found[all]
  add("offset" SUBSEP all, $9)
  key = set SUBSEP ($6 < $7 ? $6 SUBSEP $7 : $7 SUBSEP $6)
  pair_class[key] = cls
  offset_err[tol, ref, key] = $9
  add("offset" SUBSEP g, $9)
  if (ref == 1 && $11 == 1) {
    ++refined[g]
    add("refined" SUBSEP g, $9)
    if ($12 != "-") add("place" SUBSEP g, $12)
    if ($13 != "-") add("round" SUBSEP g, $13)
    if ($16 != "-") {
      add("clock" SUBSEP g, $16)
      beyond = abs($12) - $13 - $16
      if (beyond > kPlacementLimitMs) ++placed_badly[g]
    }
    if (abs($14) >= 1 && $10 != "-") {
      # A few ppm over a short overlap move the sound by microseconds: no measure can see them.
      d = $15 >= kLongOverlapS ? "long" : "short"
      ++drifting[d, g]
      add("drift" d SUBSEP g, $10)
      if (abs($10) <= 1) ++drift_ok[d, g]
    }
  }
}

function cell(n, m) { return (n + 0) "/" (m + 0) }
function drift_cell(d, g) {
  return drifting[d, g] ? spread("drift" d SUBSEP g, 2) ", " cell(drift_ok[d, g], drifting[d, g]) : "-"
}
function largest(list,   s) { s = spread(list, 1); return s == "-" ? s : substr(s, index(s, "/ ") + 2) }
# Pairs of one set and class whose refined offset is further from the truth than the decided one.
function worse_count(tol, set, cls,   k, p, n) {
  n = 0
  for (k in pair_class) {
    split(k, p, SUBSEP)
    if (p[1] != set || pair_class[k] != cls) continue
    if (((tol, 1, k) in offset_err) && ((tol, 0, k) in offset_err) &&
        abs(offset_err[tol, 1, k]) > abs(offset_err[tol, 0, k]) + kPrintStepMs / 2) ++n
  }
  return n
}
# Pairs found with one setting of --refine and not the other.
function differ_count(tol, set, cls,   k, p, n) {
  n = 0
  for (k in pair_class) {
    split(k, p, SUBSEP)
    if (p[1] != set || pair_class[k] != cls) continue
    if (((tol, 1, k) in offset_err) != ((tol, 0, k) in offset_err)) ++n
  }
  return n
}

END {
  print "### All sets by tolerance"
  print ""
  print "| tolerance | found / true | false pairs | decided offset error median / max (ms) | refined offset error median / max (ms) | run time s, all sets (decided, refined) |"
  print "|---|---|---|---|---|---|"
  for (ti = 1; ti <= items["tolerances"]; ++ti) {
    tol = order["tolerances", ti]
    a0 = tol SUBSEP 0; a1 = tol SUBSEP 1
    f = cell(found[a1], true_pairs[a1])
    if (found[a0] != found[a1]) f = f " (decided " cell(found[a0], true_pairs[a0]) ")"
    fp = false_pairs[a1] + 0
    if (false_pairs[a0] != false_pairs[a1]) fp = fp " (decided " (false_pairs[a0] + 0) ")"
    printf "| %s | %s | %s | %s | %s | %.1f, %.1f |\n", tol, f, fp, spread("offset" SUBSEP a0, 1),
           spread("offset" SUBSEP a1, 1), total_seconds[tol, 0], total_seconds[tol, 1]
  }
  print ""
  print "### Pairs found and offset errors by tolerance"
  print ""
  print "Offsets as brenvik-sync prints them (ms precision) against the truth at the shorter file's start;"
  print "decided = `--refine 0`, refined = `--refine 1`. A false pair is a printed pair that is not true or"
  print "whose offset is more than 1 s off."
  print ""
  print "| tolerance | set | longer file | found / true | false pairs | decided offset error median / max (ms) | refined offset error median / max (ms) | run time s (decided, refined) |"
  print "|---|---|---|---|---|---|---|---|"
  for (ti = 1; ti <= items["tolerances"]; ++ti) {
    tol = order["tolerances", ti]
    for (si = 1; si <= items["sets"]; ++si) {
      set = order["sets", si]
      for (ci = 1; ci <= items["classes " set]; ++ci) {
        cls = order["classes " set, ci]
        g0 = tol SUBSEP 0 SUBSEP set SUBSEP cls
        g1 = tol SUBSEP 1 SUBSEP set SUBSEP cls
        f = cell(found[g1], true_pairs[g1])
        if (found[g0] != found[g1]) f = f " (decided " cell(found[g0], true_pairs[g0]) ")"
        fp = false_pairs[g1] + 0
        if (false_pairs[g0] != false_pairs[g1]) fp = fp " (decided " (false_pairs[g0] + 0) ")"
        times = run_seconds[set, tol, 0] ", " run_seconds[set, tol, 1]
        printf "| %s | %s | %s | %s | %s | %s | %s | %s |\n", tol, set, cls, f, fp,
               spread("offset" SUBSEP g0, 1), spread("offset" SUBSEP g1, 1), ci == 1 ? times : "″"
      }
    }
  }

  ndefaults = split(default_tolerance, defaults, " ")
  for (di = 1; di <= ndefaults; ++di) {
    tol = defaults[di]
    print ""
    print "### Refinement at tolerance " tol
    print ""
    print "Placement: each pair's start difference in SYNCED_fcp.XML (start frames ÷ timebase) against the"
    print "truth on the longer file's clock. Rounding: the largest error the documents' six significant"
    print "digits alone can cause for a pair. Clock: how much the placement may move with the clock the"
    print "timeline runs on (start distance × spread of the group's drifts). Over 2 ms: pairs whose placement"
    print "error is more than 2 ms beyond rounding and clock. Drift: pairs whose clocks differ by 1 ppm or"
    print "more, by overlap. Worse than decided: refined offset more than 0.5 ms (half the printed step)"
    print "further from the truth than the decided one."
    print ""
    print "| set | longer file | refined / found | refined offset error median / max (ms) | placement error median / max (ms) | rounding up to (ms) | clock up to (ms) | over 2 ms | drift error median / max (ppm), within 1 ppm: overlap ≥ 10 min | the same: overlap < 10 min | worse than decided | pairs differing from decided |"
    print "|---|---|---|---|---|---|---|---|---|---|---|---|"
    for (si = 1; si <= items["sets"]; ++si) {
      set = order["sets", si]
      for (ci = 1; ci <= items["classes " set]; ++ci) {
        cls = order["classes " set, ci]
        g1 = tol SUBSEP 1 SUBSEP set SUBSEP cls
        printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", set, cls, cell(refined[g1], found[g1]),
               spread("refined" SUBSEP g1, 1), spread("place" SUBSEP g1, 1),
               largest("round" SUBSEP g1), largest("clock" SUBSEP g1), placed_badly[g1] + 0, drift_cell("long", g1), drift_cell("short", g1),
               worse_count(tol, set, cls), differ_count(tol, set, cls)
      }
    }

    print ""
    print "### Misses and false pairs at tolerance " tol
    print ""
    print "| offsets | set | longer file | true pair not found |"
    print "|---|---|---|---|"
    printf "%s%s", missed[tol, 0], missed[tol, 1]
    print ""
    print "| offsets | set | printed pair | why it is false |"
    print "|---|---|---|---|"
    printf "%s%s", false_list[tol, 0], false_list[tol, 1]
  }
}
