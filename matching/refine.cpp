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

// The Lanczos-windowed sinc of a taps a side at x samples from the position.
double lanczos(double x) {
  if (std::abs(x) < 1e-9) return 1.0;
  return kSincTaps * std::sin(kPi * x) * std::sin(kPi * x / kSincTaps) / (kPi * kPi * x * x);
}

// One output sample's taps, k = 1 − a … a, at the whole samples about its position.
constexpr int kTapCount = 2 * kSincTaps;

// The weights tabulated at kPhases fractions of a sample, with each row's step to the
// next: a sample's weights are interpolated between the two rows about its fraction.
// Sixteen divisions a sample made the along-drift resampling the costliest part of the
// refinement; the interpolated weights, in single precision as the analysis sound is,
// are within 2e-7 of the exact ones, a hundred times finer than its 16-bit steps.
constexpr int kPhases = 2048;
using TapOctet = float __attribute__((vector_size(8 * sizeof(float))));
using TapQuad = float __attribute__((vector_size(4 * sizeof(float))));
constexpr std::size_t kTapOctets = kTapCount / 8;
// Plain floats, loaded into vectors by memcpy: without AVX a 32-byte vector is aligned
// to 16 only, which the AVX clone's aligned loads would not take.
struct KernelTable {
  std::vector<std::array<float, kTapCount>> weight, step;
};

const KernelTable& kernel_table() {
  static const KernelTable table = [] {
    KernelTable t;
    t.weight.resize(kPhases);
    t.step.resize(kPhases);
    for (int j = 0; j < kPhases; ++j)
      for (int k = 0; k < kTapCount; ++k) {
        // Tap k lies k − (a − 1) samples after the one below the position.
        const double tap = k - kSincTaps + 1;
        const double here = lanczos(tap - static_cast<double>(j) / kPhases);
        const double next = lanczos(tap - static_cast<double>(j + 1) / kPhases);
        t.weight[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)] = static_cast<float>(here);
        t.step[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)] = static_cast<float>(next - here);
      }
    return t;
  }();
  return table;
}

// floor() for the positions of the resampling, which are far inside the integers' range;
// the library call costs as much as a tap.
std::int64_t whole_below(double x) {
  const auto t = static_cast<std::int64_t>(x);
  return static_cast<double>(t) > x ? t - 1 : t;
}

