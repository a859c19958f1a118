#include "matching/second_look.h"

#include "core/format.h"
#include "core/parallel.h"
#include "core/process.h"
#include "core/stop.h"
#include "matching/placements.h"
#include "matching/refine.h"
#include "matching/repeats.h"
#include "matching/sound_measures.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>

namespace {

// A candidate this close to another is the same candidate (the match words' grid is 10 ms).
constexpr double kSameCandidateSec = 0.005;
// How far a second-look pair may disagree with where the pairs in sync place its files.
constexpr double kMostContradictionSec = 0.005;
// The same for a pair in sync whose refinement found no good window: its offset is the
// decision's, up to 100 ms early, so only a gap beyond the refinement's own search of
// ±0.25 s says that its hits were chance ones (the false pairs measured were 0.30 s to
// 290 s off). The same holds against where its own sound lines up best.
constexpr double kMostUnmeasuredContradictionSec = 0.25;
// Only candidates that put under this much sound side by side are looked at again: the
// hits of a longer overlap are many enough for the decision, and the refinement of a long
// overlap costs six 15 s windows. Measured: every true pair the second look found shared
// 3 to 28 s; checking all candidates made a run of 12 files of three events half as
// expensive again in CPU.
constexpr double kLongestOverlapSec = 60.0;
// A decision's chosen candidate with more than this share of the most-hit candidate's
// hits is its rival, not a chance one: music built of a repeating phrase gives several
// offsets a phrase apart that the refinement accepts alike, so neither candidate is
// checked as it stands, and the sound around both says which offset, if any, is true.
// Measured: true short overlaps had rivals of 0.004 to 0.26 of the most hits, repeating
// music 0.58 to 0.99.
constexpr double kRivalHitShare = 0.5;

// A pair in sync that shares more than this rests on hits from all of it, while its sound
// is compared over one minute at most: a phrase looped there says nothing of the rest.
constexpr double kLongestCheckedOverlapSec = 180.0;
// Where sound repeats, a rung this close to a pair's offset is that offset: the decision
// leaves an offset up to 0.1 s early, and the refinement searches a quarter second.
constexpr double kSameRungSec = 0.25;

struct Candidate {
  Candidate(std::size_t verdict_, double offset_) : verdict(verdict_), offset(offset_) {}
  std::size_t verdict;
  double offset;
  bool rival = false;  // hits alike at two offsets: the candidate is what the sound says
  double low = 0.0;    // the offsets the sound is searched between, for a rival
  double high = 0.0;
  Refinement measured;
  RepeatCheck repeats;
};

// What a pair in sync looks like against sound that repeats, and where it belongs.
struct RungCheck {
  RepeatCheck repeats;
  Refinement moved;  // measured at the rung that stands out, when that is elsewhere
};

bool same_rung(const RepeatCheck& check, double offset) {
  return std::abs(check.best_rung - offset) <= kSameRungSec;
}

// Whether the sound of a candidate the refinement accepted lets it be trusted: where the
// sound repeats, only when it is the offset that stands out.
bool trusted(const RepeatCheck& check, double offset) {
  return !check.repeats() || (check.stands_out && same_rung(check, offset));
}

bool has_rival(const OffsetSummary& summary) {
  return std::abs(static_cast<double>(summary.offset) - summary.most_hit_offset) > kSameCandidateSec &&
         summary.hits > kRivalHitShare * summary.most_hits;
}

// What every phase reads: the files' analysis WAVs and lengths, and whether the
// refinement measured the pairs in sync before the second look.
struct Files {
  const SoundMeasures& measures;
  const std::vector<float>& durations;
  std::size_t count;
  bool refined;

