#pragma once
// Sub-frame refinement of a decided offset, measured on the pair's two analysis WAVs.

#include "matching/offset_decision.h"

#include <functional>
#include <string>
#include <vector>

// How far from the decided offset the refinement searches: the decision's 24 ms frame
// grid leaves it up to about a tenth of a second early, and a quarter second either side
// covers that with room to spare.
constexpr double kSearchHalfWidthSec = 0.25;

// What the refinement measured for one pair found in sync.
struct Refinement {
  bool refined = false;     // accepted; otherwise `offset` is the decided offset unchanged
  double offset = 0.0;      // seconds, shorter-file time minus longer-file time
  double drift_ppm = 0.0;   // slope of the good windows' offsets against shorter-file time
  double spread_ms = 0.0;   // range of the good windows' offsets about that slope's line
  int good_windows = 0;     // windows the line rests on: a sharp peak inside the searched lags
  int windows = 0;          // windows measured: all those laid over the overlap, unless the
                            // scope let it stop (0: no overlap or unreadable)
  double weakest_psr = 0.0;  // peak sharpness of the least sharp window the line rests on
  std::vector<OffsetSample> samples;  // those windows' centres and offsets
};

// Re-measures the offset of a pair within ±0.25 s of `decided_offset` (seconds, the
// shorter file's time minus the longer file's time) by phase-transform cross-correlation
// over windows of the overlap. Files are read, never changed. Never throws: unreadable
// files or an overlap under 1 s give refined = false, offset = decided_offset, windows = 0.
//
// A pair in sync keeps its good windows and drift even unrefined, so it is measured over
// every window. A second-look candidate, most often a chance one, needs only to know
// whether it refines: it stops once too few windows are left to give the good ones
// needed. A candidate that refines measures the same windows either way.
enum class RefineScope { kEveryWindow, kWhileItCanRefine };
Refinement refine_offset(const std::string& shorter_wav, const std::string& longer_wav,
                         double decided_offset, RefineScope scope = RefineScope::kEveryWindow);

// The log line of one pair, e.g. "refined offset -12345.678 ms, drift 0.42 ppm, 6 of 6
// windows good"; "unrefined" when the decided offset stays.
std::string refinement_log_line(const Refinement& r);

// Refines the offsets of the verdicts in sync, several pairs at once, from the analysis
// WAVs (which must still exist) and the entries' `durations` (seconds): each file's pairs
// until it has a few refined ones, and every pair those do not place within reach of its
// decided offset (see pairs_to_refine.h); the others are marked implied. Each pair tried
// takes what was measured, and its log line is kept for the verdict's log.
// `done(i, n)`: i of the n pairs chosen so far measured (n grows when a round adds more).
using PairsDone = std::function<void(int i, int n)>;
void refine_in_sync(std::vector<PairVerdict>& verdicts, const std::vector<std::string>& analysis,
                    const std::vector<float>& durations, const PairsDone& done = {});
// The same, measuring through `measures` (sound_measures.h).
struct SoundMeasures;
void refine_in_sync(std::vector<PairVerdict>& verdicts, const SoundMeasures& measures,
                    const std::vector<float>& durations, const PairsDone& done = {});
