#include "fingerprint/frame_fft.h"

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstring>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

constexpr int kRealSize = kFrameSamples;
constexpr int kComplexSize = kRealSize / 2;     // the real transform runs as a 192-point one
constexpr int kPostPairs = kRealSize / 4;       // post-processing pairs k and 192 - k, k = 1..96
constexpr int kBins = kComplexSize;             // the bins the spectrogram keeps: 0..191
// kissfft splits 192 into radices 4, 4, 4, 3 (it tries 4 first, then 2, then 3).
constexpr int kStages = 4;
constexpr int kRadix[kStages] = {4, 4, 4, 3};
constexpr int kRemainder[kStages] = {48, 12, 3, 1};

using Lanes = float __attribute__((vector_size(4 * kFftLanes)));

struct Cx {
  Lanes re;
  Lanes im;
};

inline Cx operator+(Cx a, Cx b) { return {a.re + b.re, a.im + b.im}; }
inline Cx operator-(Cx a, Cx b) { return {a.re - b.re, a.im - b.im}; }
// The same four products and two sums as the compiler's complex<float> multiply.
inline Cx operator*(Cx a, std::complex<float> w) {
  const float c = w.real();
  const float d = w.imag();
  return {a.re * c - a.im * d, a.re * d + a.im * c};
}
inline Cx scaled(Cx a, float s) { return {a.re * s, a.im * s}; }
inline Cx conj(Cx a) { return {a.re, -a.im}; }

// Correctly rounded, as std::sqrt is, so the lanes agree with the one-frame code.
inline Lanes square_root(Lanes x) {
#if defined(__SSE__)
  static_assert(sizeof(Lanes) % sizeof(__m128) == 0);
  Lanes r;
  for (std::size_t k = 0; k < sizeof(Lanes) / sizeof(__m128); ++k) {
    __m128 part;
    std::memcpy(&part, reinterpret_cast<const char*>(&x) + k * sizeof(__m128), sizeof(part));
    part = _mm_sqrt_ps(part);
    std::memcpy(reinterpret_cast<char*>(&r) + k * sizeof(__m128), &part, sizeof(part));
  }
  return r;
#else
  for (int l = 0; l < kFftLanes; ++l) x[l] = std::sqrt(x[l]);
  return x;
#endif
}

}  // namespace

struct FrameFft::Plan {
  std::vector<std::complex<float>> twiddles;      // of the 192-point transform
  std::vector<std::complex<float>> realTwiddles;  // of the real-input post-processing
  std::array<Cx, kComplexSize> input{};
  std::array<Cx, kComplexSize + 1> output{};
  std::array<Lanes, kBins> magnitude{};

  Plan() {
    make_twiddles();
    realTwiddles.resize(kPostPairs);
    const float pi = std::acos(-1.0f);
    for (int k = 1; k <= kPostPairs; ++k) {
      realTwiddles[k - 1] = std::exp(
          std::complex<float>(0, -pi * (static_cast<float>(k) / kComplexSize + 0.5f)));
    }
  }

  // The library's forward twiddles: each octant from double cos and sin, rounded once.
  void make_twiddles() {
    const int n = kComplexSize;
    twiddles.resize(n);
    const double phinc = 0.25 * M_PI / n;
    const float flip = -1.0f;
    twiddles[0] = {1.0f, 0.0f};
    twiddles[n / 2] = {-1.0f, 0.0f};
    int i = 1;
    for (; i * 8 < n; ++i) {
      const auto c = static_cast<float>(std::cos(i * 8 * phinc));
      const auto s = static_cast<float>(std::sin(i * 8 * phinc));
      twiddles[i] = {c, s * flip};
      twiddles[n - i] = {c, -s * flip};
    }
    for (; i * 4 < n; ++i) {
      const auto c = static_cast<float>(std::cos((2 * n - 8 * i) * phinc));
      const auto s = static_cast<float>(std::sin((2 * n - 8 * i) * phinc));
      twiddles[i] = {s, c * flip};
      twiddles[n - i] = {s, -c * flip};
    }
    for (; i * 8 < 3 * n; ++i) {
      const auto c = static_cast<float>(std::cos((8 * i - 2 * n) * phinc));
      const auto s = static_cast<float>(std::sin((8 * i - 2 * n) * phinc));
      twiddles[i] = {-s, c * flip};
      twiddles[n - i] = {-s, -c * flip};
    }
    for (; i * 2 < n; ++i) {
      const auto c = static_cast<float>(std::cos((4 * n - 8 * i) * phinc));
      const auto s = static_cast<float>(std::sin((4 * n - 8 * i) * phinc));
      twiddles[i] = {-c, s * flip};
      twiddles[n - i] = {-c, -s * flip};
    }
  }

