#include "core/composeints.h"
#include "core/log.h"
#include "matching/match.h"
#include "tools/synthetic_landmarks.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <string>

namespace {

using testing_support::TempRunDir;

constexpr std::uint64_t kHead = 9999999;

LandmarkTable table_of(std::vector<std::pair<std::uint64_t, std::uint64_t>> rows) {
  LandmarkTable t(static_cast<Eigen::Index>(rows.size()), 2);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    t(static_cast<Eigen::Index>(r), 0) = rows[r].first;
    t(static_cast<Eigen::Index>(r), 1) = rows[r].second;
  }
  return t;
}

std::uint64_t word(std::uint64_t section, std::uint64_t longer, std::uint64_t shorter,
                   std::uint64_t code) {
  return composeints::composeInts3(section, longer, shorter, code);
}

std::size_t bit_reversed(std::size_t i, int bits) {
  std::size_t r = 0;
  for (int b = 0; b < bits; ++b) r = (r << 1) | ((i >> b) & 1u);
  return r;
}

// Plain matching: every row of B against every row of A, rows of B in the given order.
MatchList plain_match(const LandmarkTable& A, const LandmarkTable& B, int p, int q, float dB,
                      bool bit_reversed_rows, std::size_t budget) {
  MatchList list{kHead};
  std::vector<std::size_t> order;
  int bits = 0;
  while ((std::size_t{1} << bits) < static_cast<std::size_t>(B.rows())) ++bits;
  for (std::size_t i = 0; i < (std::size_t{1} << bits); ++i) {
    const std::size_t r = bit_reversed_rows ? bit_reversed(i, bits) : i;
    if (r < static_cast<std::size_t>(B.rows())) order.push_back(r);
  }
  for (std::size_t r : order) {
    if (list.size() >= budget) break;
    for (Eigen::Index s = 0; s < A.rows(); ++s) {
      if (A(s, 1) != B(static_cast<Eigen::Index>(r), 1)) continue;
      const double tA = static_cast<double>(A(s, 0));
      const double tB = static_cast<double>(B(static_cast<Eigen::Index>(r), 0));
      const double code = (tB - tA) * 192 / 8000 * 100 + 500000;
      if (code < 0 || code >= 1000000) continue;
      const auto section =
          dB > 0 ? static_cast<std::uint64_t>(static_cast<float>(tA * 192 / 8000) / (dB * 0.03125f))
                 : 0u;
      list.push_back(word(section, static_cast<std::uint64_t>(p), static_cast<std::uint64_t>(q),
                          static_cast<std::uint64_t>(code)));
    }
  }
  return list;
}

MatchList sorted(MatchList list) {
  std::sort(list.begin(), list.end());
  return list;
}

}  // namespace

TEST(Matching, PacksSectionPositionsAndOffsetCode) {
  constexpr std::uint64_t kHash = 604800012;
  // Frame 100 of the longer file is 2.4 s in; with 32 s of shorter file a section is 1 s.
  // 150 - 100 frames = 1.2 s later in the shorter file.
  EXPECT_EQ(proveri2(table_of({{100, kHash}}), table_of({{150, kHash}}), 3, 1, 90.0f, 32.0f),
            (MatchList{kHead, word(2, 3, 1, 500120)}));
  EXPECT_EQ(proveri2(table_of({{100, kHash}}), table_of({{50, kHash}}), 3, 1, 90.0f, 32.0f),
            (MatchList{kHead, word(2, 3, 1, 499880)}));
  // Zero rows match zero rows at section 0 and code 500000.
  EXPECT_EQ(proveri2(LandmarkTable::Zero(1, 2), LandmarkTable::Zero(1, 2), 0, 1, 5.0f, 5.0f),
            (MatchList{kHead, word(0, 0, 1, 500000)}));
}

