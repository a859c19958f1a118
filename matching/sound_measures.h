#pragma once
// What the refinement and the second look measure of a pair's sound, behind one seam: each
// measurement is a function of the two files' sound and its arguments only, so a run may
// answer one from what an earlier run measured of the same two files.

#include "matching/refine.h"
#include "matching/repeats.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct SoundMeasures {
  std::size_t files = 0;  // entries of the run; pairs name them by position
  // refine_offset of the pair's two analysis WAVs.
  std::function<Refinement(int shorter, int longer, double decided_offset, RefineScope scope)> refine;
  // check_repeats of the pair's two analysis WAVs.
  std::function<RepeatCheck(int shorter, int longer, double offset, double low, double high)>
      repeats;
};

// Measured on the entries' analysis WAVs every time.
SoundMeasures measured_on(const std::vector<std::string>& analysis);
