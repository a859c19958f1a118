#pragma once
// One clock per device: every device's offset and rate against its group's reference
// device, solved from all of the group's pairs at once so that any two members agree.

#include "core/results.h"

#include <string>
#include <vector>

// Solves the group's device clocks from `pairs` (those with both files in the group count)
// and places every member by it: `exact_start` (the earliest at 0) and `rate_ppm` (its
// device's). The reference is the device with the most video, else the most sound. A
// sound `t` seconds into a member sits at exact_start + t / (1 + rate_ppm·1e-6) on the
// timeline. Pairs that contradict the others by more than a refined offset can be off
// are left out one at a time, the worst first, as long as that splits nothing off; the
// group's `clocks` and `dropped` say what was solved. Returns false, and members keep
// their places, when the group cannot be solved.
bool solve_device_clocks(SyncGroup& group, const std::vector<PairResult>& pairs);

// The log lines of a solved group: one per device, then one per pair left out.
std::vector<std::string> clock_log_lines(const SyncGroup& group);
