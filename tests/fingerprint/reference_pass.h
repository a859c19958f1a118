#pragma once
// A plain model of one fingerprint pass, written step by step the slow way: the whole
// file in memory, frames copied into a frame buffer, full 384-bin spectra, Eigen's own
// reductions, the picture transposed, candidates through an ordered map, the skirts
// evaluated in place and every kept peak compared with every other. The fast pass must
// give the same results bit for bit. Include from one test file only.

#include "core/composeints.h"
#include "core/types.h"
#include "fingerprint/peaks.h"
#include "fingerprint/spectrogram.h"

#include <sndfile.h>
#include <unsupported/Eigen/FFT>

#include <cmath>
#include <complex>
#include <fstream>
#include <map>
#include <utility>
#include <vector>

namespace reference {

// 192 x F; the 1 x 1 zero matrix when the file cannot be opened.
inline Eigen::MatrixXf specgram(const char* path, int sampleOffset, int* framesOut = nullptr,
                                float* secondsOut = nullptr) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (file == nullptr) return Eigen::MatrixXf::Zero(1, 1);
  const long n = static_cast<long>(info.frames);
  const long q = n / 384;
  const long L = n + 384 - (n - 384 * q);
  std::vector<float> x(L + sampleOffset, 0.0f);
  sf_read_float(file, x.data() + sampleOffset, n);
  sf_close(file);

  std::vector<float> y(2 * L, 0.0f);
  long filled = 0;
  for (long s = 0; s < L - 384; s += 384) {
    for (long k = 0; k < 384; ++k) y[filled++] = x[s + k];
    for (long k = 0; k < 384; ++k) y[filled++] = x[s + 192 + k];
  }
  const int F = static_cast<int>(2 * L / 384);

  Eigen::MatrixXf windowed(384, F);
  for (int t = 0; t < F; ++t) {
    for (int k = 0; k < 384; ++k) {
      windowed(k, t) = (1 - std::cos(static_cast<float>(k) * 6.2831855f / 383)) * 0.5f *
                       y[384 * static_cast<long>(t) + k];
    }
  }
  Eigen::FFT<float> fft;
  Eigen::MatrixXf Z = Eigen::MatrixXf::Zero(384, F);
  for (int t = 0; t < F - 1; ++t) {
    std::vector<float> in(windowed.col(t).data(), windowed.col(t).data() + 384);
    std::vector<std::complex<float>> out;
    fft.fwd(out, in);
    for (int k = 0; k < 384; ++k) {
      Z(k, t) = std::sqrt(out[k].real() * out[k].real() + out[k].imag() * out[k].imag());
    }
  }
  Eigen::MatrixXf S = Z.topRows(192);
  const float Smax = S.maxCoeff();
  if (framesOut != nullptr) *framesOut = F;
  if (secondsOut != nullptr) *secondsOut = static_cast<float>(n / 8000);
  if (!(Smax > 0.0f)) return Eigen::MatrixXf::Zero(192, F);  // silence: a flat picture

  S = Max(static_cast<float>(Smax / 1000000.0), S).unaryExpr([](float v) { return std::log(v); });
  const float mean = S.sum() / static_cast<float>(S.size());
  S.array() -= mean;
  float a[2] = {1.0f, -0.98f};
  float b[2] = {1.0f, -1.0f};
  for (int bin = 0; bin < 192; ++bin) {
    std::vector<float> in(F), out(F);
    for (int t = 0; t < F; ++t) in[t] = S(bin, t);
    filter(1, a, b, F, in.data(), out.data());
    for (int t = 0; t < F; ++t) S(bin, t) = out[t];
  }
  return S;
}

inline std::vector<float> row_of(const Eigen::MatrixXf& m, int r) {
  std::vector<float> v(m.cols());
  for (int c = 0; c < m.cols(); ++c) v[c] = m(r, c);
  return v;
}

