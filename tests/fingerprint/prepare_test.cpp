#include "core/log.h"
#include "fingerprint/prepare.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace {

LandmarkTable table_of(std::vector<std::pair<std::uint64_t, std::uint64_t>> rows) {
  LandmarkTable t(static_cast<Eigen::Index>(rows.size()), 2);
  for (std::size_t r = 0; r < rows.size(); ++r)
    t.row(static_cast<Eigen::Index>(r)) << rows[r].first, rows[r].second;
  return t;
}

}  // namespace

TEST(Preparation, SortKeepsTheOrderOfRowsOfOneFrame) {
  // The neighbour-exchange method the table was once sorted with is the reference.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 50; ++trial) {
    LandmarkTable t(1 + rng() % 40, 2);
    for (Eigen::Index r = 0; r < t.rows(); ++r) t.row(r) << rng() % 5, static_cast<std::uint64_t>(r);
    LandmarkTable expected = t;
    for (Eigen::Index pass = 1; pass < t.rows(); ++pass)
      for (Eigen::Index r = 0; r + 1 < t.rows(); ++r)
        if (expected(r, 0) > expected(r + 1, 0)) expected.row(r).swap(expected.row(r + 1));
    ASSERT_EQ(sortirajeigenmatricapored(t), expected) << "trial " << trial;
  }
}

TEST(Preparation, ReducesRunsOfOneHashAndCollapsesZeroRows) {
  std::ostringstream text;
  ConsoleCapture capture(text);
  EXPECT_EQ(namali(table_of({{5, 7}, {6, 7}, {8, 9}, {9, 4}})), table_of({{6, 7}, {8, 9}, {0, 0}}));
  EXPECT_EQ(namali(LandmarkTable::Zero(5, 2)), LandmarkTable::Zero(1, 2));
  EXPECT_EQ(namali(LandmarkTable(0, 2)), LandmarkTable::Zero(1, 2));
  // The five stacked zero rows sort between frames 0 and 1 and collapse to one.
  EXPECT_EQ(prepare_landmarks(table_of({{1, 5}, {0, 8}}), table_of({{0, 9}}), table_of({{2, 7}})),
            table_of({{0, 8}, {0, 9}, {0, 0}, {1, 5}, {0, 0}}));
  // A file without a fingerprint: three single zero rows reduce to one.
  EXPECT_EQ(prepare_landmarks(LandmarkTable::Zero(1, 2), LandmarkTable::Zero(1, 2),
                              LandmarkTable::Zero(1, 2)),
            LandmarkTable::Zero(1, 2));
}
