#include "matching/refine.h"

#include "core/format.h"
#include "core/parallel.h"
#include "core/process.h"
#include "core/stop.h"
#include "matching/analysis_sound.h"
#include "matching/sound_measures.h"
#include "matching/pairs_to_refine.h"
#include "matching/real_fft.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <utility>
#include <vector>

namespace {

// Six 15 s windows give the drift line 75 s of evidence at best; below 45 s six would
// overlap, so three thirds are used, and below 9 s (three 3 s windows) one whole window.
constexpr double kLongWindowSec = 15.0;
constexpr int kLongWindowCount = 6;
constexpr double kSixWindowMinOverlapSec = 45.0;
constexpr int kThirdsWindowCount = 3;
constexpr double kThirdsMinOverlapSec = 9.0;
// A shorter stretch can hold little more than one click, whose whitened spike would pass
// for a sharp peak anywhere in the searched lags.
constexpr double kMinWindowSec = 1.0;

// Lags this close to the peak belong to its main lobe and early echoes, not to the floor.
constexpr double kPeakExclusionSec = 0.050;
// A sharp peak can still be the wrong one: tonal music or a sound reaching a microphone
// twice gives rival peaks a millisecond or so away, nearly as high, and noise decides
// which one wins. A window with another peak this close to its highest, beyond the main
// lobe of the band (whose first zero lies 0.26 ms out), is left out of the line whenever
// enough windows without one remain; noisy rooms give such rivals often enough that
// requiring none would leave many pairs at their decided offsets, tens of ms early.
constexpr double kMainLobeSec = 0.00025;
constexpr double kMaxRivalRatio = 0.8;
constexpr double kGoodPsr = 12.0;
constexpr double kSingleWindowPsr = 20.0;  // one window has no neighbours to agree with
constexpr int kGoodWindowsNeeded = 3;
constexpr double kMaxSpreadSec = 0.005;
constexpr double kDriftNegligiblePpm = 1.0;
constexpr double kPpm = 1e6;
// Above this drift a window's offset moves by over a tenth of a sample across it, and the
// windows are measured again along the first line. Beyond the last, the first line was
// fitted to chance peaks: no real pair of clocks is that far apart.
constexpr double kAlongDriftMinPpm = 2.0;
constexpr double kAlongDriftMaxPpm = 500.0;
constexpr int kSincTaps = 8;
constexpr double kPi = 3.14159265358979323846;

// Keeps the phase transform finite on bins where the cross spectrum vanishes (digital
// silence), relative to the window's mean magnitude so it never dominates real bins.
constexpr float kPhatEpsilonRelative = 1e-6f;

// sin and cos of π·j/a, the angles a tap's weight is built from.
std::pair<double, double> angle(int j) {
  static const auto angles = [] {
    std::array<std::pair<double, double>, 2 * kSincTaps> t{};
    for (int i = 0; i < 2 * kSincTaps; ++i) t[static_cast<std::size_t>(i)] = {std::sin(kPi * i / kSincTaps), std::cos(kPi * i / kSincTaps)};
    return t;
  }();
  return angles[static_cast<std::size_t>(((j % (2 * kSincTaps)) + 2 * kSincTaps) % (2 * kSincTaps))];
}

// The along-drift resampling's rotations are started exactly this often (samples).
constexpr std::int64_t kExactEvery = 1024;

// One output sample's taps, k = 1 − a … a, and their weights four at a time in the
// compiler's vectors.
constexpr int kTapCount = 2 * kSincTaps;
constexpr int kTapQuads = kTapCount / 4;
using TapQuad = double __attribute__((vector_size(4 * sizeof(double))));
using Taps = std::array<double, kTapCount>;

// What the taps' weights need of k alone: k, ∓1 for sin(π(k − f)) against sin(πf), and
// the angle πk/a.
struct TapConstants {
  std::array<TapQuad, kTapQuads> k, sign, sin_ka, cos_ka;
};

const TapConstants& tap_constants() {
  static const TapConstants taps = [] {
    TapConstants t{};
    for (int j = 0; j < kTapCount; ++j) {
      const int k = j - kSincTaps + 1;
      const auto q = static_cast<std::size_t>(j / 4);
      t.k[q][j % 4] = k;
      t.sign[q][j % 4] = k % 2 == 0 ? -1.0 : 1.0;
      t.sin_ka[q][j % 4] = angle(k).first;
      t.cos_ka[q][j % 4] = angle(k).second;
    }
    return t;
  }();
  return taps;
}

// What one output sample's weights follow from: its fraction f, sin(πf) with the sign of
// its whole part, and sin, cos of πf/a.
struct TapAngles {
  double fraction, sin_f, sin_fa, cos_fa;
};

// The weights of n samples. Divisions are most of the resampling's time, and a machine
// with AVX2 does twice as many at once; the quotients are correctly rounded either way,
// and no multiply and add is fused, so both give the same weights to the bit. The choice
// is made as the program is loaded, before a sanitizer's runtime could see it: sanitized
// builds keep the plain one.
#if defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define BRENVIK_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define BRENVIK_AVX2_CLONES
#endif
BRENVIK_AVX2_CLONES
void tap_weights(const TapAngles* angles, std::size_t n, Taps* weights) {
  const TapConstants& taps = tap_constants();
  const TapQuad one = {1.0, 1.0, 1.0, 1.0};
  for (std::size_t i = 0; i < n; ++i) {
    const TapAngles& a = angles[i];
    for (std::size_t q = 0; q < kTapQuads; ++q) {
      const TapQuad x = taps.k[q] - a.fraction;
      const TapQuad sin_x = taps.sign[q] * a.sin_f;
      const TapQuad sin_xa = taps.sin_ka[q] * a.cos_fa - taps.cos_ka[q] * a.sin_fa;
      const TapQuad weight = static_cast<double>(kSincTaps) * sin_x * sin_xa / (kPi * kPi * x * x);
      // At the sample itself the sinc is 1 (the quotient there is 0/0).
      const TapQuad kept = (x > 1e-9) | (x < -1e-9) ? weight : one;
      std::memcpy(weights[i].data() + 4 * q, &kept, sizeof kept);
    }
  }
}

// floor() for the positions of the resampling, which are far inside the integers' range;
// the library call costs as much as a tap.
std::int64_t whole_below(double x) {
  const auto t = static_cast<std::int64_t>(x);
  return static_cast<double>(t) > x ? t - 1 : t;
}

struct WindowSpan {
  double start = 0.0;  // shorter-file seconds
  double length = 0.0;
};

struct WindowResult {
  double centre = 0.0;  // shorter-file seconds
  double offset = 0.0;  // seconds, shorter minus longer
  double psr = 0.0;
  double rival = 1.0;  // the highest other peak of the searched lags, relative to the peak
  bool at_edge = true;
};

//! Windows spread evenly over the overlap [start, start + length) of shorter-file time.
std::vector<WindowSpan> window_layout(double start, double length) {
  std::vector<WindowSpan> spans;
  if (!(length >= kMinWindowSec)) return spans;
  if (length >= kSixWindowMinOverlapSec) {
    const double step = (length - kLongWindowSec) / (kLongWindowCount - 1);
    for (int k = 0; k < kLongWindowCount; ++k) spans.push_back({start + k * step, kLongWindowSec});
  } else if (length >= kThirdsMinOverlapSec) {
    const double third = length / kThirdsWindowCount;
    for (int k = 0; k < kThirdsWindowCount; ++k) spans.push_back({start + k * third, third});
  } else {
    spans.push_back({start, length});
  }
  return spans;
}

//! Peak-to-sidelobe ratio of `r` at `peak`, against the lags outside the peak's lobe.
double peak_sharpness(const std::vector<float>& r, int lags, int peak, int exclusion) {
  double sum = 0.0, sum2 = 0.0;
  int count = 0;
  for (int k = 0; k < lags; ++k) {
    if (std::abs(k - peak) <= exclusion) continue;
    sum += r[k];
    sum2 += static_cast<double>(r[k]) * r[k];
    ++count;
  }
  if (count < 2) return 0.0;
  const double mean = sum / count;
  const double variance = sum2 / count - mean * mean;
  if (!(variance > 0.0)) return 0.0;
  return (r[peak] - mean) / std::sqrt(variance);
}

//! The highest local maximum of `r` outside the peak's main lobe, over the peak's value.
double rival_ratio(const std::vector<float>& r, int lags, int peak, int lobe) {
  if (!(r[peak] > 0.0f)) return 1.0;
  float rival = 0.0f;
  for (int k = 1; k + 1 < lags; ++k) {
    if (std::abs(k - peak) <= lobe) continue;
    if (r[k] >= r[k - 1] && r[k] >= r[k + 1]) rival = std::max(rival, r[k]);
  }
  return static_cast<double>(rival) / r[peak];
}

struct Line {
  double slope = 0.0;      // seconds of offset per second of shorter-file time
  double intercept = 0.0;  // offset at shorter-file time 0
  double spread = 0.0;     // range of the residuals
};

Line fit_line(const std::vector<WindowResult>& good) {
  Line line;
  if (good.empty()) return line;
  double tm = 0.0, om = 0.0;
  for (const auto& w : good) {
    tm += w.centre;
    om += w.offset;
  }
  tm /= good.size();
  om /= good.size();
  double sxy = 0.0, sxx = 0.0;
  for (const auto& w : good) {
    sxy += (w.centre - tm) * (w.offset - om);
    sxx += (w.centre - tm) * (w.centre - tm);
  }
  if (sxx > 0.0) line.slope = sxy / sxx;
  line.intercept = om - line.slope * tm;
  double lo = 0.0, hi = 0.0;
  for (size_t i = 0; i < good.size(); ++i) {
    const double residual = good[i].offset - (line.intercept + line.slope * good[i].centre);
    lo = i ? std::min(lo, residual) : residual;
    hi = i ? std::max(hi, residual) : residual;
  }
  line.spread = hi - lo;
  return line;
}

double median_offset(const std::vector<WindowResult>& good) {
  std::vector<double> v;
  for (const auto& w : good) v.push_back(w.offset);
  return median(std::move(v));
}

// Cross-correlates one window of the shorter file with the stretch of the longer file
// that the decided offset puts under it, widened by the searched lags on both sides.
class WindowCorrelator {
 public:
  WindowCorrelator(SoundFile& shorter, SoundFile& longer, int rate, std::int64_t window_samples)
      : shorter_(shorter), longer_(longer), rate_(rate), window_(window_samples) {
    half_lags_ = static_cast<int>(std::lround(kSearchHalfWidthSec * rate));
    lags_ = 2 * half_lags_ + 1;
    // Every searched lag must see the whole window without the transform wrapping round:
    // the longer stretch is window + 2·half_lags long, so that is the least size.
    nfft_ = fft_size(window_ + 2 * half_lags_);
    x_.assign(nfft_, 0.0f);
    y_.assign(nfft_, 0.0f);
    bins_ = nfft_ / 2 + 1;
    X_.resize(bins_);
    Y_.resize(bins_);
    magnitude_.resize(bins_);
    r_.resize(nfft_);
    const BandBins band = band_bins(nfft_, rate);
    low_bin_ = band.low;
    high_bin_ = band.high;
  }

