#pragma once
// The plain per-pair matching of every planned pair: each pair of files on its own, the
// shorter file's rows looked up one by one in an index of the longer file's hashes. Kept
// as the reference for proveriall, whose shared index must give exactly these lists, and
// for the benchmarks' ratio.

#include "core/composeints.h"
#include "core/frames.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/stop.h"
#include "matching/match.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace plain {

struct HashIndex {
  std::vector<std::uint64_t> hashes;
  std::vector<std::uint32_t> starts;  // rows of hashes[k]: rows[starts[k] .. starts[k + 1])
  std::vector<std::uint32_t> rows;
};

inline HashIndex index_by_hash(const LandmarkTable& table) {
  const std::size_t count = static_cast<std::size_t>(table.rows());
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(count);
  for (std::size_t r = 0; r < count; ++r)
    keyed[r] = {table(static_cast<Eigen::Index>(r), 1), static_cast<std::uint32_t>(r)};
  std::sort(keyed.begin(), keyed.end());
  HashIndex index;
  for (std::size_t k = 0; k < count; ++k) {
    if (k == 0 || keyed[k].first != keyed[k - 1].first) {
      index.hashes.push_back(keyed[k].first);
      index.starts.push_back(static_cast<std::uint32_t>(k));
    }
    index.rows.push_back(keyed[k].second);
  }
  index.starts.push_back(static_cast<std::uint32_t>(count));
  return index;
}

inline std::size_t bit_reverse(std::size_t value, int bits) {
  std::size_t reversed = 0;
  for (int b = 0; b < bits; ++b) {
    reversed = (reversed << 1) | (value & 1u);
    value >>= 1;
  }
  return reversed;
}

// One pair: 9999999, then for each row of B in bit-reversed order, while the list holds
// fewer than max(4000, 40 per second of B) values, a word for each row of A with its hash.
inline MatchList match_pair(const LandmarkTable& A, const HashIndex& index, const LandmarkTable& B,
                            int p, int q, float dB) {
  const double wanted = 40.0 * static_cast<double>(dB);
  const std::size_t budget =
      !(wanted > 4000.0) ? 4000 : static_cast<std::size_t>(std::min(wanted, 1e15));
  MatchList list{9999999};
  if (p < 0 || q < 0 || p >= 1000 || q >= 1000) return list;
  std::uint64_t longer = static_cast<std::uint64_t>(p);
  std::uint64_t shorter = static_cast<std::uint64_t>(q);
  const float section_length = dB * 0.03125f;
  const std::size_t rows_b = static_cast<std::size_t>(B.rows());
  int bits = 0;
  while ((std::size_t{1} << bits) < rows_b) ++bits;
  for (std::size_t i = 0; i < (std::size_t{1} << bits); ++i) {
    const std::size_t rb = bit_reverse(i, bits);
    if (rb >= rows_b) continue;
    if (list.size() >= budget) break;
    const Eigen::Index r = static_cast<Eigen::Index>(rb);
    const auto found = std::lower_bound(index.hashes.begin(), index.hashes.end(), B(r, 1));
    if (found == index.hashes.end() || *found != B(r, 1)) continue;
    const std::size_t k = static_cast<std::size_t>(found - index.hashes.begin());
    const double tB = static_cast<double>(B(r, 0));
    for (std::uint32_t s = index.starts[k]; s < index.starts[k + 1]; ++s) {
      const double tA = static_cast<double>(A(static_cast<Eigen::Index>(index.rows[s]), 0));
      const double code = (tB - tA) * kHopSamples / static_cast<double>(kAnalysisRate) * 100.0 + 500000.0;
      if (!(code >= 0.0 && code < 1000000.0)) continue;
      std::uint64_t section = 0;
      if (section_length > 0.0f) {
        const float seconds = static_cast<float>(tA * kHopSamples / static_cast<double>(kAnalysisRate));
        const float slice = seconds / section_length;
        if (!(slice < 18446744.0f)) continue;
        section = static_cast<std::uint64_t>(slice);
      }
      std::uint64_t offset_code = static_cast<std::uint64_t>(code);
      list.push_back(composeints::composeInts3(section, longer, shorter, offset_code));
    }
  }
  return list;
}

