#include "matching/refine.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using testing_support::TempRunDir;

namespace {

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

std::vector<float> make_source(Material m, double seconds, std::uint64_t seed) {
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

void write_wav(const std::string& path, std::vector<float> x) {
  float peak = 1e-9f;
  for (float v : x) peak = std::max(peak, std::abs(v));
  for (float& v : x) v *= 0.5f / peak;
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << path;
  sf_write_float(f, x.data(), static_cast<sf_count_t>(x.size()));
  sf_close(f);
}

void add_noise(std::vector<float>& x, double snr_db, Rng& rng) {
  double power = 0;
  for (float v : x) power += v * v;
  const double sigma = std::sqrt(power / x.size() / std::pow(10.0, snr_db / 10));
  for (float& v : x) v += static_cast<float>(sigma * rng.gauss());
}

// Writes "<name>_short.wav" and "<name>_long.wav": the shorter file at time ts holds
// the longer file's sound of time ts·(1 − drift) − offset, so its offset is
// offset + drift·ts. Impairments are zero-phase or pure delays, so the truth stays exact.
void make_pair(const PairRecipe& p, std::uint64_t seed, std::string& shorter, std::string& longer) {
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
  shorter = std::string(p.name) + "_short.wav";
  longer = std::string(p.name) + "_long.wav";
  write_wav(shorter, s);
  write_wav(longer, l);
}

// 98765.5 samples: half a sample off the lag grid.
constexpr double kHalfSampleOffset = -12.3456875;

// The decision's output: on the 10 ms grid and early by `early_ms`.
double decided_from(double truth, double early_ms) { return std::round((truth - early_ms / 1000) * 100) / 100; }

// Makes the pair and refines it from a decision `early_ms` early.
Refinement refined(const PairRecipe& p, std::uint64_t seed, double early_ms) {
  std::string s, l;
  make_pair(p, seed, s, l);
  return refine_offset(s, l, decided_from(p.offset, early_ms));
}

}  // namespace

TEST(Refine, RecoversKnownOffsetsToTheSubMillisecond) {
  TempRunDir dir;
  // Most truths lie half a sample between lags, where the nearest lag alone misses by
  // 62.5 µs and a misread parabola by a whole sample; a quarter sample tells them apart.
  // Shorter overlaps get three windows, then one, and a looser bound.
  const double quarter_sample_ms = 0.25 * 1000.0 / kRate;
  const struct {
    PairRecipe pair;
    double early_ms;
    int windows;
    double bound_ms;
  } cases[] = {
      {{"bursts", Material::NoiseBursts, kHalfSampleOffset}, 34, 6, quarter_sample_ms},
      {{"speech_before", Material::SpeechLike, 4.5678125, 0, 55, 75, true, true}, 95, 6, quarter_sample_ms},
      {{"music_echo", Material::MusicLike, -31.0049375, 0, 55, 90, true, false, 15}, 10, 6, quarter_sample_ms},
      {{"speech_noisy", Material::SpeechLike, -0.4321, 0, 55, 75, false, true, 3}, 60, 6, quarter_sample_ms},
      {{"twenty", Material::SpeechLike, -7.891, 0, 20, 40}, 34, 3, 2.0},
      {{"five", Material::NoiseBursts, -3.0303, 0, 5, 40}, 34, 1, 2.0},
      // 42 s of shorter file, of which only the last 8 s meet the longer file.
      {{"tail", Material::MusicLike, 34.0077, 0, 42, 60}, 34, 1, 2.0},
  };
  std::uint64_t seed = 11;
  for (const auto& c : cases) {
    const Refinement r = refined(c.pair, ++seed, c.early_ms);
    EXPECT_TRUE(r.refined) << c.pair.name << ": " << refinement_log_line(r);
    EXPECT_EQ(r.windows, c.windows) << c.pair.name;
    EXPECT_LT(std::abs(r.offset - c.pair.offset) * 1000, c.bound_ms) << c.pair.name;
    if (c.windows == 6) {
      EXPECT_LT(std::abs(r.drift_ppm), 1.0) << c.pair.name;
    }
  }
}

TEST(Refine, MeasuresDriftAndPlacesByTheShorterFileStart) {
  TempRunDir dir;
  const PairRecipe cases[] = {
      {"fast", Material::NoiseBursts, kHalfSampleOffset, 20.0},
      {"slow_before", Material::SpeechLike, 4.56789, -20.0, 55, 75, true},
  };
  std::uint64_t seed = 21;
  for (const auto& p : cases) {
    const Refinement r = refined(p, ++seed, 34);
    EXPECT_TRUE(r.refined) << p.name << ": " << refinement_log_line(r);
    EXPECT_NEAR(r.drift_ppm, p.drift_ppm, 1.0) << p.name;
    // 20 ppm moves the windows' own offsets 0.15 to 0.95 ms away from the start's, so a
    // median, or a line timed by window starts instead of centres, misses this bound.
    EXPECT_NEAR(r.offset, p.offset, 0.05e-3) << p.name;
  }
}

TEST(Refine, NeverAcceptsAWrongCentreOrUnrelatedFiles) {
  TempRunDir dir;
  const PairRecipe cases[] = {
      {"bursts", Material::NoiseBursts, kHalfSampleOffset},
      {"speech", Material::SpeechLike, 4.56789},
      {"music", Material::MusicLike, -31.0049},
  };
  std::uint64_t seed = 31;
  std::vector<std::string> shorts, longs;
  for (const auto& p : cases) {
    std::string s, l;
    make_pair(p, ++seed, s, l);
    for (double miss : {-0.5, 0.5}) {
      const double decided = decided_from(p.offset + miss, 0);
      const Refinement r = refine_offset(s, l, decided);
      EXPECT_FALSE(r.refined) << p.name << " centred " << miss << " s away: " << refinement_log_line(r);
      EXPECT_EQ(r.offset, decided) << p.name;
    }
    shorts.push_back(s);
    longs.push_back(l);
  }
  // The true peak half a sample beyond either end of the searched lags leaves a strong
  // shoulder on the last lag, which is no measurement of the offset.
  for (double beyond : {-1.0, 1.0}) {
    const double decided = cases[0].offset + beyond * (0.25 + 0.5 / kRate);
    const Refinement r = refine_offset(shorts[0], longs[0], decided);
    EXPECT_FALSE(r.refined) << "peak beyond the " << (beyond < 0 ? "first" : "last") << " lag: " << refinement_log_line(r);
  }
  for (size_t i = 0; i < shorts.size(); ++i) {
    const std::string& other = longs[(i + 1) % longs.size()];
    const Refinement r = refine_offset(shorts[i], other, -10.0);
    EXPECT_FALSE(r.refined) << shorts[i] << " against " << other << ": " << refinement_log_line(r);
    EXPECT_EQ(r.windows, 6);
  }
}

TEST(Refine, WindowsThatDisagreeKeepTheDecidedOffset) {
  TempRunDir dir;
  // A recorder that dropped 40 ms halfway: every window is sharp, but no single offset
  // (or drift line) holds the pair together.
  PairRecipe p{"dropout", Material::SpeechLike, -5.4321};
  p.jump_at_sec = 27.0;
  p.jump_sec = 0.040;
  const Refinement r = refined(p, 61, 34);
  EXPECT_FALSE(r.refined) << refinement_log_line(r);
  EXPECT_EQ(r.good_windows, 6);
  EXPECT_GT(r.spread_ms, 5.0);
  EXPECT_EQ(r.offset, decided_from(p.offset, 34));
}

TEST(Refine, WindowsWithTwoEqualPeaksDoNotTiltTheLine) {
  TempRunDir dir;
  // For its first 20 s the shorter file hears every sound twice, 1.25 ms apart and as
  // loud: the first two windows hold two equal peaks and noise picks one. Taken into the
  // line, they tilt it by ppm and move the start's offset by up to a millisecond.
  for (Material m : {Material::NoiseBursts, Material::MusicLike}) {
    PairRecipe p{"twin", m, -6.54321};
    p.twin_ms = 1.25;
    p.twin_until_sec = 20.0;
    const Refinement r = refined(p, 71 + static_cast<int>(m), 34);
    EXPECT_TRUE(r.refined) << refinement_log_line(r);
    EXPECT_LT(r.good_windows, 6) << "a window with two peaks kept: " << refinement_log_line(r);
    EXPECT_LT(std::abs(r.offset - p.offset) * 1000, 0.25 * 1000.0 / kRate) << refinement_log_line(r);
    EXPECT_LT(std::abs(r.drift_ppm), 1.0) << refinement_log_line(r);
  }
}

TEST(Refine, UnreadableFilesOrNoOverlapKeepTheDecidedOffset) {
  TempRunDir dir;
  std::string s, l;
  make_pair({"ok", Material::NoiseBursts, -1.0, 0, 5, 10}, 51, s, l);
  testing_support::write_file("text.wav", "not a sound file");
  const struct {
    std::string shorter, longer;
    double decided;
  } cases[] = {
      {"missing.wav", l, -1.0}, {s, "text.wav", -1.0}, {s, l, 100000000.0}, {s, l, -10.5}, {s, l, NAN},
  };
  for (const auto& c : cases) {
    const Refinement r = refine_offset(c.shorter, c.longer, c.decided);
    EXPECT_FALSE(r.refined) << c.shorter << " " << c.longer << " " << c.decided;
    EXPECT_EQ(r.windows, 0) << c.shorter << " " << c.longer << " " << c.decided;
    if (!std::isnan(c.decided)) {
      EXPECT_EQ(r.offset, c.decided);
    }
  }
}

TEST(Refine, LogLineStatesVerdictOffsetDriftAndWindows) {
  Refinement r;
  r.refined = true;
  r.offset = -12.3456789;
  r.drift_ppm = 19.876;
  r.good_windows = 5;
  r.windows = 6;
  // The accuracy tools read this line back, to the microsecond.
  EXPECT_EQ(refinement_log_line(r), "refined offset -12345.679 ms, drift 19.88 ppm, 5 of 6 windows good");
  r.refined = false;
  r.drift_ppm = -0.001;  // must not print as "-0.00"
  EXPECT_EQ(refinement_log_line(r), "unrefined offset -12345.679 ms, drift 0.00 ppm, 5 of 6 windows good");
}
