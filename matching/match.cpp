#include "matching/match.h"

#include "core/composeints.h"
#include "core/frames.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/stop.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <utility>

namespace {

// Every match list starts with this value; it decodes as section 0, longer position 0,
// shorter position 9, offset code 999999, and sorts among the section-0 words.
constexpr std::uint64_t kListHead = 9999999;

// Values a pair's list may reach before its next row of B is refused: 40 per second of
// the shorter file, so that an hour-long pair keeps enough matches to show its offset in
// every section, and never fewer than 4000. The test is made before each row, so one row
// can carry the list past it.
constexpr std::size_t kMinimumBudget = 4000;
constexpr double kBudgetPerSecond = 40.0;
// Room reserved beyond the budget for the row that crosses it; the spare capacity is
// given back once the pair is done.
constexpr std::size_t kReserveMargin = 500;
constexpr std::size_t kReserveCap = std::size_t{1} << 20;
// Keeps the conversion of an absurd duration defined.
constexpr double kLargestBudget = 1e15;

constexpr float kSectionShare = match_word::kSectionShare;
constexpr double kHundredthsPerSecond = match_word::kHundredthsPerSecond;
constexpr double kOffsetCodeZero = match_word::kOffsetCodeZero;
constexpr double kOffsetCodeEnd = match_word::kOffsetCodeEnd;
constexpr int kPositionEnd = match_word::kPositionEnd;
// Largest section whose word stays below 2^64 (section * 10^12 + 999999999999).
constexpr float kSectionEnd = 18446744.0f;

// A's rows by landmark hash: the rows of hashes[k] are rows[starts[k] .. starts[k + 1]),
// in table order.
struct HashIndex {
  std::vector<std::uint64_t> hashes;
  std::vector<std::uint32_t> starts;
  std::vector<std::uint32_t> rows;
};

std::size_t match_budget(float shorter_seconds) {
  const double wanted = kBudgetPerSecond * static_cast<double>(shorter_seconds);
  // A duration that is not a number leaves the budget at its minimum.
  if (!(wanted > static_cast<double>(kMinimumBudget))) return kMinimumBudget;
  return static_cast<std::size_t>(std::min(wanted, kLargestBudget));
}

HashIndex index_by_hash(const LandmarkTable& table) {
  const std::size_t count = static_cast<std::size_t>(table.rows());
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(count);
  for (std::size_t r = 0; r < count; ++r)
    keyed[r] = {table(static_cast<Eigen::Index>(r), 1), static_cast<std::uint32_t>(r)};
  std::sort(keyed.begin(), keyed.end());
  HashIndex index;
  index.rows.reserve(count);
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

std::size_t bit_reverse(std::size_t value, int bits) {
  std::size_t reversed = 0;
  for (int b = 0; b < bits; ++b) {
    reversed = (reversed << 1) | (value & 1u);
    value >>= 1;
  }
  return reversed;
}

// Rows of B are visited in bit-reversed order of their indices, so that whatever prefix
// the budget allows is spread evenly over the whole shorter recording rather than spent
// on its first seconds. Once the whole table fits, the order does not show: the list is
// sorted afterwards.
MatchList match_against_index(const LandmarkTable& A, const HashIndex& index,
                              const LandmarkTable& B, int p, int q, float dB) {
  const std::size_t budget = match_budget(dB);
  MatchList list;
  list.reserve(std::min(budget, kReserveCap) + kReserveMargin);
  list.push_back(kListHead);
  if (p < 0 || q < 0 || p >= kPositionEnd || q >= kPositionEnd) {
    shrink_capacity(list);
    return list;
  }
  std::uint64_t longer = static_cast<std::uint64_t>(p);
  std::uint64_t shorter = static_cast<std::uint64_t>(q);
  // Without a duration there is nothing to cut into sections: every match lies in section 0.
  const float section_length = dB * kSectionShare;
  const bool has_sections = section_length > 0.0f;

  const std::size_t rows_b = static_cast<std::size_t>(B.rows());
  int bits = 0;
  while ((std::size_t{1} << bits) < rows_b) ++bits;
  const std::size_t walk = std::size_t{1} << bits;
  for (std::size_t i = 0; i < walk; ++i) {
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
      const double code =
          (tB - tA) * kHopSamples / static_cast<double>(kAnalysisRate) * kHundredthsPerSecond + kOffsetCodeZero;
      // A difference the six-digit code cannot hold would spill into the position fields.
      if (!(code >= 0.0 && code < kOffsetCodeEnd)) continue;
      std::uint64_t section = 0;
      if (has_sections) {
        const float seconds = static_cast<float>(tA * kHopSamples / static_cast<double>(kAnalysisRate));
        const float slice = seconds / section_length;
        if (!(slice < kSectionEnd)) continue;
        section = static_cast<std::uint64_t>(slice);
      }
      std::uint64_t offset_code = static_cast<std::uint64_t>(code);
      list.push_back(composeints::composeInts3(section, longer, shorter, offset_code));
    }
  }
  shrink_capacity(list);
  return list;
}

bool in_one_device_group(const DeviceGroups& groups, int i, int j) {
  for (const std::vector<int>& group : groups) {
    if (std::find(group.begin(), group.end(), i) != group.end() &&
        std::find(group.begin(), group.end(), j) != group.end())
      return true;
  }
  return false;
}

struct PlannedPair {
  int longer;
  int shorter;
};

}  // namespace

