#include "matching/second_look.h"

#include "core/format.h"
#include "core/parallel.h"
#include "core/process.h"
#include "core/stop.h"
#include "matching/refine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>

namespace {

// A candidate this close to another is the same candidate (the match words' grid is 10 ms).
constexpr double kSameCandidateSec = 0.005;
// How far a second-look pair may disagree with where the pairs in sync place its files.
constexpr double kMostContradictionSec = 0.005;
// The same for a pair in sync whose refinement found no good window: its offset is the
// decision's, up to 100 ms early, so only a gap beyond the refinement's own search of
// ±0.25 s says that its hits were chance ones (the false pairs measured were 0.30 s to
// 290 s off).
constexpr double kMostUnmeasuredContradictionSec = 0.25;
// Only candidates that put under this much sound side by side are looked at again: the
// hits of a longer overlap are many enough for the decision, and the refinement of a long
// overlap costs six 15 s windows. Measured: every true pair the second look found shared
// 3 to 28 s; checking all candidates made a run of 12 files of three events half as
// expensive again in CPU.
constexpr double kLongestOverlapSec = 60.0;
// A decision's chosen candidate with more than this share of the most-hit candidate's
// hits is its rival, not a chance one: music built of a repeating phrase gives several
// offsets a phrase apart that the correlation accepts alike. Measured: true short
// overlaps had rivals of 0.004 to 0.26 of the most hits, repeating music 0.58 to 0.99.
constexpr double kRivalHitShare = 0.5;

struct Candidate {
  std::size_t verdict;
  double offset;
  Refinement measured;
};

// Files linked by pairs, each with its start against its group's root, so that a new
// pair can be checked against what the group already says.
class Placements {
 public:
  explicit Placements(std::size_t files) : parent_(files), start_(files, 0.0) {
    std::iota(parent_.begin(), parent_.end(), 0);
  }

  // Root of `file`; `start` becomes the file's start against it.
  std::size_t root(std::size_t file, double& start) {
    start = 0.0;
    while (parent_[file] != file) {
      start += start_[file];
      file = parent_[file];
    }
    return file;
  }

  // Links the pair (shorter starts at longer's start minus `offset`). Returns false,
  // with `gap` set, when both are linked already and the pair disagrees beyond `limit`.
  bool link(std::size_t shorter, std::size_t longer, double offset, double& gap,
            double limit = kMostContradictionSec) {
    double s = 0.0;
    double l = 0.0;
    const std::size_t rs = root(shorter, s);
    const std::size_t rl = root(longer, l);
    gap = 0.0;
    if (rs == rl) {
      gap = (s - l) - (-offset);
      return std::abs(gap) <= limit;
    }
    // Hang the shorter file's group under the longer one's root.
    parent_[rs] = rl;
    start_[rs] = l - offset - s;
    return true;
  }

 private:
  std::vector<std::size_t> parent_;
  std::vector<double> start_;
};

bool has_rival(const OffsetSummary& summary) {
  return std::abs(static_cast<double>(summary.offset) - summary.most_hit_offset) > kSameCandidateSec &&
         summary.hits > kRivalHitShare * summary.most_hits;
}

}  // namespace