  bool known(const PairVerdict& v) const {
    return v.shorter >= 0 && static_cast<std::size_t>(v.shorter) < count && v.longer >= 0 &&
           static_cast<std::size_t>(v.longer) < count;
  }
  Refinement refine(const PairVerdict& v, double offset,
                    RefineScope scope = RefineScope::kEveryWindow) const {
    return measures.refine(v.shorter, v.longer, offset, scope);
  }
  RepeatCheck repeats(const PairVerdict& v, double offset, double low, double high) const {
    return measures.repeats(v.shorter, v.longer, offset, low, high);
  }
  // Seconds side by side; shorter-file time ts meets longer-file time ts - offset.
  double overlap(const PairVerdict& v, double offset) const {
    return std::min<double>(durations[static_cast<std::size_t>(v.shorter)],
                            durations[static_cast<std::size_t>(v.longer)] + offset) -
           std::max(0.0, offset);
  }
  // A pair in sync that the refinement tried and found no good window for.
  bool unmeasured(const PairVerdict& v) const {
    return unrefined(v) && v.result.good_windows == 0;
  }
  // One the refinement tried and left at the decision's offset. A good window or two do not
  // make its offset trusted: a false pair of 1,202 chance hits over 15 s had one of three.
  bool unrefined(const PairVerdict& v) const {
    return refined && !v.result.refined && !v.result.implied;
  }
};

bool link(Placements& placements, const PairVerdict& v, double offset, double& gap, double limit) {
  return placements.link(static_cast<std::size_t>(v.shorter), static_cast<std::size_t>(v.longer),
                         offset, gap, limit);
}

// The pairs in sync, by position in `verdicts`, whose sound is compared for repeats next:
// those within reach of the check (sharing at most kLongestCheckedOverlapSec), not yet
// `checked`, that the measured pairs do not already vouch for. A pair is vouched for when
// measured pairs in sync, each either checked or sharing too much to need it, place its
// two files within a rung of its own offset: sound that repeats moves a pair by a whole
// phrase, half a second or more, so a pair a phrase off cannot agree with such a chain.
// Walked in verdict order, a pair not vouched for is linked as it stands, so that the
// pairs it would vouch for wait for its check; the caller checks those returned and asks
// again until none is left. Pairs without a measured offset are always returned, but
// those the refinement passed over, as placed already by refined pairs, only once nothing
// else is left: the chains that vouch for them are checked by then.
std::vector<std::size_t> in_sync_to_check(const std::vector<PairVerdict>& verdicts,
                                          const std::vector<bool>& checked, const Files& files) {
  const auto within_reach = [&](const PairVerdict& v) {
    return files.known(v) && v.judged && v.in_sync &&
           files.overlap(v, v.result.offset) <= kLongestCheckedOverlapSec;
  };
  Placements vouching(files.count);
  double gap = 0.0;
  for (std::size_t k = 0; k < verdicts.size(); ++k) {
    const PairVerdict& v = verdicts[k];
    if (files.known(v) && v.judged && v.in_sync && v.result.refined && (checked[k] || !within_reach(v)))
      link(vouching, v, v.result.offset, gap, kSameRungSec);
  }
  std::vector<std::size_t> in_sync, implied;
  for (std::size_t k = 0; k < verdicts.size(); ++k) {
    const PairVerdict& v = verdicts[k];
    if (checked[k] || !within_reach(v)) continue;
    const bool vouched =
        (v.result.refined || v.result.implied) &&
        vouching.together(static_cast<std::size_t>(v.shorter), static_cast<std::size_t>(v.longer)) &&
        link(vouching, v, v.result.offset, gap, kSameRungSec);
    if (vouched) continue;
    if (v.result.refined) link(vouching, v, v.result.offset, gap, kSameRungSec);
    (v.result.implied ? implied : in_sync).push_back(k);
  }
  return in_sync.empty() ? implied : in_sync;
}

// Measures each of those pairs' sound for repeats, several at once, and, where it refines,
// the rung that stands out elsewhere than the pair's offset. Reads the WAVs only.
std::vector<RungCheck> check_rungs(const std::vector<PairVerdict>& verdicts,
                                   const std::vector<std::size_t>& in_sync, const Files& files,
                                   const std::function<void()>& one_done) {
  std::vector<RungCheck> rungs(in_sync.size());
  ordered_parallel_for(
      static_cast<int>(in_sync.size()), worker_count(),
      [&](int j) {
        throw_if_stop_requested();
        const PairVerdict& v = verdicts[in_sync[static_cast<std::size_t>(j)]];
        RungCheck& c = rungs[static_cast<std::size_t>(j)];
        const double offset = v.result.offset;
        c.repeats = files.repeats(v, offset, offset, offset);
        if (c.repeats.repeats() && c.repeats.stands_out && !same_rung(c.repeats, offset) &&
            files.refined)
          c.moved = files.refine(v, c.repeats.best_rung);
      },
      [&](int) { one_done(); });
  return rungs;
}

// Pairs in sync over sound that repeats: the decision may have taken any offset a phrase
// away from the true one, so the offset the sound prefers replaces it, and where no
// offset stands out the pair goes. Every pair checked gets its second-look text.
void settle_on_rungs(std::vector<PairVerdict>& verdicts, const std::vector<std::size_t>& in_sync,
                     const std::vector<RungCheck>& rungs, const Files& files) {
  for (std::size_t j = 0; j < in_sync.size(); ++j) {
    PairVerdict& v = verdicts[in_sync[j]];
    const RungCheck& c = rungs[j];
    v.second_look = repeat_log_text(c.repeats) + "\n";
    // A pair that rests on its hits alone, while its sound lines up best elsewhere, rests on
    // chance hits. Measured: the sound of the true pairs without a good window lined up
    // best 0.011 and 0.103 s from their decided offsets, that of the false ones 0.6 to 14 s.
    if (files.unmeasured(v) && c.repeats.measured &&
        std::abs(c.repeats.best_lag - v.result.offset) > kMostUnmeasuredContradictionSec) {
      v.in_sync = false;
      v.second_look += "no good window, and the sound lines up best at " +
                       fixed_text(c.repeats.best_lag, 2) + " s: not in sync\n";
      continue;
    }
    if (!c.repeats.repeats()) continue;
    if (!c.repeats.stands_out) {
      v.in_sync = false;
      v.second_look += "second look: no offset stands out, not in sync\n";
      continue;
    }
    if (same_rung(c.repeats, v.result.offset)) continue;
    // A move rests on a few thousandths of correlation; where the refinement was asked
    // for, it must confirm the new offset as it would a second-look candidate.
    if (files.refined && !c.moved.refined) {
      v.in_sync = false;
      v.second_look += "second look: " + refinement_log_line(c.moved) + " at " +
                       fixed_text(c.repeats.best_rung, 2) + " s, not in sync\n";
      continue;
    }
    PairResult& p = v.result;
    const double was = p.offset;
    p.offset = c.moved.refined ? c.moved.offset : c.repeats.best_rung;
    p.refined = c.moved.refined;
    p.implied = false;
    p.drift_ppm = c.moved.drift_ppm;
    p.good_windows = c.moved.good_windows;
    p.windows = c.moved.refined ? c.moved.samples : std::vector<OffsetSample>{};
    p.second_look = true;
    if (files.refined) v.refinement = refinement_log_line(c.moved);
    v.second_look += "second look: moved from " + fixed_text(was, 3) + " s to " +
                     fixed_text(p.offset, 3) + " s\n";
  }
}

// The groups as the measured pairs in sync place them.
Placements measured_placements(const std::vector<PairVerdict>& verdicts, const Files& files) {
  Placements placements(files.measures.files);
  double gap = 0.0;
  for (const PairVerdict& v : verdicts)
    if (files.known(v) && v.judged && v.in_sync && v.result.refined)
      link(placements, v, v.result.offset, gap, kMostContradictionSec);
  return placements;
}

// The groups of `measured` with the pairs in sync the refinement could not refine. Such a
// pair rests on the hit counts alone: where it goes against its group, the hits were
// chance ones, and it goes. (Pairs without any measuring keep their place.)
Placements place_pairs_in_sync(std::vector<PairVerdict>& verdicts, const Files& files,
                               Placements placements) {
  double gap = 0.0;
  for (PairVerdict& v : verdicts) {
    if (!files.known(v) || !v.judged || !v.in_sync || !files.unrefined(v)) continue;
    if (link(placements, v, v.result.offset, gap, kMostUnmeasuredContradictionSec)) continue;
    v.in_sync = false;
    v.second_look += std::string(v.result.good_windows == 0 ? "no good window" : "too few good windows") +
                     ", and " + fixed_text(gap, 2) +
                     " s against the pairs in sync that place its files: not in sync\n";
  }
  return placements;
}

// The candidates of the turned-down pairs that no earlier phase looked at, those of one
// verdict next to each other. Two files the `measured` pairs in sync already place against
// each other gain nothing from one more pair: it could place neither anew, and the clocks
// have their windows.
std::vector<Candidate> gather_candidates(const std::vector<PairVerdict>& verdicts, const Files& files,
                                         const Placements& measured) {
  const auto short_overlap = [&](const PairVerdict& v, double offset) {
    const double seconds = files.overlap(v, offset);
    return seconds > 0.0 && seconds <= kLongestOverlapSec;
  };
  std::vector<Candidate> candidates;
  for (std::size_t k = 0; k < verdicts.size(); ++k) {
    const PairVerdict& v = verdicts[k];
    if (!files.known(v) || !v.judged || v.in_sync || !v.second_look.empty()) continue;
    if (measured.together(static_cast<std::size_t>(v.shorter), static_cast<std::size_t>(v.longer)))
      continue;
    const double most_hit = v.summary.most_hit_offset;
    const double chosen = v.summary.offset;
    if (has_rival(v.summary)) {
      // Both are offsets the sound lines up at; which one, if either, it prefers is
      // found from the sound between and around them, taking the shorter file's sound
      // where the candidate with more of it in the overlap puts it.
      Candidate c(k, files.overlap(v, most_hit) >= files.overlap(v, chosen) ? most_hit : chosen);
      c.rival = true;
      c.low = std::min(most_hit, chosen);
      c.high = std::max(most_hit, chosen);
      candidates.push_back(c);
      continue;
    }
    if (most_hit != OffsetSummary::kNoOffset && short_overlap(v, most_hit))
      candidates.emplace_back(k, most_hit);
    if (chosen != OffsetSummary::kNoOffset && short_overlap(v, chosen) &&
        (most_hit == OffsetSummary::kNoOffset || std::abs(chosen - most_hit) > kSameCandidateSec))
      candidates.emplace_back(k, chosen);
  }
  return candidates;
}

// Refines every candidate, several at once; a rival is first moved to the offset its
// sound singles out, and an accepted plain one has its sound checked for repeats.
void measure_candidates(std::vector<Candidate>& candidates, const std::vector<PairVerdict>& verdicts,
                        const Files& files, const std::function<void()>& one_done) {
  ordered_parallel_for(
      static_cast<int>(candidates.size()), worker_count(),
      [&](int j) {
        throw_if_stop_requested();
        Candidate& c = candidates[static_cast<std::size_t>(j)];
        const PairVerdict& v = verdicts[c.verdict];
        if (c.rival) {
          c.repeats = files.repeats(v, c.offset, c.low, c.high);
          // Its correlation is paid for already, so a long overlap is refined too.
          if (!c.repeats.stands_out) return;
          c.offset = c.repeats.best_rung;
        }
        c.measured = files.refine(v, c.offset, RefineScope::kWhileItCanRefine);
        if (c.measured.refined && !c.rival)
          c.repeats = files.repeats(v, c.measured.offset, c.measured.offset, c.measured.offset);
      },
      [&](int) { one_done(); });
}

// The first of one verdict's candidates [first, end) that held and may be trusted, or
// null; `two_offsets` tells whether another held at a different offset. Logs each check.
const Candidate* passed_candidate(PairVerdict& v, const std::vector<Candidate>& candidates,
                                  std::size_t first, std::size_t end, bool& two_offsets) {
  const Candidate* passed = nullptr;
  two_offsets = false;
  for (std::size_t c = first; c < end; ++c) {
    const Candidate& candidate = candidates[c];
    const Refinement& r = candidate.measured;
    if (candidate.rival) {
      v.second_look += "second look between " + fixed_text(candidate.low, 2) + " s and " +
                       fixed_text(candidate.high, 2) + " s, hits alike: " +
                       repeat_log_text(candidate.repeats) + "\n";
      if (r.windows == 0 && !r.refined) continue;
    }
    v.second_look += "second look at " + fixed_text(candidate.offset, 2) +
                     " s: " + refinement_log_line(r) + ", weakest peak " +
                     fixed_text(r.weakest_psr, 1) + "\n";
    if (!r.refined) continue;
    if (!candidate.rival && !trusted(candidate.repeats, r.offset)) {
      v.second_look += "second look: " + repeat_log_text(candidate.repeats) + ", not trusted\n";
      continue;
    }
    if (passed != nullptr && std::abs(passed->measured.offset - r.offset) > kSameCandidateSec)
      two_offsets = true;
    if (passed == nullptr) passed = &candidates[c];
  }
  return passed;
}

// Puts each verdict whose candidate held, at one offset and in agreement with its group,
// in sync at the refined offset.
void settle_candidates(std::vector<PairVerdict>& verdicts, const std::vector<Candidate>& candidates,
                       Placements& placements) {
  double gap = 0.0;
  for (std::size_t first = 0; first < candidates.size();) {
    std::size_t end = first;
    while (end < candidates.size() && candidates[end].verdict == candidates[first].verdict) ++end;
    PairVerdict& v = verdicts[candidates[first].verdict];
    bool two_offsets = false;
    const Candidate* passed = passed_candidate(v, candidates, first, end, two_offsets);
    first = end;
    if (passed == nullptr) continue;
    const Refinement& r = passed->measured;
    if (two_offsets) {
      v.second_look += "second look: two offsets hold, the pair stays out\n";
      continue;
    }
    if (!link(placements, v, r.offset, gap, kMostContradictionSec)) {
      v.second_look += "second look: contradicts its group by " + fixed_text(gap * 1000.0, 1) +
                       " ms, the pair stays out\n";
      continue;
    }
    v.second_look += "second look: found in sync\n";
    v.in_sync = true;
    PairResult& p = v.result;
    p = decided_result(v, r.offset);
    p.refined = true;
    p.drift_ppm = r.drift_ppm;
    p.good_windows = r.good_windows;
    p.windows = r.samples;
    p.second_look = true;
    v.refinement = refinement_log_line(r);
  }
}

}  // namespace

