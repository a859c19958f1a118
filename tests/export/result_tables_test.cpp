#include "export/result_tables.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using testing_support::read_file;
using testing_support::TempRunDir;

TEST(ResultTables, OneLinePerFieldInGeneralNotationWithFiveDigits) {
  TempRunDir dir;
  Eigen::MatrixXf values(2, 3);
  values << 3, -1.25f, 1e-5f, 100000, 2.718281f, 123456;
  export2csv("t.csv", values, 3, 2);
  EXPECT_EQ(read_file("t.csv"), "3,-1.25,1e-05,\n1e+05,2.7183,1.2346e+05,\n");

  PairResult a;
  a.shorter = 0;
  a.longer = 1;
  a.offset = 2.5;
  a.sections = 4;
  a.confidence = 0.8f;
  a.hits = 12;
  PairResult b;
  b.shorter = 2;
  b.longer = 1;
  b.offset = -1.2345678;
  b.sections = 3;
  b.confidence = 1e-5f;
  b.hits = 9;
  b.refined = true;
  b.drift_ppm = 3.0;
  b.good_windows = 6;
  write_result_tables({a, b}, {b});
  EXPECT_EQ(read_file("csvtabela.csv"), "0,2,\n1,1,\n2.5,-1.2346,\n4,3,\n0.8,1e-05,\n12,9,\n");
  EXPECT_EQ(read_file("csvtabela-clean.csv"), "2,\n1,\n-1.2346,\n3,\n1e-05,\n");
}
