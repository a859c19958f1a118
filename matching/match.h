#pragma once
// Pairwise matching of reduced landmark tables into match lists.

#include "core/types.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// 50 MB a hundred entries: the whole dump of runs of a few files, bounded on big shoots.
inline constexpr std::uint64_t kMatchDumpBytesPerEntry = 512 * 1024;
inline constexpr const char* kMatchDumpVariable = "BRENVIK_MATCH_DUMP";

// Match list of one pair: 9999999 followed by composeInts3(section, p, q, offset code)
// words. A is the longer file at entry position p, B the shorter at q, dB its seconds.
MatchList proveri2(const LandmarkTable& A, const LandmarkTable& B, int p, int q, float dA,
                   float dB);

// A pair's list is a function of the two tables, the shorter file's duration and the two
// positions, which every word but the head holds. Without them, as (section * 10^6 +
// offset code) of each word after the head, ascending, a list serves the same two files
// at any positions. Nothing when a word is not of the pair at p, q.
std::optional<std::vector<std::uint64_t>> list_without_positions(const MatchList& list, int p, int q);
MatchList list_at_positions(const std::vector<std::uint64_t>& unplaced, int p, int q);

// Lists an earlier run made of the same two files: `take` gives the list of the pair
// (longer, shorter) when it has one, and `keep` is handed every list matched here. Either
// may be empty; both are called from several threads at once.
struct KeptLists {
  std::function<std::optional<MatchList>(int longer, int shorter)> take;
  std::function<void(int longer, int shorter, const MatchList& list)> keep;
};

// Matches every pair of entries i < j that no device group holds together, the longer
// against the shorter; filled slots come first, in pair order, each sorted ascending.
// A pair whose list `kept` gives is not matched again.
// Writes every value of the filled slots to the match dump (core/paths.h: "debagmatLONG1.txt")
// when it takes at most kMatchDumpBytesPerEntry per entry, or kMatchDumpVariable is "1";
// otherwise removes an earlier one and logs why.
std::vector<PairSlot> proveriall(const std::vector<LandmarkTable>& tables, int n,
                                 std::vector<float> durations, DeviceGroups groups,
                                 const ProgressFn& progress = {}, const KeptLists& kept = {});

// `rows` lines of `cols` values of `table`, each value followed by ",".
void export2csvBIG(const char* name,
                   const Eigen::Matrix<std::uint64_t, Eigen::Dynamic, Eigen::Dynamic>& table,
                   int cols, int rows);

void shrink_capacity(MatchList& list);
