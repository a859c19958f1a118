#include "fingerprint/peaks.h"

#include "core/log.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

namespace {

using Floats = std::vector<float>;
using Peaks = std::vector<std::pair<int, int>>;  // (bin, frame)

// 192 bins x F frames at -1: below the zero threshold everywhere, so only the values a
// test sets can become peaks.
Eigen::MatrixXf quiet_picture(int frames) { return Eigen::MatrixXf::Constant(192, frames, -1.0f); }

TEST(PeakVectors, LocalMaximaAndJoins) {
  // Of a flat top only the rightmost entry counts, and the last entry never does.
  const std::tuple<Floats, Floats, std::vector<int>> cases[] = {
      {{1, 3, 3, 2}, {0, 0, 3, 0}, {7, 2}},
      {{5, 1, 2}, {5, 0, 0}, {7, 0}},
      {{-3, -1, -2, 0}, {0, -1, 0, 0}, {7, 1}}};
  for (const auto& [in, out, at] : cases) {
    std::vector<int> positions = {7};  // appended to
    EXPECT_EQ(loc_max(in, &positions), out) << in.size() << " entries, first " << in[0];
    EXPECT_EQ(positions, at) << in.size() << " entries, first " << in[0];
  }
  EXPECT_EQ(zalepi_vec({1, 2}, {3}), (Floats{1, 2, 3}));
  EXPECT_EQ(zalepi_vec({}, {3}), (Floats{3}));
  EXPECT_EQ(mavo_max_zerovec({0}, {-1, 2, -0.0f}), (Floats{0, 2, 0}));
  EXPECT_EQ(mavo_max_vec({1, 5, 2}, {3, 4, 2}), (Floats{3, 5, 2}));
  std::ostringstream text;
  ConsoleCapture capture(text);
  EXPECT_EQ(mavo_max_vec({1, 5, 2}, {3, 4}), (Floats{3, 5}));
  EXPECT_EQ(text.str(), "mora da bidat ista dolzina vektorite!!!\n");
}

TEST(PeakVectors, Spread2SkirtReaches120BelowAnd119Above) {
  Floats x(192, 0.0f);
  x[100] = 1.0f;
  Floats y = Spread2(x, 30);
  EXPECT_EQ(y[100], 1.0f);
  EXPECT_FLOAT_EQ(y[130], std::exp(-0.5f));
  EXPECT_FLOAT_EQ(y[70], std::exp(-0.5f));
  EXPECT_FLOAT_EQ(y[0], std::exp(-0.5f * (100.0f / 30) * (100.0f / 30)));
  x.assign(192, 0.0f);
  x[10] = 1.0f;
  y = Spread2(x, 30);
  EXPECT_FLOAT_EQ(y[129], std::exp(-0.5f * (119.0f / 30) * (119.0f / 30)));
  for (int k = 130; k < 192; ++k) EXPECT_EQ(y[k], 0.0f) << "bin " << k;
  Floats falling(192);
  for (int k = 0; k < 192; ++k) falling[k] = -1.0f - 2.0f * k;
  EXPECT_EQ(Spread2(falling, 30), Floats(192, 0.0f));
}

TEST(PeakPicking, AtMostFiveOfSixMaximaPerFrame) {
  // Bins 32 apart: each peak stays above the skirts of the others.
  Eigen::MatrixXf s = quiet_picture(12);
  const int bins[6] = {10, 42, 74, 106, 138, 170};
  for (int i = 0; i < 6; ++i) s(bins[i], 10) = 10.0f - i;
  const KeptPeaks kept = pick_peaks(s, 0.99f, 50);
  EXPECT_EQ(kept.count, 5);
  // Backward order: the frame's peaks in reverse acceptance order, weakest first.
  EXPECT_EQ(kept.peaks, (Peaks{{138, 10}, {106, 10}, {74, 10}, {42, 10}, {10, 10}}));
}

TEST(PeakPicking, ForwardAcceptsStrictlyAboveTheRaisedThreshold) {
  Eigen::MatrixXf s = quiet_picture(12);
  s(20, 10) = 5.0f;
  s(100, 10) = 5.0f;  // equal excess: one candidate, at the higher bin
  EXPECT_EQ(pick_peaks(s, 0.99f, 50).peaks, (Peaks{{100, 10}}));
  s = quiet_picture(12);
  s(50, 10) = 10.0f;
  s(60, 10) = 5.0f;  // masked by the frame's stronger peak
  EXPECT_EQ(pick_peaks(s, 0.99f, 50).peaks, (Peaks{{50, 10}}));
  // 10 seen 33 bins away through the forward skirt: distance times 1/30 in float,
  // squared in float, Gaussian in double, rounded once to float.
  const float lifted = 5.46074438f;
  s(60, 10) = -1.0f;
  s(83, 10) = lifted;
  EXPECT_EQ(pick_peaks(s, 0.99f, 50).peaks, (Peaks{{50, 10}}));
  s(83, 10) = std::nextafter(lifted, 100.0f);
  EXPECT_EQ(pick_peaks(s, 0.99f, 50).peaks, (Peaks{{83, 10}, {50, 10}}));
}

TEST(PeakPicking, BackwardKeepsAPeakEqualToItsThreshold) {
  // 10 at frame 11 seen 43 bins away through the backward skirt (squared as a double
  // power): 3.57999992. With no decay the earlier peak meets exactly that threshold.
  Eigen::MatrixXf s = quiet_picture(13);
  s(93, 11) = 10.0f;
  s(50, 10) = 3.57999992f;
  EXPECT_EQ(pick_peaks(s, 1.0f, 50).peaks, (Peaks{{93, 11}, {50, 10}}));
  s(50, 10) = std::nextafter(3.57999992f, 0.0f);
  EXPECT_EQ(pick_peaks(s, 1.0f, 50).peaks, (Peaks{{93, 11}}));
}

TEST(PeakPicking, DecayOneHoldsTheThresholdAndDecayZeroResetsIt) {
  Eigen::MatrixXf s = quiet_picture(20);
  for (int t = 10; t < 20; ++t) s(30, t) = 4.0f, s(90, t) = 5.0f, s(150, t) = 6.0f;
  EXPECT_EQ(pick_peaks(s, 1.0f, 50).peaks, (Peaks{{30, 10}, {90, 10}, {150, 10}}));
  const KeptPeaks every_frame = pick_peaks(s, 0.0f, 50);
  EXPECT_EQ(every_frame.count, 30);
  EXPECT_EQ(every_frame.peaks.front(), std::make_pair(30, 19));
  EXPECT_EQ(every_frame.peaks.back(), std::make_pair(150, 10));
}

TEST(PeakPicking, ListGrowsPastItsFirstRoom) {
  std::mt19937 rng(4);
  Eigen::MatrixXf s(192, 400);
  for (Eigen::Index i = 0; i < s.size(); ++i) s.data()[i] = static_cast<float>(rng() % 2000) / 1000;
  const KeptPeaks roomy = pick_peaks(s, 0.0f, 1000000), tight = pick_peaks(s, 0.0f, 50);
  EXPECT_GT(roomy.count, 1000);
  EXPECT_EQ(tight.count, roomy.count);
  EXPECT_EQ(tight.peaks, roomy.peaks);
}

TEST(PeakPicking, NothingKeptGivesThreeZeroPairs) {
  Eigen::MatrixXf short_picture = quiet_picture(9);  // fewer than the ten starting frames
  short_picture(40, 5) = 8.0f;
  for (const Eigen::MatrixXf& s : {quiet_picture(12), short_picture}) {
    const KeptPeaks kept = pick_peaks(s, 0.99f, 50);
    EXPECT_EQ(kept.count, 0) << s.cols() << " frames";
    EXPECT_EQ(kept.peaks, (Peaks{{0, 0}, {0, 0}, {0, 0}})) << s.cols() << " frames";
  }
}

}  // namespace
