#include "fingerprint/peaks.h"

#include "fingerprint/spectrogram.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int kSpreadWidth = 30;    // bins (625 Hz): standard deviation of a peak's skirt
constexpr int kPeaksPerFrame = 5;   // at most 5 per 24 ms frame, about 208 per second
constexpr int kInitialFrames = 10;  // the first 240 ms set the starting threshold
constexpr int kLastBin = kSpectrogramBins - 1;
constexpr int kNoPeakPairs = 3;     // (0, 0) pairs that stand for an empty kept list

using Threshold = std::array<float, kSpectrogramBins>;
// Skirt factor by bin distance d = k - p, stored at index d + 191.
using SkirtTable = std::array<double, 2 * kLastBin + 1>;

// Skirts of the two passes. Both scale the distance by 1/30 rounded to a float; the
// forward pass squares it in single precision, the backward pass as a double power, and
// both take the Gaussian in double and round the lifted threshold once to float. These
// differences are part of every fingerprint ever made: keep them.
struct Skirts {
  SkirtTable forward;
  SkirtTable backward;
};

Skirts make_skirts() {
  const float scale = static_cast<float>(1.0 / kSpreadWidth);  // 0.033333335
  Skirts skirts{};
  for (int d = -kLastBin; d <= kLastBin; ++d) {
    const float x = static_cast<float>(d) * scale;
    skirts.forward[d + kLastBin] = std::exp(-0.5 * static_cast<double>(x * x));
    skirts.backward[d + kLastBin] = std::exp(-0.5 * std::pow(x, 2.0));
  }
  return skirts;
}

// threshold[k] = max(threshold[k], value * skirt(k - p)) over all 192 bins; the skirt is
// not cut off.
void raise_threshold(Threshold& threshold, float value, int p, const SkirtTable& skirt) {
  const double v = value;
  const double* g = skirt.data() + (kLastBin - p);
  for (int k = 0; k < kSpectrogramBins; ++k) {
    const float lifted = static_cast<float>(v * g[k]);
    threshold[k] = lifted > threshold[k] ? lifted : threshold[k];
  }
}

void decay(Threshold& threshold, float A_DEC) {
  for (float& v : threshold) v *= A_DEC;
}

Threshold spread_of(std::vector<float> values) {
  const std::vector<float> spread = Spread2(std::move(values), kSpreadWidth);
  Threshold threshold{};
  std::copy(spread.begin(), spread.end(), threshold.begin());
  return threshold;
}

struct Peak {
  int frame;
  int bin;
  float value;
};

struct Candidate {
  float excess;
  int bin;
};

// Local maxima of the excess over the threshold, strongest first. Of equal excesses only
// the highest bin is a candidate at all.
int frame_candidates(const float* s, const Threshold& threshold,
                     std::array<Candidate, kSpectrogramBins>& out) {
  std::array<float, kSpectrogramBins> excess;
  for (int b = 0; b < kSpectrogramBins; ++b) {
    const float e = s[b] - threshold[b];
    excess[b] = 0.0f >= e ? 0.0f : e;
  }
  int count = 0;
  for (int k = 0; k < kLastBin; ++k) {
    if ((k == 0 || excess[k] >= excess[k - 1]) && excess[k] > excess[k + 1]) {
      out[count++] = {excess[k], k};
    }
  }
  std::sort(out.begin(), out.begin() + count, [](const Candidate& a, const Candidate& b) {
    return a.excess > b.excess || (a.excess == b.excess && a.bin > b.bin);
  });
  int distinct = 0;
  for (int i = 0; i < count; ++i) {
    if (distinct > 0 && out[i].excess == out[distinct - 1].excess) continue;
    out[distinct++] = out[i];
  }
  return distinct;
}

