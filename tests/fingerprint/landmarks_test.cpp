#include "fingerprint/landmarks.h"

#include "engine/log.h"
#include "fingerprint/composeints.h"
#include "tests/fingerprint/same_matrix.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using composeints::composeInts;
using composeints::composeInts3;
using composeints::decomposeInts3;

std::uint64_t hash(std::uint64_t f1, std::uint64_t f2, std::uint64_t dt) {
  return composeInts(f1, f2, dt);
}

KeptPeaks kept_of(std::vector<std::pair<int, int>> peaks) {
  KeptPeaks kept;
  kept.count = static_cast<int>(peaks.size());
  kept.peaks = std::move(peaks);
  return kept;
}

TEST(Composeints, PacksLandmarkHashes) {
  EXPECT_EQ(hash(150, 140, 5), 1415000005u);
  EXPECT_EQ(hash(48, 60, 12), 604800012u);
  EXPECT_EQ(hash(190, 190, 62), 1919000062u);
  EXPECT_EQ(hash(0, 0, 1), 1u);
  EXPECT_EQ(hash(100, 0, 5), hash(0, 1, 5));
}

TEST(Composeints, RoundTripsMatchWords) {
  struct Case {
    std::uint64_t a, b, c, d;
  } cases[] = {{3, 7, 250, 123456}, {0, 0, 0, 0}, {0, 0, 0, 999}, {18000000, 999, 999, 999999}};
  for (Case w : cases) {
    const std::uint64_t x = composeInts3(w.a, w.b, w.c, w.d);
    std::uint64_t a = 1, b = 1, c = 1, d = 1;
    decomposeInts3(x, a, b, c, d);
    EXPECT_EQ(a, w.a) << x;
    EXPECT_EQ(b, w.b) << x;
    EXPECT_EQ(c, w.c) << x;
    EXPECT_EQ(d, w.d) << x;
  }
  std::uint64_t a = 3, b = 7, c = 250, d = 123456;
  EXPECT_EQ(composeInts3(a, b, c, d), 3007250123456u);
}

TEST(Pairing, WindowIsStrictInTimeAndFrequency) {
  // The list runs from the latest frame to the earliest. Boundaries: 63 frames or 31
  // bins apart never pair, 62 frames and 30 bins do, nor does a peak of the same frame.
  const KeptPeaks kept = kept_of(
      {{100, 73}, {130, 72}, {131, 20}, {69, 20}, {70, 11}, {105, 10}, {100, 10}});
  LandmarkTable expected(8, 2);
  expected << 72, hash(130, 100, 1),
              20, hash(131, 130, 52),
              11, hash(70, 100, 62),
              11, hash(70, 69, 9),
              10, hash(105, 130, 62),
              10, hash(105, 131, 10),
              10, hash(100, 130, 62),
              10, hash(100, 70, 1);
  EXPECT_TRUE(test_matrices::Same(pair_landmarks(kept, 31.0f, 63.0f), expected));
}

TEST(Pairing, AnchorKeepsItsNineLatestPartners) {
  std::vector<std::pair<int, int>> peaks;
  for (int t = 12; t >= 1; --t) peaks.emplace_back(60, t);
  peaks.emplace_back(60, 0);
  const LandmarkTable table = pair_landmarks(kept_of(peaks), 31.0f, 63.0f);
  std::vector<std::uint64_t> of_anchor;
  for (Eigen::Index r = 0; r < table.rows(); ++r) {
    if (table(r, 0) == 0) of_anchor.push_back(table(r, 1) % 100);
  }
  EXPECT_EQ(of_anchor, (std::vector<std::uint64_t>{12, 11, 10, 9, 8, 7, 6, 5, 4}));
}

TEST(Pairing, OnePeakGivesNoRowsAndNoPeaksTheZeroRow) {
  std::ostringstream text;
  ConsoleCapture capture(text);
  EXPECT_EQ(pair_landmarks(kept_of({{40, 7}}), 31.0f, 63.0f).rows(), 0);
  EXPECT_EQ(text.str(), "");
  KeptPeaks none;
  none.peaks.assign(3, {0, 0});
  EXPECT_TRUE(test_matrices::Same(pair_landmarks(none, 31.0f, 63.0f), LandmarkTable(LandmarkTable::Zero(1, 2))));
  EXPECT_EQ(text.str(), "LL<2 pred return..\n");
}

}  // namespace