void second_look(std::vector<PairVerdict>& verdicts, const std::vector<std::string>& analysis,
                 const std::vector<float>& durations, bool refined, const PairsDone& done) {
  second_look(verdicts, measured_on(analysis), durations, refined, done);
}

void second_look(std::vector<PairVerdict>& verdicts, const SoundMeasures& measures,
                 const std::vector<float>& durations, bool refined, const PairsDone& done) {
  const Files files{measures, durations, std::min(measures.files, durations.size()), refined};
  constexpr int kWhole = 1000;
  constexpr double kRepeatsShare = 0.6;
  int finished = 0, planned = 0;
  const auto report = [&](double from, double share) {
    if (done && planned > 0)
      done(static_cast<int>(kWhole * (from + share * finished / planned)), kWhole);
  };
  std::vector<bool> checked(verdicts.size(), false);
  for (std::vector<std::size_t> in_sync = in_sync_to_check(verdicts, checked, files); !in_sync.empty();
       in_sync = in_sync_to_check(verdicts, checked, files)) {
    for (std::size_t k : in_sync) checked[k] = true;
    planned += static_cast<int>(in_sync.size());
    const auto one_done = [&] {
      ++finished;
      report(0.0, kRepeatsShare);
    };
    settle_on_rungs(verdicts, in_sync, check_rungs(verdicts, in_sync, files, one_done), files);
  }
  // Taking out unrefined pairs leaves the measured ones as they are.
  const Placements measured = measured_placements(verdicts, files);
  Placements placements = place_pairs_in_sync(verdicts, files, measured);
  std::vector<Candidate> candidates = gather_candidates(verdicts, files, measured);
  finished = 0;
  planned = static_cast<int>(candidates.size());
  measure_candidates(candidates, verdicts, files, [&] {
    ++finished;
    report(kRepeatsShare, 1.0 - kRepeatsShare);
  });
  settle_candidates(verdicts, candidates, placements);
}
