#pragma once
// A plain model of one fingerprint pass, written step by step the slow way: the whole
// file in memory, every frame windowed on its own, full 384-bin spectra, Eigen's own
// reductions, the picture transposed, candidates through an ordered map, the skirts
// evaluated in place and every kept peak compared with every other. The fast pass must
// give the same results bit for bit. Include from one test file only.

#include "core/composeints.h"
#include "core/types.h"
#include "fingerprint/peaks.h"
#include "fingerprint/spectrogram.h"

#include <sndfile.h>
#include <unsupported/Eigen/FFT>

#include <algorithm>
#include <cmath>
#include <complex>
#include <fstream>
#include <map>
#include <utility>
#include <vector>

namespace reference {

// Direct-form recursive filter of order `ord` over np samples; a[0] is taken to be 1 and
// never read. Each output is summed in single precision from 0: the b terms in
// ascending order, then the a terms subtracted in ascending order.
inline void filter(int ord, const float* a, const float* b, int np, const float* x, float* y) {
  for (int i = 0; i < np; ++i) {
    const int reach = std::min(i, ord);
    float acc = 0.0f;
    for (int j = 0; j <= reach; ++j) acc += b[j] * x[i - j];
    for (int j = 0; j < reach; ++j) acc -= a[j + 1] * y[i - j - 1];
    y[i] = acc;
  }
}

// 192 x F; the 1 x 1 zero matrix when the file cannot be opened.
inline Eigen::MatrixXf specgram(const char* path, int sampleOffset, int* framesOut = nullptr) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (file == nullptr) return Eigen::MatrixXf::Zero(1, 1);
  const long n = static_cast<long>(info.frames);
  const long L = 384 * (n / 384 + 1);
  std::vector<float> x(L + sampleOffset, 0.0f);
  sf_read_float(file, x.data() + sampleOffset, n);
  sf_close(file);

  // Frame t starts at sample 192 t; the last two frames hold no audio.
  const int F = static_cast<int>(2 * L / 384);
  Eigen::FFT<float> fft;
  Eigen::MatrixXf S = Eigen::MatrixXf::Zero(192, F);
  for (int t = 0; t < F - 2; ++t) {
    std::vector<float> in(384);
    for (int k = 0; k < 384; ++k) {
      in[k] = (1 - std::cos(static_cast<float>(k) * 6.2831855f / 383)) * 0.5f *
              x[192 * static_cast<long>(t) + k];
    }
    std::vector<std::complex<float>> out;
    fft.fwd(out, in);
    for (int k = 0; k < 192; ++k) {
      S(k, t) = std::sqrt(out[k].real() * out[k].real() + out[k].imag() * out[k].imag());
    }
  }
  const float Smax = S.maxCoeff();
  if (framesOut != nullptr) *framesOut = F;
  if (!(Smax > 0.0f)) return Eigen::MatrixXf::Zero(192, F);  // silence: a flat picture

  const float floorValue = static_cast<float>(Smax / 1000000.0);
  S = S.unaryExpr([&](float v) { return std::log(v < floorValue ? floorValue : v); });
  const float mean = S.sum() / static_cast<float>(S.size());
  S.array() -= mean;
  const float a[2] = {1.0f, -0.98f};
  const float b[2] = {1.0f, -1.0f};
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

// Forward and backward passes over S (192 x F), F >= 10; the peak list has no limit.
inline KeptPeaks peaks(const Eigen::MatrixXf& spectrogram, float A_DEC) {
  struct Accepted {
    int t, p;
    float v;
  };
  KeptPeaks kept;
  const Eigen::MatrixXf S = spectrogram.transpose();  // frames x bins
  const int F = static_cast<int>(S.rows());
  std::vector<Accepted> list;
  const float r = 1.0 / 30;

  std::vector<float> first(192);
  for (int b = 0; b < 192; ++b) first[b] = S.col(b).head(10).maxCoeff();
  std::vector<float> threshold = Spread2(first, 30);
  for (int t = 0; t < F; ++t) {
    const std::vector<float> s = row_of(S, t);
    std::vector<float> excess(192);
    for (int b = 0; b < 192; ++b) {
      const float difference = s[b] - threshold[b];
      excess[b] = 0.0f >= difference ? 0.0f : difference;
    }
    std::vector<int> positions;
    std::vector<float> d = loc_max(excess, &positions);
    d[191] = 0;
    std::map<float, int> candidates;
    for (int b = 0; b < 192; ++b) candidates[d[b]] = b;
    candidates.erase(candidates.begin());
    int accepted = 0;
    for (auto it = candidates.rbegin(); it != candidates.rend() && accepted < 5; ++it) {
      const int p = it->second;
      if (s[p] > threshold[p]) {
        ++accepted;
        list.push_back({t, p, s[p]});
        for (int k = 0; k < 192; ++k) {
          const float lifted = s[p] * std::exp(-0.5 * ((k - p) * r) * ((k - p) * r));
          if (lifted > threshold[k]) threshold[k] = lifted;
        }
      }
    }
    for (float& v : threshold) v *= A_DEC;
  }

  threshold = Spread2(row_of(S, F - 1), 30);
  auto w = list.rbegin();
  for (int t = F - 1; t >= 0; --t) {
    for (; w != list.rend() && w->t == t; ++w) {
      const int p = w->p;
      const float v = w->v;
      if (v >= threshold[p]) {
        ++kept.count;
        kept.peaks.emplace_back(p, t);
        for (int k = 0; k < 192; ++k) {
          const float lifted = v * std::exp(-0.5 * std::pow((k - p) * r, 2.0));
          if (lifted > threshold[k]) threshold[k] = lifted;
        }
      }
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
  const Eigen::MatrixXf S = specgram(path, sampleOffset, &frames);
  if (S.rows() <= 1 || frames < 10) return LandmarkTable::Zero(1, 2);
  return landmarks(peaks(S, A_DEC), 31.0f, 63.0f);
}

}  // namespace reference