  //! Measures the window that starts at shorter-file sample `start`; false on a read error.
  bool measure(std::int64_t start, std::int64_t decided_lag_samples, WindowResult& out) {
    // Longer-file sample of shorter sample `start` at the decided offset, minus the
    // searched half width, so that lag k = half_lags_ means "exactly the decided offset".
    const std::int64_t longer_start = start - decided_lag_samples - half_lags_;
    if (!shorter_spectrum(start)) return false;
    if (!longer_.read(longer_start, window_ + 2 * half_lags_, y_.data())) return false;
    double peak = 0.0;
    correlate(peak, out);
    out.offset = (static_cast<double>(start - longer_start) - peak) / rate_;
    out.centre = (static_cast<double>(start) + 0.5 * static_cast<double>(window_)) / rate_;
    return true;
  }

  //! Measures the same window against the longer file read along a line of offsets:
  //! `centre_lag` samples at the window's centre, changing by `slope` samples per sample.
  //! Two clocks apart by 100 ppm move a 15 s window's offset by 1.5 ms from one end to the
  //! other, a dozen analysis samples that smear the peak flat; read along the drift the
  //! peak stays one sample wide.
  bool measure_along(std::int64_t start, double centre_lag, double slope, WindowResult& out) {
    if (!shorter_spectrum(start)) return false;
    // y[m] sounds like longer-file position base + (m - centre_m)·(1 - slope), so that
    // lag k = half_lags_ puts the window's centre exactly at `centre_lag`.
    const double centre_n = 0.5 * static_cast<double>(window_);
    const double centre_m = centre_n + half_lags_;
    const double base = static_cast<double>(start) + centre_n - centre_lag;
    const double step = 1.0 - slope;
    const std::int64_t stretch = window_ + 2 * half_lags_;
    const double first = base - centre_m * step;
    const double last = base + (static_cast<double>(stretch - 1) - centre_m) * step;
    const std::int64_t from = static_cast<std::int64_t>(std::floor(std::min(first, last))) - kSincTaps;
    const std::int64_t to = static_cast<std::int64_t>(std::ceil(std::max(first, last))) + kSincTaps + 1;
    raw_.resize(static_cast<std::size_t>(to - from));
    if (!longer_.read(from, to - from, raw_.data())) return false;
    resample(
        [&](std::int64_t m) { return base + (static_cast<double>(m) - centre_m) * step - static_cast<double>(from); },
        step, stretch);
    double peak = 0.0;
    correlate(peak, out);
    out.offset = (centre_lag - (peak - half_lags_) * step) / rate_;
    out.centre = (static_cast<double>(start) + centre_n) / rate_;
    return true;
  }

