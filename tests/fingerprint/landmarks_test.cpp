#include "fingerprint/landmarks.h"

#include "core/composeints.h"
#include "core/log.h"
#include "tests/fingerprint/same_matrix.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>

namespace {

std::uint64_t hash(std::uint64_t f1, std::uint64_t f2, std::uint64_t dt) {
  return composeints::composeInts(f1, f2, dt);
}

KeptPeaks kept_of(std::vector<std::pair<int, int>> peaks) {
  return {peaks, static_cast<int>(peaks.size())};
}

TEST(Composeints, PacksHashesAndRoundTripsMatchWords) {
  EXPECT_EQ(hash(150, 140, 5), 1415000005u);
  EXPECT_EQ(hash(48, 60, 12), 604800012u);
  EXPECT_EQ(hash(190, 190, 62), 1919000062u);
  EXPECT_EQ(hash(0, 0, 1), 1u);
  EXPECT_EQ(hash(100, 0, 5), hash(0, 1, 5));
  const std::array<std::uint64_t, 4> words[] = {
      {3, 7, 250, 123456}, {0, 0, 0, 0}, {0, 0, 0, 999}, {18000000, 999, 999, 999999}};
  for (auto w : words) {
    const std::uint64_t x = composeints::composeInts3(w[0], w[1], w[2], w[3]);
    const std::array<std::uint64_t, 4> back = {
        match_word::section(x), (x / match_word::kLongerUnit) % match_word::kPositionEnd,
        (x / match_word::kShorterUnit) % match_word::kPositionEnd,
        static_cast<std::uint64_t>(match_word::offset_code(x))};
    EXPECT_EQ(back, w) << x;
  }
  std::uint64_t a = 3, b = 7, c = 250, d = 123456;
  EXPECT_EQ(composeints::composeInts3(a, b, c, d), 3007250123456u);
}

TEST(Pairing, WindowIsStrictInTimeAndFrequency) {
  // The list runs from the latest frame to the earliest. Boundaries: 63 frames or 31
  // bins apart never pair, 62 frames and 30 bins do, nor does a peak of the same frame.
  const KeptPeaks kept = kept_of(
      {{100, 73}, {130, 72}, {131, 20}, {69, 20}, {70, 11}, {105, 10}, {100, 10}});
  LandmarkTable expected(8, 2);
  expected << 72, hash(130, 100, 1), 20, hash(131, 130, 52), 11, hash(70, 100, 62),
      11, hash(70, 69, 9), 10, hash(105, 130, 62), 10, hash(105, 131, 10),
      10, hash(100, 130, 62), 10, hash(100, 70, 1);
  EXPECT_TRUE(test_matrices::Same(pair_landmarks(kept, 31.0f, 63.0f), expected));
}

TEST(Pairing, OnePeakGivesNoRowsAndNoPeaksTheZeroRow) {
  std::ostringstream quiet;
  ConsoleCapture capture(quiet);
  EXPECT_EQ(pair_landmarks(kept_of({{40, 7}}), 31.0f, 63.0f).rows(), 0);
  const KeptPeaks none{{{0, 0}, {0, 0}, {0, 0}}, 0};
  EXPECT_TRUE(test_matrices::Same(pair_landmarks(none, 31.0f, 63.0f),
                                  LandmarkTable(LandmarkTable::Zero(1, 2))));
}

}  // namespace
