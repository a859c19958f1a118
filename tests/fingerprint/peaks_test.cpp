#include "fingerprint/peaks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace {

using Floats = std::vector<float>;
using Peaks = std::vector<std::pair<int, int>>;  // (bin, frame)

const Peaks kNothingKept = {{0, 0}, {0, 0}, {0, 0}};

// 192 bins x F frames at -1: below the zero threshold everywhere, so only the values a
// test sets can become peaks.
Eigen::MatrixXf quiet_picture(int frames) { return Eigen::MatrixXf::Constant(192, frames, -1.0f); }

TEST(PeakVectors, LocalMaxima) {
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
}

TEST(PeakVectors, Spread2SkirtReaches120BelowAnd119Above) {
  const std::tuple<int, int, float> cases[] = {  // (peak, bin, value there)
      {100, 100, 1.0f}, {100, 130, std::exp(-0.5f)}, {100, 70, std::exp(-0.5f)},
      {100, 0, std::exp(-0.5f * (100.0f / 30) * (100.0f / 30))},
      {10, 129, std::exp(-0.5f * (119.0f / 30) * (119.0f / 30))}, {10, 130, 0.0f}, {10, 191, 0.0f}};
  for (const auto& [peak, bin, expected] : cases) {
    Floats x(192, 0.0f);
    x[peak] = 1.0f;
    EXPECT_FLOAT_EQ(Spread2(x, 30)[bin], expected) << "peak " << peak << " bin " << bin;
  }
  Floats falling(192);
  for (int k = 0; k < 192; ++k) falling[k] = -1.0f - 2.0f * k;
  EXPECT_EQ(Spread2(falling, 30), Floats(192, 0.0f));
}

TEST(PeakPicking, WorkedExamples) {
  // 10 seen 33 bins away through the forward skirt: distance times 1/30 in float,
  // squared in float, Gaussian in double, rounded once to float.
  const float forward = 5.46074438f;
  // 10 at frame 11 seen 43 bins away through the backward skirt (squared as a double
  // power). With no decay the earlier peak meets exactly that threshold.
  const float backward = 3.57999992f;
  const struct {
    const char* what;
    int frames;
    float decay;
    std::vector<std::tuple<int, int, float>> set;  // (bin, frame, value)
    Peaks kept;  // backward order: a frame's peaks in reverse acceptance order
  } cases[] = {
      {"five of six maxima, 32 bins apart", 12, 0.99f,
       {{10, 10, 10}, {42, 10, 9}, {74, 10, 8}, {106, 10, 7}, {138, 10, 6}, {170, 10, 5}},
       {{138, 10}, {106, 10}, {74, 10}, {42, 10}, {10, 10}}},
      {"equal excess is one candidate, at the higher bin", 12, 0.99f,
       {{20, 10, 5}, {100, 10, 5}}, {{100, 10}}},
      {"masked by the frame's stronger peak", 12, 0.99f, {{50, 10, 10}, {60, 10, 5}}, {{50, 10}}},
      {"forward: equal to the raised threshold", 12, 0.99f, {{50, 10, 10}, {83, 10, forward}},
       {{50, 10}}},
      {"forward: just above it", 12, 0.99f,
       {{50, 10, 10}, {83, 10, std::nextafter(forward, 100.0f)}}, {{83, 10}, {50, 10}}},
      {"backward: equal to the threshold", 13, 1.0f, {{93, 11, 10}, {50, 10, backward}},
       {{93, 11}, {50, 10}}},
      {"backward: just below it", 13, 1.0f,
       {{93, 11, 10}, {50, 10, std::nextafter(backward, 0.0f)}}, {{93, 11}}},
      {"nothing above the threshold", 12, 0.99f, {}, kNothingKept},
      {"fewer than the ten starting frames", 9, 0.99f, {{40, 5, 8}}, kNothingKept},
  };
  for (const auto& c : cases) {
    Eigen::MatrixXf s = quiet_picture(c.frames);
    for (const auto& [bin, frame, value] : c.set) s(bin, frame) = value;
    const KeptPeaks kept = pick_peaks(s, c.decay, 50);
    EXPECT_EQ(kept.peaks, c.kept) << c.what;
    EXPECT_EQ(kept.count, c.kept == kNothingKept ? 0 : static_cast<int>(c.kept.size())) << c.what;
  }
}

}  // namespace