std::vector<Peak> forward_pass(const Eigen::MatrixXf& s, float A_DEC, const Skirts& skirts,
                               int reserve) {
  std::vector<Peak> peaks;
  peaks.reserve(static_cast<size_t>(std::max(reserve, 0)));
  std::vector<float> loudest(kSpectrogramBins);
  for (int b = 0; b < kSpectrogramBins; ++b) {
    float m = s(b, 0);
    for (int t = 1; t < kInitialFrames; ++t) m = s(b, t) > m ? s(b, t) : m;
    loudest[b] = m;
  }
  Threshold threshold = spread_of(std::move(loudest));

  std::array<Candidate, kSpectrogramBins> candidates;
  for (int t = 0; t < s.cols(); ++t) {
    const float* frame = s.col(t).data();
    const int count = frame_candidates(frame, threshold, candidates);
    int accepted = 0;
    for (int i = 0; i < count && accepted < kPeaksPerFrame; ++i) {
      const int p = candidates[i].bin;
      if (frame[p] > threshold[p]) {
        ++accepted;
        peaks.push_back({t, p, frame[p]});
        raise_threshold(threshold, frame[p], p, skirts.forward);
      }
    }
    decay(threshold, A_DEC);
  }
  return peaks;
}

KeptPeaks backward_pass(const Eigen::MatrixXf& s, const std::vector<Peak>& peaks, float A_DEC,
                        const Skirts& skirts) {
  const int last = static_cast<int>(s.cols()) - 1;
  const float* lastFrame = s.col(last).data();
  Threshold threshold = spread_of(std::vector<float>(lastFrame, lastFrame + kSpectrogramBins));

  KeptPeaks kept;
  size_t w = peaks.size();
  for (int t = last; t >= 0; --t) {
    // Within a frame the peaks come in reverse acceptance order, weakest excess first.
    for (; w > 0 && peaks[w - 1].frame == t; --w) {
      const Peak& peak = peaks[w - 1];
      if (peak.value >= threshold[peak.bin]) {
        kept.peaks.emplace_back(peak.bin, t);
        raise_threshold(threshold, peak.value, peak.bin, skirts.backward);
      }
    }
    decay(threshold, A_DEC);
  }
  kept.count = static_cast<int>(kept.peaks.size());
  return kept;
}

}  // namespace

std::vector<float> loc_max(std::vector<float> X, std::vector<int>* positions) {
  const int n = static_cast<int>(X.size());
  std::vector<float> out(X.size(), 0.0f);
  for (int k = 0; k + 1 < n; ++k) {
    if ((k == 0 || X[k] >= X[k - 1]) && X[k] > X[k + 1]) out[k] = X[k];
  }
  if (positions != nullptr) {
    for (int k = 0; k < n; ++k) {
      if (out[k] != 0.0f) positions->push_back(k);
    }
  }
  return out;
}

std::vector<float> Spread2(std::vector<float> X, int E) {
  const int n = static_cast<int>(X.size());
  std::vector<float> Y(X.size(), 0.0f);
  if (E <= 0) return Y;
  const int reach = 4 * E;  // the skirt covers offsets -4E .. 4E - 1
  std::vector<float> skirt(2 * static_cast<size_t>(reach));
  for (int m = 0; m < 2 * reach; ++m) {
    const float q = static_cast<float>(m - reach) / static_cast<float>(E);
    skirt[m] = std::exp(-0.5f * (q * q));
  }
  std::vector<int> positions;
  const std::vector<float> maxima = loc_max(std::move(X), &positions);
  for (int i : positions) {
    const int from = std::max(0, i - reach);
    const int to = std::min(n - 1, i + reach - 1);
    for (int k = from; k <= to; ++k) {
      const float v = maxima[i] * skirt[k - i + reach];
      if (v > Y[k]) Y[k] = v;
    }
  }
  return Y;
}

KeptPeaks pick_peaks(const Eigen::MatrixXf& spectrogram, float A_DEC, int N) {
  KeptPeaks kept;
  if (spectrogram.rows() == kSpectrogramBins && spectrogram.cols() >= kInitialFrames) {
    const Skirts skirts = make_skirts();
    const int room = static_cast<int>(
        std::min<Eigen::Index>(N, kPeaksPerFrame * spectrogram.cols()));
    const std::vector<Peak> peaks = forward_pass(spectrogram, A_DEC, skirts, room);
    kept = backward_pass(spectrogram, peaks, A_DEC, skirts);
  }
  if (kept.count == 0) kept.peaks.assign(kNoPeakPairs, {0, 0});
  return kept;
}
