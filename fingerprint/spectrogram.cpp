#include "fingerprint/spectrogram.h"

#include "core/log.h"
#include "core/sndfile_handle.h"
#include "fingerprint/frame_fft.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <vector>

namespace {

// The log floor sits 10^6 below the loudest magnitude (13.8 nepers), so near-silent
// bins cannot dominate the picture with huge negative values.
constexpr double kFloorRatio = 1000000.0;
// 2 pi as the float that every run has used for the window; changing it changes results.
constexpr float kTwoPi = 6.2831855f;
// Onset emphasis along time: out[t] = in[t] - in[t-1] + 0.98 out[t-1]. Slow level
// changes die away within a couple of seconds; rises stay.
constexpr float kOnsetB[2] = {1.0f, -1.0f};
constexpr float kOnsetA1 = -0.98f;
// Hops of audio read from the file at once: about 25 s, under a megabyte of floats.
constexpr int kChunkHops = 1024;

// Symmetric 384-point Hann window (denominator 383, both ends 0), computed in single
// precision exactly as every earlier run did.
std::array<float, kFrameSamples> hann_window() {
  std::array<float, kFrameSamples> w{};
  for (int k = 0; k < kFrameSamples; ++k) {
    const float angle = static_cast<float>(k) * kTwoPi / static_cast<float>(kFrameSamples - 1);
    w[k] = (1.0f - std::cos(angle)) * 0.5f;
  }
  return w;
}

// Delivers the frame grid in order: grid sample i is file sample i - offset, zero before
// the file, after it and after a short read (a short read ends the reading, as a single
// read of the whole file would have).
class GridReader {
 public:
  GridReader(SNDFILE* file, sf_count_t items, int offset)
      : file_(file), remaining_(items), leading_(offset) {}

  void read(float* dst, std::int64_t count) {
    std::int64_t k = 0;
    const std::int64_t zeros = std::min<std::int64_t>(count, leading_);
    std::fill(dst, dst + zeros, 0.0f);
    leading_ -= zeros;
    k += zeros;
    if (k < count && remaining_ > 0) {
      const sf_count_t want = std::min<sf_count_t>(count - k, remaining_);
      sf_count_t got = sf_read_float(file_, dst + k, want);
      if (got < 0) got = 0;
      remaining_ = got < want ? 0 : remaining_ - want;
      k += got;
    }
    std::fill(dst + k, dst + count, 0.0f);
  }

