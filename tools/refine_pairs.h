#pragma once
// Pairs of analysis WAVs (8000 Hz mono) whose offset and drift are known to well under a
// sample, for the refinement's tests and benchmark: speech-, music- or burst-like sound
// read through a band-limited interpolator at exact fractional delays, with the
// impairments of real pairs (phone microphone, hall, noise, a dropout, a doubled sound).

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pairgen {

constexpr int kRate = 8000;
constexpr double kPi = 3.14159265358979323846;
// Source material starts this long before the longer file, so a shorter file that
// began first still has sound there.
constexpr double kLeadSec = 10.0;

// splitmix64: the same numbers on every platform and standard library.
struct Rng {
  std::uint64_t state;
  double uniform(double lo = 0.0, double hi = 1.0) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return lo + (hi - lo) * static_cast<double>((z ^ (z >> 31)) >> 11) * 0x1.0p-53;
  }
  double gauss() { return std::sqrt(-2.0 * std::log(uniform(1e-12, 1.0))) * std::cos(2 * kPi * uniform()); }
};

enum class Material { NoiseBursts, SpeechLike, MusicLike };

inline std::vector<float> make_source(Material m, double seconds, std::uint64_t seed) {
  Rng rng{seed};
  std::vector<float> s(static_cast<size_t>(seconds * kRate), 0.0f);
  const size_t n = s.size();
  size_t at = 0;
  while (at < n) {
    if (m == Material::NoiseBursts) {
      const size_t len = static_cast<size_t>(rng.uniform(0.1, 0.6) * kRate);
      const double gain = rng.uniform(0.3, 1.0);
      for (size_t i = 0; i < len && at + i < n; ++i) s[at + i] = static_cast<float>(gain * rng.gauss());
      at += len + static_cast<size_t>(rng.uniform(0.05, 0.5) * kRate);
    } else if (m == Material::SpeechLike) {
      // A glottal pulse train through two formant resonators, one syllable at a time.
      const size_t len = static_cast<size_t>(rng.uniform(0.08, 0.3) * kRate);
      const double f0 = rng.uniform(100, 220), f1 = rng.uniform(300, 900), f2 = rng.uniform(900, 2500);
      double y1[2] = {0, 0}, y2[2] = {0, 0}, phase = 0;
      for (size_t i = 0; i < len && at + i < n; ++i) {
        phase += f0 * (1.0 + 0.1 * static_cast<double>(i) / len) / kRate;
        double x = 0.05 * rng.gauss();
        if (phase >= 1.0) phase -= 1.0, x += 1.0;
        const double a = 0.97 * 0.97;
        const double o1 = x + 2 * 0.97 * std::cos(2 * kPi * f1 / kRate) * y1[0] - a * y1[1];
        const double o2 = o1 + 2 * 0.97 * std::cos(2 * kPi * f2 / kRate) * y2[0] - a * y2[1];
        y1[1] = y1[0], y1[0] = o1, y2[1] = y2[0], y2[0] = o2;
        s[at + i] = static_cast<float>(0.05 * o2 * std::sin(kPi * static_cast<double>(i) / len));
      }
      at += len + static_cast<size_t>(rng.uniform(0.03, rng.uniform() < 0.2 ? 0.6 : 0.15) * kRate);
    } else {
      // Decaying harmonic notes on a semitone scale, overlapping one another.
      const double f = 110.0 * std::pow(2.0, std::floor(rng.uniform(0, 36)) / 12.0);
      const size_t len = static_cast<size_t>(rng.uniform(0.3, 1.2) * kRate);
      for (size_t i = 0; i < len && at + i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double v = 0;
        for (int h = 1; h <= 5 && h * f < 3500; ++h) v += std::sin(2 * kPi * h * f * t) / h;
        s[at + i] += static_cast<float>(0.4 * v * std::exp(-t / 0.3) * std::min(1.0, t / 0.005));
      }
      at += static_cast<size_t>(rng.uniform(0.12, 0.5) * kRate);
    }
  }
  return s;
}