// proveriall done pair by pair: the same plan, console lines, slots, progress and dump.
inline std::vector<PairSlot> plain_proveriall(const std::vector<LandmarkTable>& tables, int n,
                                              const std::vector<float>& durations,
                                              const DeviceGroups& groups,
                                              const ProgressFn& progress = {}) {
  const std::size_t side = static_cast<std::size_t>(std::max(n, 0)) + 1;
  std::vector<PairSlot> slots(side * side);
  const int usable = static_cast<int>(std::min<std::size_t>(
      {static_cast<std::size_t>(std::max(n, 0)), tables.size(), durations.size()}));
  auto together = [&](int i, int j) {
    for (const std::vector<int>& group : groups)
      if (std::find(group.begin(), group.end(), i) != group.end() &&
          std::find(group.begin(), group.end(), j) != group.end())
        return true;
    return false;
  };
  std::vector<std::pair<int, int>> plan;  // (longer, shorter)
  for (int i = 0; i < usable; ++i) {
    for (int j = i + 1; j < usable; ++j) {
      if (together(i, j) || i >= 1000 || j >= 1000) continue;
      const float di = durations[static_cast<std::size_t>(i)];
      const float dj = durations[static_cast<std::size_t>(j)];
      const bool far_apart = dj > 4.0f * di || di > 4.0f * dj;
      if (dj > di) {
        if (!far_apart) console() << "vo else section...\n" << "vo vtoriot else...\n";
        plan.push_back({j, i});
      } else {
        console() << "vo else section...\n";
        if (!far_apart) console() << "vo vtoriot else...\n";
        plan.push_back({i, j});
      }
    }
  }
  std::vector<int> indexed;
  for (const auto& pair : plan)
    if (std::find(indexed.begin(), indexed.end(), pair.first) == indexed.end())
      indexed.push_back(pair.first);
  std::vector<HashIndex> built(indexed.size());
  ordered_parallel_for(
      static_cast<int>(indexed.size()), worker_count(),
      [&](int t) { built[t] = index_by_hash(tables[static_cast<std::size_t>(indexed[t])]); },
      [](int) {});
  std::vector<MatchList> lists(plan.size());
  std::size_t k = 0;
  ordered_parallel_for(
      static_cast<int>(plan.size()), worker_count(),
      [&](int pair) {
        const auto [a, b] = plan[static_cast<std::size_t>(pair)];
        const auto at = std::find(indexed.begin(), indexed.end(), a) - indexed.begin();
        MatchList list = match_pair(tables[static_cast<std::size_t>(a)], built[static_cast<std::size_t>(at)],
                                    tables[static_cast<std::size_t>(b)], a, b,
                                    durations[static_cast<std::size_t>(b)]);
        std::sort(list.begin(), list.end());
        lists[static_cast<std::size_t>(pair)] = std::move(list);
      },
      [&](int pair) {
        throw_if_stop_requested();
        const std::size_t p = static_cast<std::size_t>(pair);
        if (k < slots.size()) {
          slots[k] = PairSlot{std::move(lists[p]), plan[p].first, plan[p].second};
          ++k;
        }
        if (progress) progress(kStageMatch, pair + 1, static_cast<int>(plan.size()));
      });
  std::size_t total = 0;
  for (std::size_t s = 0; s < k; ++s) total += slots[s].list.size();
  Eigen::Matrix<std::uint64_t, Eigen::Dynamic, Eigen::Dynamic> column(
      static_cast<Eigen::Index>(total), 1);
  Eigen::Index row = 0;
  for (std::size_t s = 0; s < k; ++s)
    for (std::uint64_t value : slots[s].list) column(row++, 0) = value;
  console() << "line 2153\n";
  export2csvBIG(run_folder().match_dump.c_str(), column, 1, static_cast<int>(total));
  return slots;
}

}  // namespace plain