  // Decimation in time, recursing over the stages in the library's order.
  void work(int stage, Cx* out, const Cx* in, std::size_t fstride) {
    const int p = kRadix[stage];
    const int m = kRemainder[stage];
    Cx* const begin = out;
    Cx* const end = out + p * m;
    if (m > 1) {
      do {
        work(stage + 1, out, in, fstride * p);
        in += fstride;
      } while ((out += m) != end);
    } else {
      do {
        *out = *in;
        in += fstride;
      } while (++out != end);
    }
    if (p == 4) {
      butterfly4(begin, fstride, m);
    } else {
      butterfly3(begin, fstride, m);
    }
  }

  void butterfly4(Cx* f, std::size_t fstride, std::size_t m) {
    for (std::size_t k = 0; k < m; ++k) {
      const Cx s0 = f[k + m] * twiddles[k * fstride];
      const Cx s1 = f[k + 2 * m] * twiddles[k * fstride * 2];
      const Cx s2 = f[k + 3 * m] * twiddles[k * fstride * 3];
      const Cx s5 = f[k] - s1;
      f[k] = f[k] + s1;
      const Cx s3 = s0 + s2;
      Cx s4 = s0 - s2;
      s4 = {s4.im, -s4.re};
      f[k + 2 * m] = f[k] - s3;
      f[k] = f[k] + s3;
      f[k + m] = s5 + s4;
      f[k + 3 * m] = s5 - s4;
    }
  }

  void butterfly3(Cx* f, std::size_t fstride, std::size_t m) {
    const std::size_t m2 = 2 * m;
    const float epi3 = twiddles[fstride * m].imag();
    const std::complex<float>* tw1 = twiddles.data();
    const std::complex<float>* tw2 = twiddles.data();
    for (std::size_t k = m; k > 0; --k, ++f) {
      const Cx s1 = f[m] * *tw1;
      const Cx s2 = f[m2] * *tw2;
      const Cx s3 = s1 + s2;
      const Cx s0 = scaled(s1 - s2, epi3);
      tw1 += fstride;
      tw2 += fstride * 2;
      f[m] = {f->re - 0.5f * s3.re, f->im - 0.5f * s3.im};
      *f = *f + s3;
      f[m2] = {f[m].re + s0.im, f[m].im - s0.re};
      f[m] = f[m] + Cx{-s0.im, s0.re};
    }
  }

  // The real-input transform: the 384 samples as 192 complex ones, then the split.
  void forward() {
    work(0, output.data(), input.data(), 1);
    Cx* dst = output.data();
    const Cx dc{dst[0].re + dst[0].im, Lanes{}};
    for (int k = 1; k <= kPostPairs; ++k) {
      const Cx fpk = dst[k];
      const Cx fpnk = conj(dst[kComplexSize - k]);
      const Cx f1k = fpk + fpnk;
      const Cx f2k = fpk - fpnk;
      const Cx tw = f2k * realTwiddles[k - 1];
      dst[k] = scaled(f1k + tw, 0.5f);
      dst[kComplexSize - k] = scaled(conj(f1k - tw), 0.5f);
    }
    dst[0] = dc;
  }
};

FrameFft::FrameFft() : plan_(std::make_unique<Plan>()) {}
FrameFft::~FrameFft() = default;

void FrameFft::magnitudes(const std::array<float, kFrameSamples>& window,
                          const std::array<const float*, kFftLanes>& frames,
                          const std::array<float*, kFftLanes>& columns, int count) {
  std::array<Cx, kComplexSize>& in = plan_->input;
  // Lanes past count stay zero, as do their (unused) spectra.
  if (count < kFftLanes) in.fill(Cx{Lanes{}, Lanes{}});
  for (int l = 0; l < count; ++l) {
    const float* frame = frames[l];
    for (int j = 0; j < kComplexSize; ++j) {
      in[j].re[l] = window[2 * j] * frame[2 * j];
      in[j].im[l] = window[2 * j + 1] * frame[2 * j + 1];
    }
  }
  plan_->forward();
  const Cx* out = plan_->output.data();
  std::array<Lanes, kBins>& magnitude = plan_->magnitude;
  for (int b = 0; b < kBins; ++b) {
    magnitude[b] = square_root(out[b].re * out[b].re + out[b].im * out[b].im);
  }
  for (int l = 0; l < count; ++l) {
    float* column = columns[l];
    for (int b = 0; b < kBins; ++b) column[b] = magnitude[b][l];
  }
}