// Forward and backward passes over S (192 x F), F >= 10.
inline KeptPeaks peaks(const Eigen::MatrixXf& spectrogram, float A_DEC, int N) {
  KeptPeaks kept;
  const Eigen::MatrixXf S = spectrogram.transpose();  // frames x bins
  const int F = static_cast<int>(S.rows());
  Eigen::MatrixXf list = Eigen::MatrixXf::Zero(3, std::max(N, 2));
  int count = 0;
  const float r = 1.0 / 30;

  std::vector<float> first(192);
  for (int b = 0; b < 192; ++b) first[b] = S.col(b).head(10).maxCoeff();
  std::vector<float> threshold = Spread2(first, 30);
  for (int t = 0; t < F; ++t) {
    const std::vector<float> s = row_of(S, t);
    std::vector<float> difference(192);
    for (int b = 0; b < 192; ++b) difference[b] = s[b] - threshold[b];
    std::vector<int> positions;
    std::vector<float> d = loc_max(mavo_max_zerovec({0.0f}, difference), &positions);
    d[191] = 0;
    std::map<float, int> candidates;
    for (int b = 0; b < 192; ++b) candidates[d[b]] = b;
    candidates.erase(candidates.begin());
    int accepted = 0;
    for (auto it = candidates.rbegin(); it != candidates.rend() && accepted < 5; ++it) {
      const int p = it->second;
      if (s[p] > threshold[p]) {
        ++accepted;
        ++count;
        if (count >= list.cols()) {
          const Eigen::Index old = list.cols();
          list.conservativeResize(3, 2 * old);
          list.rightCols(old).setZero();
        }
        list(0, count) = static_cast<float>(t);
        list(1, count) = static_cast<float>(p);
        list(2, count) = s[p];
        for (int k = 0; k < 192; ++k) {
          const float lifted = s[p] * std::exp(-0.5 * ((k - p) * r) * ((k - p) * r));
          if (lifted > threshold[k]) threshold[k] = lifted;
        }
      }
    }
    for (float& v : threshold) v *= A_DEC;
  }

  threshold = Spread2(row_of(S, F - 1), 30);
  int w = count;
  for (int t = F - 1; t >= 0; --t) {
    while (w > 0 && list(0, w) == static_cast<float>(t)) {
      const int p = static_cast<int>(list(1, w));
      const float v = list(2, w);
      if (v >= threshold[p]) {
        ++kept.count;
        kept.peaks.emplace_back(p, t);
        for (int k = 0; k < 192; ++k) {
          const float lifted = v * std::exp(-0.5 * std::pow((k - p) * r, 2.0));
          if (lifted > threshold[k]) threshold[k] = lifted;
        }
      }
      --w;
    }
    for (float& v : threshold) v *= A_DEC;
  }
  if (kept.count == 0) kept.peaks.assign(3, {0, 0});
  return kept;
}

inline LandmarkTable landmarks(const KeptPeaks& kept, float targetDf, float targetDt) {
  if (kept.count == 0) return LandmarkTable::Zero(1, 2);
  LandmarkTable table(20 * kept.count, 2);
  int rows = 0;
  for (int j = 0; j < kept.count; ++j) {
    const float f1 = kept.peaks[j].first;
    const float t1 = kept.peaks[j].second;
    int partners = 0;
    for (int i = 0; i < kept.count; ++i) {
      const float f2 = kept.peaks[i].first;
      const float t2 = kept.peaks[i].second;
      if (t1 < t2 && t2 < t1 + targetDt && f1 - targetDf < f2 && f2 < f1 + targetDf) {
        ++partners;
        if (partners <= 9) {
          std::uint64_t a = static_cast<std::uint64_t>(f1);
          std::uint64_t b = static_cast<std::uint64_t>(f2);
          std::uint64_t c = static_cast<std::uint64_t>(static_cast<int>(t2) - t1);
          table(rows, 0) = static_cast<std::uint64_t>(t1);
          table(rows, 1) = composeints::composeInts(a, b, c);
          ++rows;
        }
      }
    }
  }
  return table.topRows(rows);
}

inline LandmarkTable pass(const char* path, float A_DEC, int sampleOffset) {
  if (!std::ifstream(path).is_open()) return LandmarkTable::Zero(1, 2);
  int frames = 0;
  float seconds = 0.0f;
  const Eigen::MatrixXf S = specgram(path, sampleOffset, &frames, &seconds);
  if (S.rows() <= 1 || frames < 10) return LandmarkTable::Zero(1, 2);
  const int N = 50 * (seconds > 0 ? static_cast<int>(seconds) : 5);
  return landmarks(peaks(S, A_DEC, N), 31.0f, 63.0f);
}

}  // namespace reference
