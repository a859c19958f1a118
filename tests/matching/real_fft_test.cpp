#include "matching/analysis_sound.h"
#include "matching/real_fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Bin b of the spectrum of `x`, summed as the definition says, in double.
std::complex<double> dft_bin(const std::vector<float>& x, int b) {
  std::complex<double> sum = 0.0;
  const auto n = static_cast<double>(x.size());
  for (std::size_t i = 0; i < x.size(); ++i)
    sum += static_cast<double>(x[i]) * std::polar(1.0, -2.0 * kPi * b * static_cast<double>(i) / n);
  return sum;
}

}  // namespace

// Whichever plan a size gets, measured beforehand or chosen from the size, it must transform
// as the definition says, on the caller's own memory as on aligned memory: a tone, a click and
// a ramp land in their bins, and the inverse gives the points back.
TEST(RealFft, ListedSizesTransformAsDefined) {
  for (const int n : {4096, 4800, 128000}) {
    SCOPED_TRACE(n);
    std::vector<float> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
      x[static_cast<std::size_t>(i)] = static_cast<float>(std::cos(2.0 * kPi * 37 * i / n) + 1e-5 * i);
    x[17] += 3.0f;
    // One float in, the copy lies where no plan may run: it goes through the scratch arrays.
    std::vector<float> shifted(x.size() + 1);
    std::copy(x.begin(), x.end(), shifted.begin() + 1);
    FftPoints points(x.begin(), x.end());
    FftBins aligned(static_cast<std::size_t>(n / 2 + 1));
    std::vector<std::complex<float>> plain(aligned.size());
    forward_fft(n, points.data(), aligned.data());
    forward_fft(n, shifted.data() + 1, plain.data());
    const double bound = 1e-5 * n;
    for (const int b : {0, 1, 37, 1000, n / 2}) {
      const std::complex<double> want = dft_bin(x, b);
      EXPECT_NEAR(aligned[static_cast<std::size_t>(b)].real(), want.real(), bound) << "bin " << b;
      EXPECT_NEAR(aligned[static_cast<std::size_t>(b)].imag(), want.imag(), bound) << "bin " << b;
      EXPECT_EQ(plain[static_cast<std::size_t>(b)], aligned[static_cast<std::size_t>(b)]) << "bin " << b;
    }
    std::vector<float> back(static_cast<std::size_t>(n));
    inverse_fft(n, aligned.data(), back.data());
    for (std::size_t i = 0; i < x.size(); i += 97) EXPECT_NEAR(back[i], x[i], 1e-4) << "point " << i;
  }
}

// The plans are timed for the list of sizes; a size put into it or taken out without timing
// them anew (build/tools/brenvik-fft-plans) would lose its plan unnoticed, and plans FFTW does
// not take up for the transforms they were timed for would be dead weight.
TEST(RealFft, TimedPlansAreThoseOfTheListedSizes) {
  if (fft_plans_timed_for().empty()) GTEST_SKIP() << "the FFT back end is not FFTW";
  EXPECT_TRUE(std::ranges::equal(fft_plans_timed_for(), listed_fft_sizes()));
  const std::vector<int>& measured = fft_sizes_with_measured_plans();
  ASSERT_FALSE(measured.empty());
  if (!fft_plan_measured(measured.front())) GTEST_SKIP() << "this FFTW cannot read the timed plans";
  for (const int n : measured) EXPECT_TRUE(fft_plan_measured(n)) << n << " points";
}