TEST(Matching, LeavesOutWhatTheMatchWordCannotHold) {
  constexpr std::uint64_t kHash = 1415000005;
  // A shorter file of 0 s has no sections: every match lies in section 0.
  EXPECT_EQ(proveri2(table_of({{5000, kHash}}), table_of({{5000, kHash}}), 0, 1, 300.0f, 0.0f),
            (MatchList{kHead, word(0, 0, 1, 500000)}));
  // 208333 frames is 4999.992 s, the widest difference on either side; one frame more
  // does not fit the six digits of the offset code.
  const LandmarkTable far = table_of({{0, kHash}, {416666, kHash}, {416667, kHash}});
  EXPECT_EQ(sorted(proveri2(far, table_of({{208333, kHash}}), 0, 1, 1e4f, 1e4f)),
            sorted({kHead, word(0, 0, 1, 999999), word(31, 0, 1, 0)}));
  // 208335 frames is 5000.04 s after frame 0: only the two nearer rows match.
  EXPECT_EQ(sorted(proveri2(far, table_of({{208335, kHash}}), 0, 1, 1e4f, 1e4f)),
            sorted({kHead, word(31, 0, 1, 5), word(32, 0, 1, 3)}));
  // A position of four digits would run into the section field.
  EXPECT_EQ(proveri2(far, far, 1000, 1, 1e4f, 1e4f), MatchList{kHead});
  EXPECT_EQ(proveri2(far, far, 2, 1000, 1e4f, 1e4f), MatchList{kHead});
}

TEST(Matching, BudgetIsTestedBeforeEachRowOfTheShorterFile) {
  // Row k of B has hash k, found `per_row` times in A; each row's words carry its frame
  // k in their offset code, so the codes tell which rows were taken.
  auto taken_rows = [](int rows_b, int per_row, float shorter_seconds = 60.0f) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> a, b;
    for (int k = 0; k < rows_b; ++k) {
      b.push_back({static_cast<std::uint64_t>(k), static_cast<std::uint64_t>(k + 1)});
      for (int n = 0; n < per_row; ++n) a.push_back({0, static_cast<std::uint64_t>(k + 1)});
    }
    const MatchList list =
        proveri2(table_of(a), table_of(b), 0, 1, shorter_seconds, shorter_seconds);
    std::set<std::uint64_t> codes;
    for (std::size_t v = 1; v < list.size(); ++v) codes.insert(list[v] % 1000000);
    std::vector<int> rows;
    for (std::uint64_t code : codes)
      rows.push_back(static_cast<int>(std::lround((code - 500000) / 2.4)));
    return std::make_pair(list.size(), rows);
  };
  // 8 rows of 700 words: after rows 0, 4, 2, 6, 1 the list holds 3501 values, so row 5 is
  // still taken whole (4201 values) and rows 3 and 7 are not.
  EXPECT_EQ(taken_rows(8, 700),
            std::make_pair(std::size_t{4201}, std::vector<int>{0, 1, 2, 4, 5, 6}));
  // 5 rows use 3 bits: 0, 4, 2, 1, 3 (5, 6, 7 do not exist).
  EXPECT_EQ(taken_rows(5, 1500), std::make_pair(std::size_t{4501}, std::vector<int>{0, 2, 4}));
  EXPECT_EQ(taken_rows(5, 100).first, 501u);
  // 200 s of shorter file allow 40 values a second: 8000. Of 16 rows, 0 8 4 12 2 10 6 14 1
  // 9 5 leave 7701 values, so 13 is the last row taken.
  EXPECT_EQ(
      taken_rows(16, 700, 200.0f),
      std::make_pair(std::size_t{8401}, std::vector<int>{0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14}));
}