 private:
  SNDFILE* file_;
  sf_count_t remaining_;
  std::int64_t leading_;
};

// Magnitudes of bins 0..191 of every audio frame into the columns of s; the trailing
// frames that hold no audio stay zero. Returns the largest magnitude, or NaN when a
// magnitude was not finite.
float fill_magnitudes(GridReader& reader, std::int64_t audioFrames, Eigen::MatrixXf& s) {
  const std::array<float, kFrameSamples> window = hann_window();
  FrameFft fft;
  std::vector<float> grid(static_cast<size_t>(kChunkHops + 1) * kHopSamples);

  // Eight independent lanes keep the running maximum and the check for NaN or infinity
  // (m * 0 is 0 for every finite m) off the critical path.
  constexpr int kLanes = 8;
  static_assert(kSpectrogramBins % kLanes == 0);
  std::array<float, kLanes> largest{};
  std::array<float, kLanes> poison{};
  if (audioFrames > 0) reader.read(grid.data(), kHopSamples);
  for (std::int64_t t0 = 0; t0 < audioFrames; t0 += kChunkHops) {
    const int hops = static_cast<int>(std::min<std::int64_t>(kChunkHops, audioFrames - t0));
    reader.read(grid.data() + kHopSamples, static_cast<std::int64_t>(hops) * kHopSamples);
    for (int j0 = 0; j0 < hops; j0 += kFftLanes) {
      const int count = std::min(kFftLanes, hops - j0);
      std::array<const float*, kFftLanes> frames{};
      std::array<float*, kFftLanes> columns{};
      for (int l = 0; l < count; ++l) {
        frames[l] = grid.data() + static_cast<size_t>(j0 + l) * kHopSamples;
        columns[l] = s.col(t0 + j0 + l).data();
      }
      fft.magnitudes(window, frames, columns, count);
      for (int l = 0; l < count; ++l) {
        const float* column = columns[l];
        for (int b = 0; b < kSpectrogramBins; b += kLanes) {
          for (int k = 0; k < kLanes; ++k) {
            const float m = column[b + k];
            largest[k] = m > largest[k] ? m : largest[k];
            poison[k] += m * 0.0f;
          }
        }
      }
    }
    std::copy(grid.begin() + static_cast<std::ptrdiff_t>(hops) * kHopSamples,
              grid.begin() + static_cast<std::ptrdiff_t>(hops + 1) * kHopSamples, grid.begin());
  }
  s.rightCols(s.cols() - audioFrames).setZero();
  float loudest = 0.0f;
  for (int l = 0; l < kLanes; ++l) {
    if (poison[l] != 0.0f) return NAN;
    loudest = largest[l] > loudest ? largest[l] : loudest;
  }
  return loudest;
}

// Natural log with the floor, in place; returns the single-precision sum of all values.
// The sum runs in the order of a 4-wide vectorised reduction (two interleaved packets,
// then (p0 + p2) + (p1 + p3)), written out so that the mean, and with it every later
// rounding, does not depend on the vector width a build happens to use.
float log_with_floor(Eigen::MatrixXf& s, float floorValue) {
  constexpr int kLanes = 8;
  static_assert(kSpectrogramBins % kLanes == 0);
  std::array<float, kLanes> lane{};
  for (Eigen::Index t = 0; t < s.cols(); ++t) {
    float* column = s.col(t).data();
    for (int b = 0; b < kSpectrogramBins; ++b) {
      const float m = column[b];
      column[b] = std::log(m < floorValue ? floorValue : m);
    }
    int b = 0;
    if (t == 0) {
      std::copy(column, column + kLanes, lane.begin());
      b = kLanes;
    }
    for (; b < kSpectrogramBins; b += kLanes) {
      for (int l = 0; l < kLanes; ++l) lane[l] += column[b + l];
    }
  }
  std::array<float, 4> packet{};
  for (int l = 0; l < 4; ++l) packet[l] = lane[l] + lane[l + 4];
  return (packet[0] + packet[2]) + (packet[1] + packet[3]);
}

// Mean removal and onset emphasis along every bin, in place, frame by frame: the
// first-order recursive filter y[t] = x[t] - x[t-1] + 0.98 y[t-1], each output summed in
// single precision from 0 in that order, as the plain direct-form filter sums it.
void remove_mean_and_emphasise(Eigen::MatrixXf& s, float mean) {
  std::array<float, kSpectrogramBins> previousIn{};
  for (Eigen::Index t = 0; t < s.cols(); ++t) {
    float* column = s.col(t).data();
    if (t == 0) {
      for (int b = 0; b < kSpectrogramBins; ++b) {
        const float v = column[b] - mean;
        previousIn[b] = v;
        float acc = 0.0f;
        acc += kOnsetB[0] * v;
        column[b] = acc;
      }
      continue;
    }
    const float* previousOut = s.col(t - 1).data();
    for (int b = 0; b < kSpectrogramBins; ++b) {
      const float v = column[b] - mean;
      float acc = 0.0f;
      acc += kOnsetB[0] * v;
      acc += kOnsetB[1] * previousIn[b];
      acc -= kOnsetA1 * previousOut[b];
      previousIn[b] = v;
      column[b] = acc;
    }
  }
}

}  // namespace

Eigen::MatrixXf final_specgram(const char* path, int* frameCountOut, float* secondsOut,
                               int sampleOffset) {
  Eigen::MatrixXf s;
  final_specgram(path, frameCountOut, secondsOut, sampleOffset, s);
  return s;
}

void final_specgram(const char* path, int* frameCountOut, float* secondsOut, int sampleOffset,
                    Eigen::MatrixXf& s) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  console() << "sf info FRAMES:" << info.frames << '\n';
  if (file == nullptr) {
    console() << "prazen spektrogram\n";
    s.setZero(1, 1);
    return;
  }
  const Sndfile closer(file);
  const sf_count_t n = info.frames;

  // n is rounded up to whole 384-sample blocks plus one more block; every block gives two
  // frames (one on the block, one half a block later), and the last two frames hold no
  // audio: F = 2 q + 2.
  const std::int64_t blocks = n / kFrameSamples;
  const std::int64_t audioFrames = 2 * blocks;
  const int frames = static_cast<int>(audioFrames + 2);
  console() << "specgram 832\n";
  console() << "specgram 837\n";
  console() << "specgram 892\n";

  s.resize(kSpectrogramBins, frames);
  GridReader reader(file, n, std::max(sampleOffset, 0));
  const float largest = fill_magnitudes(reader, audioFrames, s);

  if (frameCountOut != nullptr) *frameCountOut = frames;
  if (secondsOut != nullptr) *secondsOut = static_cast<float>(n / kAnalysisRate);

  if (!(largest > 0.0f)) {
    // Silence (or a file shorter than one window) has no loudest sound to measure a
    // floor from: the logarithm would be minus infinity everywhere and the mean NaN.
    // A flat picture says the same thing without poisoning the peaks.
    s.setZero();
    return;
  }
  const float floorValue = static_cast<float>(static_cast<double>(largest) / kFloorRatio);
  const float sum = log_with_floor(s, floorValue);
  const float mean = sum / static_cast<float>(s.size());
  remove_mean_and_emphasise(s, mean);
}

double sound_seconds(const char* path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (file == nullptr) return 0.0;
  const Sndfile closer(file);
  return info.samplerate > 0 ? static_cast<double>(info.frames) / info.samplerate : 0.0;
}
