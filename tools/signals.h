#pragma once
// Generated analysis audio for the fingerprint tests and benchmarks: 8000 Hz mono 16-bit
// WAVs written with libsndfile, the same on every run of every machine (a fixed random
// engine and double-precision arithmetic only).

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace test_signals {

constexpr int kRate = 8000;

inline bool write_wav(const std::string& path, const std::vector<std::int16_t>& samples) {
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return false;
  const sf_count_t n = static_cast<sf_count_t>(samples.size());
  const bool ok = sf_write_short(file, samples.data(), n) == n;
  sf_close(file);
  return ok;
}

inline std::vector<std::int16_t> quantise(const std::vector<double>& x) {
  std::vector<std::int16_t> out(x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    out[i] = static_cast<std::int16_t>(std::lround(std::clamp(x[i], -1.0, 1.0) * 32767.0));
  }
  return out;
}

inline std::vector<std::int16_t> sine(double hz, double amplitude, int n) {
  std::vector<double> x(n);
  for (int i = 0; i < n; ++i) x[i] = amplitude * std::sin(2.0 * M_PI * hz * i / kRate);
  return quantise(x);
}

inline std::vector<std::int16_t> noise(double amplitude, int n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<double> x(n);
  for (double& v : x) v = amplitude * (static_cast<double>(rng()) / 2147483648.0 - 1.0);
  return quantise(x);
}

// Speech- or music-like sound: notes with a few harmonics and clicks, starting every 80
// to 500 ms and dying away, over quiet background noise. `busy` packs the events tightly
// and makes them noisier, so that the picker finds far more than 50 peaks per second.
inline std::vector<std::int16_t> recording(double seconds, std::uint32_t seed, bool busy = false) {
  struct Partial {
    double re, im, cos_step, sin_step, gain;
  };
  struct Event {
    std::vector<Partial> partials;
    double envelope, decay, noise;
  };
  std::mt19937 rng(seed);
  auto uniform = [&rng](double lo, double hi) {
    return lo + (hi - lo) * (static_cast<double>(rng()) / 4294967296.0);
  };
  const int n = static_cast<int>(seconds * kRate);
  std::vector<double> x(n);
  std::vector<Event> active;
  int next_event = 0;
  for (int i = 0; i < n; ++i) {
    if (i == next_event) {
      Event e;
      e.envelope = uniform(0.05, 0.35);
      e.decay = std::exp(-1.0 / (uniform(0.05, 0.6) * kRate));
      e.noise = uniform(0.0, 1.0) < (busy ? 0.5 : 0.2) ? 1.0 : 0.0;
      const double f0 = uniform(120.0, 1400.0);
      const int harmonics = 1 + static_cast<int>(uniform(0.0, 4.0));
      for (int h = 1; h <= harmonics && f0 * h < 3900.0; ++h) {
        const double w = 2.0 * M_PI * f0 * h / kRate;
        e.partials.push_back({1.0, 0.0, std::cos(w), std::sin(w), 1.0 / h});
      }
      active.push_back(std::move(e));
      next_event = i + static_cast<int>(busy ? uniform(0.02, 0.12) * kRate
                                             : uniform(0.08, 0.5) * kRate);
    }
    double v = 0.004 * (static_cast<double>(rng()) / 2147483648.0 - 1.0);
    for (Event& e : active) {
      double s = 0.0;
      for (Partial& p : e.partials) {
        const double re = p.re * p.cos_step - p.im * p.sin_step;
        p.im = p.re * p.sin_step + p.im * p.cos_step;
        p.re = re;
        s += p.gain * p.im;
      }
      if (e.noise > 0.0) s += e.noise * (static_cast<double>(rng()) / 2147483648.0 - 1.0);
      v += e.envelope * s;
      e.envelope *= e.decay;
    }
    active.erase(std::remove_if(active.begin(), active.end(),
                                [](const Event& e) { return e.envelope < 1e-3; }),
                 active.end());
    x[i] = v;
  }
  return quantise(x);
}

}  // namespace test_signals
