#pragma once
// Deciding the pairs: every match list judged, the pairs in sync refined below a frame
// when asked, a second look at what the decision left out, and every verdict logged.

#include "core/types.h"
#include "matching/offset_decision.h"

#include <string>
#include <vector>

// The verdicts on the pairs of `slots` (which are used up), in slot order, from the
// analysis WAVs (which must still exist) and the entries' `durations` (seconds).
// `refine`: measure the pairs in sync below one frame. Progress: ("decide", i, 1000) as
// judging, refining and the second look go on.
std::vector<PairVerdict> decide_pairs(std::vector<PairSlot> slots,
                                      const std::vector<std::string>& analysis,
                                      const std::vector<float>& durations, bool refine,
                                      const ProgressFn& progress);
// The same, with the refinement and the second look measuring through `measures`, and
// the lists judged through `judged`.
struct SoundMeasures;
std::vector<PairVerdict> decide_pairs(std::vector<PairSlot> slots,
                                      const std::vector<std::string>& analysis,
                                      const std::vector<float>& durations, bool refine,
                                      const ProgressFn& progress, const SoundMeasures& measures,
                                      const KeptJudgements& judged = {});