 private:
  //! Fills y_[0, count) with the band-limited values of raw_ at positions position(m),
  //! which grow by `step` a sample, by a Lanczos-windowed sinc: the band the correlation
  //! uses reaches 3.8 kHz of 4, where straight lines between samples would bend the phase.
  template <typename Position>
  void resample(const Position& position, double step, std::int64_t count) {
    // Every tap's weight follows from sin(πf), sin(πf/a) and cos(πf/a) of the position's
    // fraction f (sin(π(k − f)) is ∓sin(πf), sin(π(k − f)/a) the angles' difference). Those
    // follow from the angles ψ = π·(position − n0) and ψ/a, which grow by π·step a sample:
    // one rotation a sample rather than three sines, started exactly every kExactEvery
    // samples so that the rotations' rounding stays near 1e-13. The windows hold a
    // million samples.
    const double turn = kPi * step;
    const double cos_turn = std::cos(turn), sin_turn = std::sin(turn);
    const double cos_turn_a = std::cos(turn / kSincTaps), sin_turn_a = std::sin(turn / kSincTaps);
    for (std::int64_t block = 0; block < count; block += kExactEvery) {
      const double at0 = position(block);
      const std::int64_t n0 = static_cast<std::int64_t>(std::floor(at0));
      const double psi = kPi * (at0 - static_cast<double>(n0));
      double sin_psi = std::sin(psi), cos_psi = std::cos(psi);
      double sin_psi_a = std::sin(psi / kSincTaps), cos_psi_a = std::cos(psi / kSincTaps);
      for (std::int64_t m = block; m < std::min(count, block + kExactEvery); ++m) {
        const double at = position(m);
        const std::int64_t centre = whole_below(at);
        const double fraction = at - static_cast<double>(centre);
        const int whole = static_cast<int>(centre - n0);  // ψ − πf, in half turns
        const auto [sin_w, cos_w] = angle(whole);
        const double sin_f = whole % 2 == 0 ? sin_psi : -sin_psi;
        const double sin_fa = sin_psi_a * cos_w - cos_psi_a * sin_w;
        const double cos_fa = cos_psi_a * cos_w + sin_psi_a * sin_w;
        angles_[static_cast<std::size_t>(m - block)] = {fraction, sin_f, sin_fa, cos_fa};
        firsts_[static_cast<std::size_t>(m - block)] = centre - kSincTaps + 1;
        const double s = sin_psi * cos_turn + cos_psi * sin_turn;
        cos_psi = cos_psi * cos_turn - sin_psi * sin_turn;
        sin_psi = s;
        const double sa = sin_psi_a * cos_turn_a + cos_psi_a * sin_turn_a;
        cos_psi_a = cos_psi_a * cos_turn_a - sin_psi_a * sin_turn_a;
        sin_psi_a = sa;
      }
      const std::int64_t n = std::min(count, block + kExactEvery) - block;
      tap_weights(angles_.data(), static_cast<std::size_t>(n), weights_.data());
      add_taps(block, n);
    }
  }

