#pragma once
// Which pairs in sync the refinement measures. Every file needs a few measured pairs: the
// clocks rest on their windows, and a pair that disagrees with the others is told only
// where there are others. Beyond that a pair adds nothing the measured ones do not say,
// and on a shoot of hundreds of clips most pairs are such: phones that film the same
// minutes meet each other as well as the recorder and the cameras.

#include "matching/offset_decision.h"

#include <cstddef>
#include <vector>

// Measured pairs sought per file.
constexpr int kRefinedPairsPerFile = 3;

// The verdicts in sync (positions in `verdicts`) to refine next, given those `tried`
// already. Ranked by how much sound they share (`durations`, seconds per entry), longest
// first: the pairs that bring a file its first kRefinedPairsPerFile refined ones; then any
// pair whose files the refined pairs (and those returned with it) do not place together,
// or place further than the refinement searches from its decided offset. Empty once every
// pair not tried is implied by the refined ones; call again after refining those returned.
std::vector<std::size_t> pairs_to_refine(const std::vector<PairVerdict>& verdicts,
                                         const std::vector<float>& durations,
                                         const std::vector<bool>& tried);

// Marks every pair in sync not `tried` as implied by the refined ones, with its log line:
// how far they place its files from its offset. For after pairs_to_refine came back empty.
void mark_implied(std::vector<PairVerdict>& verdicts, std::size_t files, const std::vector<bool>& tried);
