#include "fingerprint/frame_fft.h"

#include <gtest/gtest.h>
#include <unsupported/Eigen/FFT>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kSize = 384;
constexpr int kBins = 192;

std::array<float, kSize> some_window() {
  std::array<float, kSize> w{};
  for (int k = 0; k < kSize; ++k) w[k] = 0.5f - 0.5f * std::cos(6.2831855f * k / (kSize - 1));
  return w;
}

// What the spectrogram computed frame by frame before: the library transform of one frame.
std::vector<float> one_frame(const std::array<float, kSize>& window, const float* frame) {
  Eigen::FFT<float> fft;
  fft.SetFlag(Eigen::FFT<float>::HalfSpectrum);
  std::vector<float> windowed(kSize);
  for (int k = 0; k < kSize; ++k) windowed[k] = window[k] * frame[k];
  std::vector<std::complex<float>> spectrum(kSize);
  fft.fwd(spectrum.data(), windowed.data(), kSize);
  std::vector<float> m(kBins);
  for (int b = 0; b < kBins; ++b) {
    const float re = spectrum[b].real();
    const float im = spectrum[b].imag();
    m[b] = std::sqrt(re * re + im * im);
  }
  return m;
}

// Audio-like frames of very different levels, from denormal to far beyond full scale, so
// that every rounding of the transform is exercised, plus silence and a lone impulse.
std::vector<std::vector<float>> frames_to_try() {
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  std::vector<std::vector<float>> frames;
  const float levels[] = {1e-40f, 1e-6f, 0.01f, 0.3f, 1.0f, 3e4f};
  for (float level : levels) {
    for (int variant = 0; variant < 3; ++variant) {
      std::vector<float> f(kSize);
      for (int k = 0; k < kSize; ++k) {
        const float tone = std::sin(0.05f * k * (variant + 1)) * (variant == 2 ? 0.0f : 1.0f);
        f[k] = level * (tone + noise(rng));
      }
      frames.push_back(f);
    }
  }
  frames.emplace_back(kSize, 0.0f);
  std::vector<float> impulse(kSize, 0.0f);
  impulse[191] = 1.0f;
  frames.push_back(impulse);
  return frames;
}

TEST(FrameFft, EveryLaneMatchesTheOneFrameTransformBitForBit) {
  const auto window = some_window();
  const auto frames = frames_to_try();
  FrameFft fft;
  // Every partial batch size, and batches that mix levels, so a lane that reads another
  // lane's samples or keeps a stale value shows up.
  for (int count = 1; count <= kFftLanes; ++count) {
    for (size_t first = 0; first + count <= frames.size(); first += 3) {
      std::array<const float*, kFftLanes> in{};
      std::vector<std::vector<float>> out(kFftLanes, std::vector<float>(kBins, -1.0f));
      std::array<float*, kFftLanes> columns{};
      for (int l = 0; l < count; ++l) {
        in[l] = frames[first + l].data();
        columns[l] = out[l].data();
      }
      fft.magnitudes(window, in, columns, count);
      for (int l = 0; l < count; ++l) {
        const std::vector<float> expected = one_frame(window, frames[first + l].data());
        ASSERT_EQ(0, std::memcmp(expected.data(), out[l].data(), kBins * sizeof(float)))
            << "frame " << first + l << " in lane " << l << " of " << count;
      }
    }
  }
}

}  // namespace