void second_look(std::vector<PairVerdict>& verdicts, const std::vector<std::string>& analysis,
                 const std::vector<float>& durations) {
  const std::size_t files = std::min(analysis.size(), durations.size());
  const auto known = [&](const PairVerdict& v) {
    return v.shorter >= 0 && static_cast<std::size_t>(v.shorter) < files && v.longer >= 0 &&
           static_cast<std::size_t>(v.longer) < files;
  };
  const auto link = [](Placements& placements, const PairVerdict& v, double offset, double& gap,
                       double limit) {
    return placements.link(static_cast<std::size_t>(v.shorter), static_cast<std::size_t>(v.longer),
                           offset, gap, limit);
  };
  // The groups as the measured pairs in sync place them. A pair the refinement found no
  // good window for rests on the hit counts alone: where it goes against its group, the
  // hits were chance ones, and it goes. (Pairs without any measuring keep their place.)
  Placements placements(analysis.size());
  double gap = 0.0;
  for (const PairVerdict& v : verdicts)
    if (known(v) && v.judged && v.in_sync && v.result.refined)
      link(placements, v, v.result.offset, gap, kMostContradictionSec);
  for (PairVerdict& v : verdicts) {
    const bool unmeasured = !v.refinement.empty() && !v.result.refined && v.result.good_windows == 0;
    if (!known(v) || !v.judged || !v.in_sync || !unmeasured) continue;
    if (link(placements, v, v.result.offset, gap, kMostUnmeasuredContradictionSec)) continue;
    v.in_sync = false;
    v.second_look = "no good window, and " + fixed_text(gap, 2) +
                    " s against the pairs in sync that place its files: not in sync\n";
  }

  std::vector<Candidate> candidates;
  for (std::size_t k = 0; k < verdicts.size(); ++k) {
    const PairVerdict& v = verdicts[k];
    if (!known(v) || !v.judged || v.in_sync || !v.second_look.empty()) continue;
    const double most_hit = v.summary.most_hit_offset;
    const double chosen = v.summary.offset;
    if (has_rival(v.summary)) {
      verdicts[k].second_look = "no second look: " + std::to_string(v.summary.most_hits) +
                                " hits at " + fixed_text(most_hit, 2) + " s and " +
                                std::to_string(v.summary.hits) + " at " + fixed_text(chosen, 2) +
                                " s are alike\n";
      continue;
    }
    // Shorter-file time ts meets longer-file time ts - offset.
    const auto short_overlap = [&](double offset) {
      const double shorter = durations[static_cast<std::size_t>(v.shorter)];
      const double longer = durations[static_cast<std::size_t>(v.longer)];
      const double overlap = std::min(shorter, longer + offset) - std::max(0.0, offset);
      return overlap > 0.0 && overlap <= kLongestOverlapSec;
    };
    if (most_hit != OffsetSummary::kNoOffset && short_overlap(most_hit))
      candidates.push_back({k, most_hit, {}});
    if (chosen != OffsetSummary::kNoOffset && short_overlap(chosen) &&
        (most_hit == OffsetSummary::kNoOffset || std::abs(chosen - most_hit) > kSameCandidateSec))
      candidates.push_back({k, chosen, {}});
  }

  ordered_parallel_for(
      static_cast<int>(candidates.size()), worker_count(),
      [&](int j) {
        throw_if_stop_requested();
        Candidate& c = candidates[static_cast<std::size_t>(j)];
        const PairVerdict& v = verdicts[c.verdict];
        c.measured = refine_offset(analysis[static_cast<std::size_t>(v.shorter)],
                                   analysis[static_cast<std::size_t>(v.longer)], c.offset);
      },
      [](int) {});

  // Candidates of one verdict are next to each other.
  for (std::size_t first = 0; first < candidates.size();) {
    std::size_t end = first;
    while (end < candidates.size() && candidates[end].verdict == candidates[first].verdict) ++end;
    PairVerdict& v = verdicts[candidates[first].verdict];
    const Candidate* passed = nullptr;
    bool two_offsets = false;
    for (std::size_t c = first; c < end; ++c) {
      const Refinement& r = candidates[c].measured;
      v.second_look += "second look at " + fixed_text(candidates[c].offset, 2) +
                       " s: " + refinement_log_line(r) + ", weakest peak " +
                       fixed_text(r.weakest_psr, 1) + "\n";
      if (!r.refined) continue;
      if (passed != nullptr && std::abs(passed->measured.offset - r.offset) > kSameCandidateSec)
        two_offsets = true;
      if (passed == nullptr) passed = &candidates[c];
    }
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
    p.shorter = v.shorter;
    p.longer = v.longer;
    p.offset = r.offset;
    p.sections = v.summary.sections;
    p.confidence = v.overlap.confidence;
    p.hits = v.summary.most_hits;
    p.refined = true;
    p.drift_ppm = r.drift_ppm;
    p.good_windows = r.good_windows;
    p.windows = r.samples;
    p.second_look = true;
    v.refinement = refinement_log_line(r);
  }
}
