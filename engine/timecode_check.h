#pragma once
// Timecode as a check on the sound: cameras and recorders whose clocks were jammed agree
// with the pairs within a frame; a clock that was never set, or set wrong, does not.
// The sound places the files either way.

#include "core/results.h"
#include "media/streams.h"

#include <vector>

// One check per pair of `pairs` (reversed duplicates already left out) whose two files
// both carry a timecode; `framerates` as the frame-rate list has them. Logs a line for
// each.
std::vector<TimecodeCheck> check_timecodes(const std::vector<PairResult>& pairs,
                                           const std::vector<MediaStart>& starts,
                                           const std::vector<std::string>& framerates,
                                           const std::vector<std::string>& files);

// What the user is told when some pairs' timecodes disagree with their sound; "" when
// none do.
std::string timecode_notice(const std::vector<TimecodeCheck>& checks);
