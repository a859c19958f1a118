#pragma once
// Sync groups: the files linked by pairs in sync, placed on a common start.

#include "core/results.h"

#include <Eigen/Dense>

#include <map>
#include <vector>

// The files named by a clean table's columns (rows 0 and 1), ascending, once each.
std::vector<int> unikatni(Eigen::MatrixXf table);
// The columns of every group of linked files.
std::vector<std::vector<int>> grupiraj(Eigen::MatrixXf clean);
// Every group's files with their starts in seconds against the group's first column.
std::vector<std::map<int, float>> groopy(Eigen::MatrixXf clean);

// Of two pairs naming the same files in opposite order, the earlier one.
std::vector<PairResult> without_reversed_duplicates(const std::vector<PairResult>& pairs);

// The timeline of a run from its clean pairs: every group with its members (taken from
// `entries`, one per file-list entry) in ascending entry position, the earliest at 0, and
// the media entries in no group as unsynced.
Timeline build_timeline(const std::vector<PairResult>& clean,
                        const std::vector<TimelineMember>& entries);

// Solves every group's device clocks (device_clocks.h) from the clean pairs, and logs them.
// A member that a pair the clocks left out linked more than 1 s from where the other
// pairs put it takes that place as its start too, for the documents that place by links.
void solve_clocks(Timeline& timeline, const std::vector<PairResult>& clean);

// Prints the synced and the unsynced files, and logs the unsynced ones.
void report_timeline(const Timeline& timeline);