// y[m] for m in [0, count): the band-limited value of raw[0, size) at position
// base + (m − centre_m)·step by a Lanczos-windowed sinc, the band the correlation uses
// reaching 3.8 kHz of 4, where straight lines between samples would bend the phase. Taps
// beyond raw count as silence. A machine with FMA (and so AVX) takes each sample's sixteen
// taps in two vectors; the choice is made as the program is loaded, before a sanitizer's
// runtime could see it: sanitized builds keep the plain one.
#if defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("fma", "default")))
#endif
void resample_along(const float* raw, std::int64_t size, double base, double centre_m, double step,
                    std::int64_t count, float* y) {
  const KernelTable& table = kernel_table();
  std::array<float, kTapCount> edge{};
  for (std::int64_t m0 = 0; m0 < count; m0 += 4) {
    const int outputs = static_cast<int>(std::min<std::int64_t>(4, count - m0));
    // Each output's sixteen products, summed lane by lane over the two octets.
    TapOctet sums[4] = {};
    for (int j = 0; j < outputs; ++j) {
      const double at = base + (static_cast<double>(m0 + j) - centre_m) * step;
      const std::int64_t centre = whole_below(at);
      const double phase = (at - static_cast<double>(centre)) * kPhases;
      const int row = std::min(static_cast<int>(phase), kPhases - 1);
      const auto between = static_cast<float>(phase - row);
      const std::int64_t first = centre - kSincTaps + 1;
      const float* taps = raw + first;
      if (first < 0 || first + kTapCount > size) {
        for (int k = 0; k < kTapCount; ++k) {
          const std::int64_t i = first + k;
          edge[static_cast<std::size_t>(k)] = i >= 0 && i < size ? raw[i] : 0.0f;
        }
        taps = edge.data();
      }
      const auto& weight = table.weight[static_cast<std::size_t>(row)];
      const auto& slope = table.step[static_cast<std::size_t>(row)];
      for (std::size_t o = 0; o < kTapOctets; ++o) {
        TapOctet sound, w, dw;
        std::memcpy(&sound, taps + 8 * o, sizeof sound);
        std::memcpy(&w, weight.data() + 8 * o, sizeof w);
        std::memcpy(&dw, slope.data() + 8 * o, sizeof dw);
        sums[j] += sound * (w + between * dw);
      }
    }
    // An output is ((s0 + s4) + (s1 + s5)) + ((s2 + s6) + (s3 + s7)) of its lanes s. For
    // four at once that is one vector addition each and two rounds of pairwise ones,
    // against seven additions and as many moves between lanes for each alone.
    if (outputs == 4) {
      TapQuad half[4];
      for (int j = 0; j < 4; ++j)
        half[j] = __builtin_shufflevector(sums[j], sums[j], 0, 1, 2, 3) +
                  __builtin_shufflevector(sums[j], sums[j], 4, 5, 6, 7);
      const TapQuad low = __builtin_shufflevector(half[0], half[1], 0, 2, 4, 6) +
                          __builtin_shufflevector(half[0], half[1], 1, 3, 5, 7);
      const TapQuad high = __builtin_shufflevector(half[2], half[3], 0, 2, 4, 6) +
                           __builtin_shufflevector(half[2], half[3], 1, 3, 5, 7);
      const TapQuad four = __builtin_shufflevector(low, high, 0, 2, 4, 6) +
                           __builtin_shufflevector(low, high, 1, 3, 5, 7);
      std::memcpy(y + m0, &four, sizeof four);
      continue;
    }
    for (int j = 0; j < outputs; ++j) {
      const TapOctet& sum = sums[j];
      y[m0 + j] = ((sum[0] + sum[4]) + (sum[1] + sum[5])) + ((sum[2] + sum[6]) + (sum[3] + sum[7]));
    }
  }
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
double peak_sharpness(const float* r, int lags, int peak, int exclusion) {
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
double rival_ratio(const float* r, int lags, int peak, int lobe) {
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

// What a pair's correlations work in, kept by each thread from one pair to the next: a
// shoot measures a thousand pairs, and fresh buffers of a megabyte or more each come from
// the kernel, to be cleared page by page and handed back.
struct CorrelationBuffers {
  FftPoints x, y, r;
  FftBins X, Y;
  std::vector<float> raw, magnitude;
  // The spectra of the shorter file's windows, by their first sample; the first `kept`.
  std::vector<std::pair<std::int64_t, FftBins>> spectra;
  std::size_t kept = 0;
};

CorrelationBuffers& thread_buffers() {
  thread_local CorrelationBuffers buffers;
  return buffers;
}

// Cross-correlates one window of the shorter file with the stretch of the longer file
// that the decided offset puts under it, widened by the searched lags on both sides. One
// at a time on a thread: it works in the thread's buffers.
class WindowCorrelator {
 public:
  WindowCorrelator(SoundFile& shorter, SoundFile& longer, int rate, std::int64_t window_samples)
      : shorter_(shorter), longer_(longer), rate_(rate), window_(window_samples),
        buffers_(thread_buffers()), x_(buffers_.x), y_(buffers_.y), r_(buffers_.r), X_(buffers_.X),
        Y_(buffers_.Y), raw_(buffers_.raw), magnitude_(buffers_.magnitude) {
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
    buffers_.kept = 0;
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
    resample_along(raw_.data(), static_cast<std::int64_t>(raw_.size()), base - static_cast<double>(from),
                   centre_m, step, stretch, y_.data());
    double peak = 0.0;
    correlate(peak, out);
    out.offset = (centre_lag - (peak - half_lags_) * step) / rate_;
    out.centre = (static_cast<double>(start) + centre_n) / rate_;
    return true;
  }

 private:
  //! Puts the spectrum of the shorter file's window at `start` in X_. Both passes over a
  //! pair measure the same windows of the shorter file, so each is transformed once.
  bool shorter_spectrum(std::int64_t start) {
    const auto first = buffers_.spectra.begin();
    const auto end = first + static_cast<std::ptrdiff_t>(buffers_.kept);
    auto kept = std::find_if(first, end, [start](const auto& spectrum) { return spectrum.first == start; });
    if (kept == end) {
      std::fill(x_.begin(), x_.end(), 0.0f);
      if (!shorter_.read(start, window_, x_.data())) return false;
      if (buffers_.kept == buffers_.spectra.size()) buffers_.spectra.emplace_back();
      kept = buffers_.spectra.begin() + static_cast<std::ptrdiff_t>(buffers_.kept++);
      kept->first = start;
      kept->second.resize(static_cast<std::size_t>(bins_));
      forward_fft(nfft_, x_.data(), kept->second.data());
    }
    std::copy(kept->second.begin(), kept->second.begin() + bins_, X_.begin());
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
    inverse_fft_over(nfft_, X_.data(), r_.data(), lags_);

    // r_[k] = Σ x[n]·y[n + k]: shorter sample start + n sounds like y[n + k].
    int peak = 0;
    for (int k = 1; k < lags_; ++k)
      if (r_[k] > r_[peak]) peak = k;
    out.at_edge = peak == 0 || peak == lags_ - 1;
    const double fraction = out.at_edge ? 0.0 : peak_fraction(r_[peak - 1], r_[peak], r_[peak + 1]);
    const int exclusion = static_cast<int>(std::lround(kPeakExclusionSec * rate_));
    out.psr = peak_sharpness(r_.data(), lags_, peak, exclusion);
    out.rival = rival_ratio(r_.data(), lags_, peak, static_cast<int>(std::lround(kMainLobeSec * rate_)));
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
  CorrelationBuffers& buffers_;
  FftPoints &x_, &y_, &r_;
  FftBins &X_, &Y_;
  std::vector<float> &raw_, &magnitude_;
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