  //! y_[block + i] for i in [0, n): the taps of weights_[i] over raw_ from firsts_[i],
  //! summed tap by tap. Four samples' sums go side by side, each in its own order: one
  //! sum alone waits on every addition before the next.
  void add_taps(std::int64_t block, std::int64_t n) {
    const auto size = static_cast<std::int64_t>(raw_.size());
    const auto inside = [&](std::int64_t i) { return firsts_[i] >= 0 && firsts_[i] + kTapCount <= size; };
    const auto one = [&](std::int64_t i) {
      double sum = 0.0;
      for (int j = 0; j < kTapCount; ++j) {
        const std::int64_t at = firsts_[i] + j;
        if (at >= 0 && at < size) sum += weights_[i][j] * raw_[static_cast<std::size_t>(at)];
      }
      y_[static_cast<std::size_t>(block + i)] = static_cast<float>(sum);
    };
    std::int64_t i = 0;
    for (; i + 4 <= n; i += 4) {
      if (!inside(i) || !inside(i + 1) || !inside(i + 2) || !inside(i + 3)) {
        for (int q = 0; q < 4; ++q) one(i + q);
        continue;
      }
      const float* a = raw_.data() + firsts_[i];
      const float* b = raw_.data() + firsts_[i + 1];
      const float* c = raw_.data() + firsts_[i + 2];
      const float* d = raw_.data() + firsts_[i + 3];
      const Taps &wa = weights_[i], &wb = weights_[i + 1], &wc = weights_[i + 2], &wd = weights_[i + 3];
      double sa = 0.0, sb = 0.0, sc = 0.0, sd = 0.0;
      for (int j = 0; j < kTapCount; ++j) {
        sa += wa[j] * a[j];
        sb += wb[j] * b[j];
        sc += wc[j] * c[j];
        sd += wd[j] * d[j];
      }
      y_[static_cast<std::size_t>(block + i)] = static_cast<float>(sa);
      y_[static_cast<std::size_t>(block + i + 1)] = static_cast<float>(sb);
      y_[static_cast<std::size_t>(block + i + 2)] = static_cast<float>(sc);
      y_[static_cast<std::size_t>(block + i + 3)] = static_cast<float>(sd);
    }
    for (; i < n; ++i) one(i);
  }