// The source as a band-limited signal (cut-off 3.6 kHz) read at any time: a
// Blackman-windowed sinc, tabulated finely enough for exact sub-sample delays.
class BandLimited {
 public:
  explicit BandLimited(std::vector<float> source) : s_(std::move(source)) {
    table_.resize(2 * kHalf * kSteps + 1);
    for (size_t i = 0; i < table_.size(); ++i) {
      const double tau = static_cast<double>(i) / kSteps - kHalf;
      const double w = 0.42 + 0.5 * std::cos(kPi * tau / kHalf) + 0.08 * std::cos(2 * kPi * tau / kHalf);
      table_[i] = tau == 0 ? 2 * kCut : w * std::sin(2 * kPi * kCut * tau) / (kPi * tau);
    }
  }
  float at(double seconds) const {
    const double pos = (seconds + kLeadSec) * kRate;
    const long base = static_cast<long>(std::floor(pos));
    const double frac = pos - base;
    double sum = 0;
    for (int k = -kHalf + 1; k <= kHalf; ++k) {
      const long j = base + k;
      if (j < 0 || j >= static_cast<long>(s_.size())) continue;
      const double u = (frac - k + kHalf) * kSteps;
      const size_t i = static_cast<size_t>(u);
      const double value = i + 1 < table_.size() ? table_[i] + (u - i) * (table_[i + 1] - table_[i]) : table_[i];
      sum += s_[static_cast<size_t>(j)] * value;
    }
    return static_cast<float>(sum);
  }

 private:
  static constexpr int kHalf = 24;
  static constexpr int kSteps = 1024;
  static constexpr double kCut = 0.45;  // cycles per sample
  std::vector<float> s_;
  std::vector<double> table_;
};

struct PairRecipe {
  const char* name;
  Material material;
  double offset;  // truth at shorter-file time 0, seconds
  double drift_ppm = 0.0;
  double shorter_sec = 55.0;
  double longer_sec = 75.0;
  bool echo = false;
  bool filtered = false;
  double snr_db = 12.0;
  double jump_at_sec = 1e9;  // from this shorter-file time on, the offset is `jump_sec` larger
  double jump_sec = 0.0;
  double twin_ms = 0.0;  // the shorter file hears every sound a second time, as loud, this much later,
  double twin_until_sec = 0.0;  // up to this shorter-file time
};

inline void write_wav(const std::string& path, std::vector<float> x) {
  float peak = 1e-9f;
  for (float v : x) peak = std::max(peak, std::abs(v));
  for (float& v : x) v *= 0.5f / peak;
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) throw std::runtime_error("cannot write " + path);
  sf_write_float(f, x.data(), static_cast<sf_count_t>(x.size()));
  sf_close(f);
}

inline void add_noise(std::vector<float>& x, double snr_db, Rng& rng) {
  double power = 0;
  for (float v : x) power += v * v;
  const double sigma = std::sqrt(power / x.size() / std::pow(10.0, snr_db / 10));
  for (float& v : x) v += static_cast<float>(sigma * rng.gauss());
}

// Writes "<prefix><name>_short.wav" and "<prefix><name>_long.wav": the shorter file at time ts holds
// the longer file's sound of time ts·(1 − drift) − offset, so its offset is
// offset + drift·ts. Impairments are zero-phase or pure delays, so the truth stays exact.
inline void make_pair(const PairRecipe& p, std::uint64_t seed, std::string& shorter,
                      std::string& longer, const std::string& prefix = "") {
  const BandLimited source(make_source(p.material, p.longer_sec + 2 * kLeadSec, seed));
  Rng rng{seed * 7 + 1};
  std::vector<float> l(static_cast<size_t>(p.longer_sec * kRate)), s(static_cast<size_t>(p.shorter_sec * kRate));
  for (size_t m = 0; m < l.size(); ++m) l[m] = source.at(static_cast<double>(m) / kRate);
  const double d = p.drift_ppm * 1e-6;
  for (size_t m = 0; m < s.size(); ++m) {
    const double ts = static_cast<double>(m) / kRate;
    s[m] = source.at(ts * (1 - d) - p.offset - (ts >= p.jump_at_sec ? p.jump_sec : 0.0));
  }
  if (p.filtered) {  // a thin phone microphone: zero-phase high-pass
    std::vector<float> y(s);
    for (size_t m = 1; m + 1 < s.size(); ++m) y[m] = 0.5f * s[m] - 0.25f * (s[m - 1] + s[m + 1]);
    s = y;
  }
  if (p.echo) {  // a hall: reflections 23.75 ms and 61 ms late
    for (size_t m = s.size(); m-- > 488;) s[m] += 0.5f * s[m - 190] + 0.25f * s[m - 488];
  }
  if (p.twin_ms > 0.0) {
    const size_t lag = static_cast<size_t>(std::lround(p.twin_ms * kRate / 1000));
    const size_t until = std::min(s.size(), static_cast<size_t>(p.twin_until_sec * kRate));
    for (size_t m = until; m-- > lag;) s[m] += s[m - lag];
  }
  add_noise(s, p.snr_db, rng);
  add_noise(l, p.snr_db, rng);
  shorter = prefix + p.name + "_short.wav";
  longer = prefix + p.name + "_long.wav";
  write_wav(shorter, s);
  write_wav(longer, l);
}

}  // namespace pairgen