MatchList proveri2(const LandmarkTable& A, const LandmarkTable& B, int p, int q, float /*dA*/,
                   float dB) {
  return match_against_index(A, index_by_hash(A), B, p, q, dB);
}

std::vector<PairSlot> proveriall(const std::vector<LandmarkTable>& tables, int n,
                                 std::vector<float> durations, DeviceGroups groups,
                                 const ProgressFn& progress) {
  const std::size_t side = static_cast<std::size_t>(std::max(n, 0)) + 1;
  std::vector<PairSlot> slots(side * side);
  const int usable = static_cast<int>(std::min<std::size_t>(
      {static_cast<std::size_t>(std::max(n, 0)), tables.size(), durations.size()}));

  std::vector<PlannedPair> plan;
  for (int i = 0; i < usable; ++i) {
    for (int j = i + 1; j < usable; ++j) {
      if (in_one_device_group(groups, i, j)) continue;
      // A fourth digit of a position would overwrite the section field.
      if (i >= kPositionEnd || j >= kPositionEnd) continue;
      const float di = durations[static_cast<std::size_t>(i)];
      const float dj = durations[static_cast<std::size_t>(j)];
      const bool far_apart = dj > 4.0f * di || di > 4.0f * dj;
      // Equal durations: the earlier entry takes the part of the longer file.
      if (dj > di) {
        if (!far_apart)
          console() << "vo else section...\n"
                    << "vo vtoriot else...\n";
        plan.push_back({j, i});
      } else {
        console() << "vo else section...\n";
        if (!far_apart) console() << "vo vtoriot else...\n";
        plan.push_back({i, j});
      }
    }
  }

  auto table_of = [&](int entry) -> const LandmarkTable& {
    return tables[static_cast<std::size_t>(entry)];
  };
  // Each table takes the longer part in several pairs; its index is built once. Indexes
  // and pairs are made on worker_count() threads, the slots filled in plan order.
  std::vector<const LandmarkTable*> indexed;
  for (const PlannedPair& planned : plan) {
    const LandmarkTable* A = &table_of(planned.longer);
    if (std::find(indexed.begin(), indexed.end(), A) == indexed.end()) indexed.push_back(A);
  }
  std::vector<HashIndex> built(indexed.size());
  ordered_parallel_for(
      static_cast<int>(indexed.size()), worker_count(),
      [&](int t) { built[t] = index_by_hash(*indexed[t]); }, [](int) {});
  auto index_of = [&](const LandmarkTable* A) -> const HashIndex& {
    return built[static_cast<std::size_t>(std::find(indexed.begin(), indexed.end(), A) -
                                          indexed.begin())];
  };

  std::vector<MatchList> lists(plan.size());
  std::size_t k = 0;
  ordered_parallel_for(
      static_cast<int>(plan.size()), worker_count(),
      [&](int pair) {
        const PlannedPair& planned = plan[static_cast<std::size_t>(pair)];
        const LandmarkTable& A = table_of(planned.longer);
        MatchList list = match_against_index(A, index_of(&A), table_of(planned.shorter),
                                             planned.longer, planned.shorter,
                                             durations[static_cast<std::size_t>(planned.shorter)]);
        std::sort(list.begin(), list.end());
        lists[static_cast<std::size_t>(pair)] = std::move(list);
      },
      [&](int pair) {
        throw_if_stop_requested();
        const std::size_t p = static_cast<std::size_t>(pair);
        if (!lists[p].empty() && k < slots.size()) {
          slots[k] = PairSlot{std::move(lists[p]), plan[p].longer, plan[p].shorter};
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

void export2csvBIG(const char* name,
                   const Eigen::Matrix<std::uint64_t, Eigen::Dynamic, Eigen::Dynamic>& table,
                   int cols, int rows) {
  std::ofstream out(name, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!out) return;
  const Eigen::Index last_row = std::min<Eigen::Index>(rows, table.rows());
  const Eigen::Index last_col = std::min<Eigen::Index>(cols, table.cols());
  std::string text;
  char digits[24];
  for (Eigen::Index r = 0; r < last_row; ++r) {
    for (Eigen::Index c = 0; c < last_col; ++c) {
      const auto written = std::to_chars(digits, digits + sizeof digits, table(r, c));
      text.append(digits, written.ptr);
      text += ',';
    }
    text += '\n';
    if (text.size() > (1u << 16)) {
      out << text;
      text.clear();
    }
  }
  out << text;
}

void shrink_capacity(MatchList& list) { list.shrink_to_fit(); }