TEST(Matching, IndexedLookupGivesThePlainScansList) {
  const synthetic::Event event = synthetic::make_event(120.0, 30.0, 11);
  for (int trial = 0; trial < 6; ++trial) {
    const LandmarkTable A = synthetic::record(event, 0.0, 100.0 + trial, 0.6, 5.0, 100 + trial);
    const LandmarkTable B = synthetic::record(event, 10.0 * trial, 30.0, 0.6, 5.0, 200 + trial);
    const MatchList fast = proveri2(A, B, 4, 2, 100.0f, 30.0f);
    const MatchList whole = plain_match(A, B, 4, 2, 30.0f, false, SIZE_MAX);
    ASSERT_LT(whole.size(), 4000u) << "trial " << trial;
    EXPECT_EQ(sorted(fast), sorted(whole)) << "trial " << trial;
    EXPECT_EQ(fast, plain_match(A, B, 4, 2, 30.0f, true, 4000)) << "trial " << trial;
  }
  // Over budget: tables that share only a few hashes, many times.
  std::mt19937 rng(3);
  LandmarkTable A(3000, 2), B(400, 2);
  for (Eigen::Index r = 0; r < A.rows(); ++r) A.row(r) << rng() % 5000, 1 + rng() % 40;
  for (Eigen::Index r = 0; r < B.rows(); ++r) B.row(r) << rng() % 2000, 1 + rng() % 60;
  for (const auto& [seconds, budget] : {std::pair{48.0f, 4000u}, std::pair{150.0f, 6000u}}) {
    const MatchList fast = proveri2(A, B, 0, 1, 120.0f, seconds);
    EXPECT_GT(fast.size(), budget);
    EXPECT_EQ(fast, plain_match(A, B, 0, 1, seconds, true, budget)) << seconds << " s";
  }
}

TEST(Matching, PairsComeInOrderLongerFirstDeviceGroupsSkipped) {
  TempRunDir dir;
  constexpr std::uint64_t kHash = 604800012;
  const std::vector<LandmarkTable> tables = {table_of({{10, kHash}, {0, 0}}),
                                             table_of({{20, kHash}, {0, 0}}),
                                             table_of({{30, kHash}, {0, 0}})};
  std::vector<std::pair<int, int>> reports;
  auto progress = [&](std::string_view stage, int i, int n) {
    EXPECT_EQ(stage, "match");
    reports.push_back({i, n});
  };
  std::ostringstream text;
  ConsoleCapture capture(text);
  // File 1 is the longest, file 2 is within a factor of 4 of file 0.
  std::vector<PairSlot> slots = proveriall(tables, 3, {30.0f, 200.0f, 40.0f}, {}, progress);
  ASSERT_EQ(slots.size(), 16u);
  const std::vector<std::pair<int, int>> expected = {{1, 0}, {2, 0}, {1, 2}};
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(std::make_pair(slots[k].longer, slots[k].shorter), expected[k]) << "slot " << k;
    EXPECT_TRUE(std::is_sorted(slots[k].list.begin(), slots[k].list.end())) << "slot " << k;
    EXPECT_EQ(slots[k].list.size(), 3u) << "slot " << k;
  }
  for (std::size_t k = 3; k < slots.size(); ++k) EXPECT_TRUE(slots[k].list.empty()) << "slot " << k;
  EXPECT_EQ(reports, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
  // Slot (1, 0) first: kHash at frame 10 of file 0 and frame 20 of file 1 (-0.24 s), then
  // the zero rows at code 500000.
  const std::string debug = testing_support::read_file("debagmatLONG1.txt");
  EXPECT_EQ(
      debug.substr(0, debug.find("\n", debug.find(std::to_string(word(0, 1, 0, 500000)))) + 1),
      "9999999,\n" + std::to_string(word(0, 1, 0, 499976)) + ",\n" +
          std::to_string(word(0, 1, 0, 500000)) + ",\n");
  EXPECT_EQ(std::count(debug.begin(), debug.end(), '\n'), 9);

  slots = proveriall(tables, 3, {30.0f, 200.0f, 40.0f}, {{0, 2}}, {});
  EXPECT_EQ(std::make_pair(slots[0].longer, slots[0].shorter), std::make_pair(1, 0));
  EXPECT_EQ(std::make_pair(slots[1].longer, slots[1].shorter), std::make_pair(1, 2));
  EXPECT_TRUE(slots[2].list.empty());
}
