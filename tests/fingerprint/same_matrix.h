#pragma once
// Exact comparison of two Eigen matrices that reports a size mismatch instead of
// asserting, and the first differing element otherwise.

#include <gtest/gtest.h>

namespace test_matrices {

template <typename M>
::testing::AssertionResult Same(const M& a, const M& b) {
  if (a.rows() != b.rows() || a.cols() != b.cols()) {
    return ::testing::AssertionFailure() << a.rows() << " x " << a.cols() << " against "
                                         << b.rows() << " x " << b.cols();
  }
  for (Eigen::Index c = 0; c < a.cols(); ++c) {
    for (Eigen::Index r = 0; r < a.rows(); ++r) {
      if (!(a(r, c) == b(r, c))) {
        return ::testing::AssertionFailure() << "(" << r << ", " << c << "): " << a(r, c)
                                             << " against " << b(r, c);
      }
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace test_matrices
