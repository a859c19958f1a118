#pragma once
// A second look at the pairs the decision turned down. A file that shares only a few
// seconds of sound with one other file gets too few hits for the decision, even when its
// most-hit candidate is the true offset; the refinement's correlation can tell such a
// candidate from a chance one where the hit counts cannot.

#include "matching/offset_decision.h"
#include "matching/refine.h"

#include <string>
#include <vector>

struct SoundMeasures;

// First, every pair in sync that shares at most three minutes is checked for sound that
// repeats (see repeats.h): where it does, the pair moves to the offset that stands out
// (which the refinement, when it runs, must confirm there), or leaves sync. Then, for every judged pair not in sync, checks its most-hit candidate
// (and the decision's own, when it differs) with the refinement, where it puts at most
// 60 s of the two files (of `durations` seconds) side by side. Where both candidates have
// hits alike, the sound around them picks the one candidate to check, if any stands out,
// however long the overlap;
// where both hold at different offsets, neither is trusted, nor is one that sound
// repeating around it does not single out. Otherwise a candidate the refinement accepts
// puts the pair in sync at the refined offset, marked as found on the second look, unless
// it contradicts by more than 5 ms where the pairs already in sync place its two files
// (the pair then stays out). Every check goes to the verdict's log text. Before the
// candidates, a pair in sync whose refinement found no good window is taken out when it
// places its files more than 0.25 s from where the measured pairs in sync place them, or
// from where its own sound lines up best.
// `refined` tells whether the refinement measured the pairs in sync first: without it, no
// pair counts as lacking a good window, and a move needs no refinement's confirmation.
// Reads the analysis WAVs, which must still exist; pairs are checked several at once.
// `done(i, 1000)`: how far it has come, the checks for repeats counted as the first 60%
// (about their share on a shoot of hundreds of clips), the candidates as the rest.
void second_look(std::vector<PairVerdict>& verdicts, const std::vector<std::string>& analysis,
                 const std::vector<float>& durations, bool refined, const PairsDone& done = {});
// The same, measuring through `measures` (sound_measures.h).
void second_look(std::vector<PairVerdict>& verdicts, const SoundMeasures& measures,
                 const std::vector<float>& durations, bool refined, const PairsDone& done = {});
