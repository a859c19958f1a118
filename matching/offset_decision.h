#pragma once
// Offset decision: summarise a match list and judge the pair.

#include "core/types.h"

#include <functional>
#include <string>
#include <vector>

// Offset summary of 7 floats: best offset (s), its sections, most-hit offset (s), most
// hits, best hits, best range, best score; 100000000, 1, 100000000, 1, 1, 1, 1 when no
// candidate qualifies.
std::vector<float> finalcut(MatchList list);

// How much of the two recordings lies side by side once aligned by the summary's offset
// (seconds), and that overlap in sections of 1/32 of the shorter file.
struct PairOverlap {
  float presek = 0.0f;            // overlap in seconds; negative when they do not meet
  float traenje_small = 1.0f;     // the shorter duration, 1 when it is 0
  float sekcii_vo_presek = 0.0f;  // the overlap in sections
  float confidence = 0.0f;        // sections of overlap per supporting section
};
PairOverlap pair_overlap(const std::vector<float>& summary, float longer_seconds,
                         float shorter_seconds);

// The six tests of a pair: the offset is supported over enough of the overlap, by enough
// hits, in at least 3 sections, and the best and most-hit offsets agree within 1 s.
bool pair_in_sync(const std::vector<float>& summary, const PairOverlap& overlap);

// Called for every pair found in sync with its entry positions and decided offset
// (seconds); may change the offset. A non-empty result is logged after the pair's verdict.
// Pairs are refined several at once: the refiner is called from several threads.
using PairRefiner = std::function<std::string(int shorter, int longer, float& offset)>;

// Judges every slot, logs each verdict and appends one result row of 6 values
// (shorter, longer, offset s, sections, confidence, most hits) per pair in sync.
void decide_pairs(const std::vector<PairSlot>& slots, int n, const std::vector<float>& durations,
                  const std::vector<std::string>& analysis, std::vector<float>& results,
                  const PairRefiner& refine = {});