  //! Puts the spectrum of the shorter file's window at `start` in X_. Both passes over a
  //! pair measure the same windows of the shorter file, so each is transformed once.
  bool shorter_spectrum(std::int64_t start) {
    auto kept = spectra_.find(start);
    if (kept == spectra_.end()) {
      std::fill(x_.begin(), x_.end(), 0.0f);
      if (!shorter_.read(start, window_, x_.data())) return false;
      forward_fft(nfft_, x_.data(), X_.data());
      kept = spectra_.emplace(start, X_).first;
    }
    std::copy(kept->second.begin(), kept->second.end(), X_.begin());
    return true;
  }

  //! Phase-transform correlation of X_ (the shorter window's spectrum) against y_: the peak's lag (fractional), its
  //! sharpness and rivals.
  void correlate(double& peak_lag, WindowResult& out) {
    forward_fft(nfft_, y_.data(), Y_.data());

    // |z| in double and rounded once is what std::abs gives a complex<float> (glibc's
    // hypotf), without a call per bin; the quotients below need it once more.
    double magnitude_sum = 0.0;
    for (int b = low_bin_; b <= high_bin_; ++b) {
      X_[b] = std::conj(X_[b]) * Y_[b];
      const double re = X_[b].real(), im = X_[b].imag();
      magnitude_[b] = static_cast<float>(std::sqrt(re * re + im * im));
      magnitude_sum += magnitude_[b];
    }
    const int band = std::max(1, high_bin_ - low_bin_ + 1);
    const float epsilon = kPhatEpsilonRelative * static_cast<float>(magnitude_sum / band) +
                          std::numeric_limits<float>::min();
    for (int b = 0; b < bins_; ++b) {
      if (b < low_bin_ || b > high_bin_) {
        X_[b] = 0.0f;
      } else {
        X_[b] /= magnitude_[b] + epsilon;
      }
    }
    inverse_fft(nfft_, X_.data(), r_.data());

    // r_[k] = Σ x[n]·y[n + k]: shorter sample start + n sounds like y[n + k].
    int peak = 0;
    for (int k = 1; k < lags_; ++k)
      if (r_[k] > r_[peak]) peak = k;
    out.at_edge = peak == 0 || peak == lags_ - 1;
    const double fraction = out.at_edge ? 0.0 : peak_fraction(r_[peak - 1], r_[peak], r_[peak + 1]);
    const int exclusion = static_cast<int>(std::lround(kPeakExclusionSec * rate_));
    out.psr = peak_sharpness(r_, lags_, peak, exclusion);
    out.rival = rival_ratio(r_, lags_, peak, static_cast<int>(std::lround(kMainLobeSec * rate_)));
    peak_lag = peak + fraction;
  }

