#pragma once
// Pairwise matching of reduced landmark tables into match lists.

#include "core/types.h"

#include <cstdint>
#include <vector>

// 50 MB a hundred entries: the whole dump of runs of a few files, bounded on big shoots.
inline constexpr std::uint64_t kMatchDumpBytesPerEntry = 512 * 1024;
inline constexpr const char* kMatchDumpVariable = "BRENVIK_MATCH_DUMP";

// Match list of one pair: 9999999 followed by composeInts3(section, p, q, offset code)
// words. A is the longer file at entry position p, B the shorter at q, dB its seconds.
MatchList proveri2(const LandmarkTable& A, const LandmarkTable& B, int p, int q, float dA,
                   float dB);

// Matches every pair of entries i < j that no device group holds together, the longer
// against the shorter; filled slots come first, in pair order, each sorted ascending.
// Writes every value of the filled slots to the match dump (core/paths.h: "debagmatLONG1.txt")
// when it takes at most kMatchDumpBytesPerEntry per entry, or kMatchDumpVariable is "1";
// otherwise removes an earlier one and logs why.
std::vector<PairSlot> proveriall(const std::vector<LandmarkTable>& tables, int n,
                                 std::vector<float> durations, DeviceGroups groups,
                                 const ProgressFn& progress = {});

// `rows` lines of `cols` values of `table`, each value followed by ",".
void export2csvBIG(const char* name,
                   const Eigen::Matrix<std::uint64_t, Eigen::Dynamic, Eigen::Dynamic>& table,
                   int cols, int rows);

void shrink_capacity(MatchList& list);
