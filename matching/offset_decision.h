#pragma once
// Offset decision: summarise a match list and judge the pair.

#include "engine/types.h"

#include <string>
#include <vector>

// Offset summary of 7 floats: best offset (s), its sections, most-hit offset (s), most
// hits, best hits, best range, best score; 100000000, 1, 100000000, 1, 1, 1, 1 when no
// candidate qualifies.
std::vector<float> finalcut(MatchList list);

// Judges every slot, logs each verdict and appends one result row of 6 values
// (shorter, longer, offset s, sections, confidence, most hits) per pair in sync.
void decide_pairs(const std::vector<PairSlot>& slots, int n, const std::vector<float>& durations,
                  const std::vector<std::string>& analysis, std::vector<float>& results);