  SoundFile& shorter_;
  SoundFile& longer_;
  int rate_;
  std::int64_t window_;
  int half_lags_ = 0;
  int lags_ = 0;
  int nfft_ = 0;
  int bins_ = 0;
  int low_bin_ = 0;
  int high_bin_ = 0;
  std::vector<float> x_, y_, r_, raw_, magnitude_;
  // One block of the along-drift resampling: each sample's angles, tap weights and first tap.
  std::vector<TapAngles> angles_ = std::vector<TapAngles>(kExactEvery);
  std::vector<Taps> weights_ = std::vector<Taps>(kExactEvery);
  std::vector<std::int64_t> firsts_ = std::vector<std::int64_t>(kExactEvery);
  std::vector<std::complex<float>> X_, Y_;
  std::map<std::int64_t, std::vector<std::complex<float>>> spectra_;
};

Refinement measure_pair(const std::string& shorter_wav, const std::string& longer_wav,
                        double decided, RefineScope scope) {
  Refinement result;
  result.offset = decided;
  if (!std::isfinite(decided)) return result;
  SoundFile shorter(shorter_wav), longer(longer_wav);
  if (!shorter.usable() || !longer.usable() || shorter.rate() != longer.rate()) return result;
  const int rate = shorter.rate();

  // Shorter-file time ts meets longer-file time ts − decided; the overlap is where both exist.
  const double shorter_seconds = static_cast<double>(shorter.frames()) / rate;
  const double longer_seconds = static_cast<double>(longer.frames()) / rate;
  const double overlap_start = std::max(0.0, decided);
  const double overlap_end = std::min(shorter_seconds, longer_seconds + decided);
  const std::vector<WindowSpan> spans = window_layout(overlap_start, overlap_end - overlap_start);
  if (spans.empty()) return result;

  WindowCorrelator correlator(shorter, longer, rate, std::llround(spans.front().length * rate));
  const std::int64_t decided_lag = std::llround(decided * rate);
  const bool single = spans.size() == 1;
  const int needed = std::min<int>(kGoodWindowsNeeded, static_cast<int>(spans.size()));

  const auto sharp = [single](const WindowResult& w) {
    return !w.at_edge && w.psr >= (single ? kSingleWindowPsr : kGoodPsr);
  };
  // Keeps the windows with a sharp peak and fits the line the offset is read off.
  const auto judge = [&](const std::vector<WindowResult>& measured, Refinement& r, Line& line) {
    std::vector<WindowResult> good, clear;
    for (const WindowResult& w : measured) {
      if (!sharp(w)) continue;
      good.push_back(w);
      if (w.rival < kMaxRivalRatio) clear.push_back(w);
    }
    if (static_cast<int>(clear.size()) >= needed) good = std::move(clear);
    line = fit_line(good);
    r = Refinement{};
    r.offset = decided;
    r.windows = static_cast<int>(spans.size());
    r.good_windows = static_cast<int>(good.size());
    for (const WindowResult& w : good) {
      r.weakest_psr = r.weakest_psr == 0.0 ? w.psr : std::min(r.weakest_psr, w.psr);
      r.samples.push_back({w.centre, w.offset});
    }
    r.drift_ppm = line.slope * kPpm;
    r.spread_ms = line.spread * 1000.0;
    if (r.good_windows >= needed && line.spread <= kMaxSpreadSec) {
      r.refined = true;
      // A clip is placed by its start, so a real drift is read off the line there; without
      // one the median shrugs off a window that caught a passing echo.
      r.offset = std::abs(r.drift_ppm) < kDriftNegligiblePpm ? median_offset(good) : line.intercept;
    }
  };

  std::vector<WindowResult> measured;
  int sharp_ones = 0;
  for (const WindowSpan& span : spans) {
    WindowResult w;
    if (!correlator.measure(std::llround(span.start * rate), decided_lag, w)) return result;
    measured.push_back(w);
    sharp_ones += sharp(w) ? 1 : 0;
    const auto left = static_cast<int>(spans.size() - measured.size());
    if (scope == RefineScope::kWhileItCanRefine && sharp_ones + left < needed) break;
  }
  Line line;
  judge(measured, result, line);
  result.windows = static_cast<int>(measured.size());
  const double drift = std::abs(result.drift_ppm);
  if (needed < 2 || result.good_windows < needed || drift < kAlongDriftMinPpm ||
      drift > kAlongDriftMaxPpm)
    return result;

  measured.clear();
  for (const WindowSpan& span : spans) {
    const std::int64_t start = std::llround(span.start * rate);
    const double centre = (static_cast<double>(start) + 0.5 * std::llround(span.length * rate)) / rate;
    WindowResult w;
    if (!correlator.measure_along(start, (line.intercept + line.slope * centre) * rate, line.slope, w))
      return result;
    measured.push_back(w);
  }
  Refinement along;
  Line along_line;
  judge(measured, along, along_line);
  if (along.refined || !result.refined) result = std::move(along);
  return result;
}

std::string fixed(double value, int decimals) {
  return fixed_text(no_negative_zero(value, decimals), decimals);
}

}  // namespace

