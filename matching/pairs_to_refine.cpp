#include "matching/pairs_to_refine.h"

#include "core/format.h"
#include "matching/placements.h"
#include "matching/refine.h"

#include <algorithm>
#include <cmath>

namespace {

bool in_sync(const PairVerdict& v) { return v.judged && v.in_sync; }

std::size_t at(int entry) { return static_cast<std::size_t>(entry); }

// Sound the pair shares at its offset, in seconds; 0 for an entry without a duration.
double shared_sound(const PairVerdict& v, const std::vector<float>& durations) {
  if (at(v.shorter) >= durations.size() || at(v.longer) >= durations.size()) return 0.0;
  const double offset = v.result.offset;
  return std::min<double>(durations[at(v.shorter)], durations[at(v.longer)] + offset) -
         std::max(0.0, offset);
}

// The files the refined pairs among those tried place against each other.
Placements refined_placements(const std::vector<PairVerdict>& verdicts, std::size_t files,
                              const std::vector<bool>& tried) {
  Placements placements(files);
  double gap = 0.0;
  for (std::size_t k = 0; k < verdicts.size(); ++k) {
    const PairVerdict& v = verdicts[k];
    // A refined pair that contradicts the others is the clocks' to leave out; here it
    // only joins its files.
    if (tried[k] && in_sync(v) && v.result.refined)
      placements.link(at(v.shorter), at(v.longer), v.result.offset, gap, kSearchHalfWidthSec);
  }
  return placements;
}

}  // namespace

std::vector<std::size_t> pairs_to_refine(const std::vector<PairVerdict>& verdicts,
                                         const std::vector<float>& durations,
                                         const std::vector<bool>& tried) {
  std::size_t files = durations.size();
  std::vector<std::size_t> ranked;
  for (std::size_t k = 0; k < verdicts.size(); ++k) {
    const PairVerdict& v = verdicts[k];
    if (!in_sync(v)) continue;
    files = std::max({files, at(v.shorter) + 1, at(v.longer) + 1});
    if (!tried[k]) ranked.push_back(k);
  }
  std::stable_sort(ranked.begin(), ranked.end(), [&](std::size_t a, std::size_t b) {
    return shared_sound(verdicts[a], durations) > shared_sound(verdicts[b], durations);
  });

  // What each file still lacks, counting those returned now as if they will refine.
  std::vector<int> wanted(files, kRefinedPairsPerFile);
  for (std::size_t k = 0; k < verdicts.size(); ++k) {
    const PairVerdict& v = verdicts[k];
    if (tried[k] && in_sync(v) && v.result.refined) {
      --wanted[at(v.shorter)];
      --wanted[at(v.longer)];
    }
  }
  const Placements refined = refined_placements(verdicts, files, tried);
  Placements reached = refined;
  std::vector<std::size_t> chosen;
  std::vector<bool> taken(ranked.size(), false);
  double gap = 0.0;
  const auto take = [&](std::size_t r) {
    const PairVerdict& v = verdicts[ranked[r]];
    taken[r] = true;
    chosen.push_back(ranked[r]);
    --wanted[at(v.shorter)];
    --wanted[at(v.longer)];
    reached.link(at(v.shorter), at(v.longer), v.result.offset, gap, kSearchHalfWidthSec);
  };
  for (std::size_t r = 0; r < ranked.size(); ++r) {
    const PairVerdict& v = verdicts[ranked[r]];
    if (wanted[at(v.shorter)] > 0 || wanted[at(v.longer)] > 0) take(r);
  }
  for (std::size_t r = 0; r < ranked.size(); ++r) {
    if (taken[r]) continue;
    const PairVerdict& v = verdicts[ranked[r]];
    if (!reached.together(at(v.shorter), at(v.longer))) {
      take(r);
      continue;
    }
    // Placed together only by pairs about to be refined: judged once they are.
    if (!refined.together(at(v.shorter), at(v.longer))) continue;
    // The measured pairs say something else, and refining this one tells which is right.
    if (std::abs(refined.gap(at(v.shorter), at(v.longer), v.result.offset)) > kSearchHalfWidthSec) take(r);
  }
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

void mark_implied(std::vector<PairVerdict>& verdicts, std::size_t files, const std::vector<bool>& tried) {
  for (const PairVerdict& v : verdicts)
    if (in_sync(v)) files = std::max({files, at(v.shorter) + 1, at(v.longer) + 1});
  const Placements refined = refined_placements(verdicts, files, tried);
  for (std::size_t k = 0; k < verdicts.size(); ++k) {
    PairVerdict& v = verdicts[k];
    if (tried[k] || !in_sync(v) || !refined.together(at(v.shorter), at(v.longer))) continue;
    const double gap = refined.gap(at(v.shorter), at(v.longer), v.result.offset);
    v.result.implied = true;
    v.refinement = "not refined: refined pairs place its files " + fixed_text(gap * 1000.0, 1) +
                   " ms from offset " + fixed_text(v.result.offset * 1000.0, 3) + " ms";
  }
}