Refinement refine_offset(const std::string& shorter_wav, const std::string& longer_wav,
                         double decided_offset, RefineScope scope) {
  try {
    return measure_pair(shorter_wav, longer_wav, decided_offset, scope);
  } catch (...) {
    // Out of memory on a huge window is the only thing that can throw; the pair keeps
    // its decided offset, as it would without refinement.
    Refinement unrefined;
    unrefined.offset = decided_offset;
    return unrefined;
  }
}

std::string refinement_log_line(const Refinement& r) {
  return std::string(r.refined ? "refined" : "unrefined") + " offset " + fixed(r.offset * 1000.0, 3) +
         " ms, drift " + fixed(r.drift_ppm, 2) + " ppm, " + std::to_string(r.good_windows) + " of " +
         std::to_string(r.windows) + " windows good";
}

void refine_in_sync(std::vector<PairVerdict>& verdicts, const std::vector<std::string>& analysis,
                    const std::vector<float>& durations, const PairsDone& done) {
  refine_in_sync(verdicts, measured_on(analysis), durations, done);
}

void refine_in_sync(std::vector<PairVerdict>& verdicts, const SoundMeasures& measures,
                    const std::vector<float>& durations, const PairsDone& done) {
  std::vector<bool> tried(verdicts.size(), false);
  int measured = 0, chosen = 0;
  for (std::vector<std::size_t> next = pairs_to_refine(verdicts, durations, tried); !next.empty();
       next = pairs_to_refine(verdicts, durations, tried)) {
    for (std::size_t k : next) tried[k] = true;
    chosen += static_cast<int>(next.size());
    ordered_parallel_for(
        static_cast<int>(next.size()), worker_count(),
        [&](int j) {
          throw_if_stop_requested();
          PairVerdict& v = verdicts[next[static_cast<std::size_t>(j)]];
          PairResult& pair = v.result;
          const Refinement r =
              measures.refine(pair.shorter, pair.longer, pair.offset, RefineScope::kEveryWindow);
          if (r.refined) pair.offset = r.offset;
          pair.refined = r.refined;
          pair.drift_ppm = r.drift_ppm;
          pair.good_windows = r.good_windows;
          pair.windows = r.refined ? r.samples : std::vector<OffsetSample>{};
          v.refinement = refinement_log_line(r);
        },
        [&](int) {
          if (done) done(++measured, chosen);
        });
  }
  mark_implied(verdicts, measures.files, tried);
}
