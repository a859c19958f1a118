#include "tools/device_chain.h"

#include "tools/dsp.h"
#include "tools/event_synth.h"
#include "tools/prng.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace eventgen {

namespace {

// Q of the two sections of a fourth-order Butterworth filter.
constexpr double kButterworth4Q[2] = {0.5411961001461970, 1.3065629648763766};
constexpr double kPhoneLowHz = 300;
constexpr double kPhoneHighHz = 3400;

bool parse_hz(std::string_view text, double& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size() && out > 0 && std::isfinite(out);
}

std::vector<Biquad> make_filter(const Filter& f, int rate) {
  std::vector<Biquad> chain;
  auto fourth_order = [&](BiquadKind kind, double hz) {
    for (double q : kButterworth4Q) chain.push_back(make_biquad(kind, hz, q, rate));
  };
  switch (f.kind) {
    case FilterKind::None: break;
    case FilterKind::LowPass: fourth_order(BiquadKind::LowPass, f.high_hz); break;
    case FilterKind::HighPass: fourth_order(BiquadKind::HighPass, f.low_hz); break;
    case FilterKind::BandPass:
      fourth_order(BiquadKind::HighPass, f.low_hz);
      fourth_order(BiquadKind::LowPass, f.high_hz);
      break;
    case FilterKind::Phone:
      fourth_order(BiquadKind::HighPass, f.low_hz);
      fourth_order(BiquadKind::LowPass, f.high_hz);
      {
        // A cheap capsule: a bump in the upper mids. Adding the band pass's
        // denominator to its numerator gives 1 + band pass, +6 dB at the centre.
        Biquad bump = make_biquad(BiquadKind::BandPass, 1800, 2.0, rate);
        bump.b0 += 1.0f;
        bump.b1 += bump.a1;
        bump.b2 += bump.a2;
        chain.push_back(bump);
      }
      break;
  }
  return chain;
}

// A few early reflections and two feedback combs for the tail: a small room, not a
// hall. The direct sound passes unchanged, so the device's timing stays the truth.
class Room {
 public:
  Room(uint64_t seed, int rate) : size_(1) {
    Rng rng(seed);
    while (size_ < static_cast<size_t>(rate / 4)) size_ <<= 1;  // 250 ms of history
    line_.assign(size_, 0.0f);
    for (auto& c : comb_) c.assign(size_, 0.0f);
    double gain = 0.45;
    for (int i = 0; i < kTaps; ++i) {
      tap_delay_[i] = static_cast<int>(rng.uniform(0.007, 0.045) * rate);
      tap_gain_[i] = static_cast<float>(rng.chance(0.5) ? gain : -gain);
      gain *= 0.75;
    }
    double power = 1.0;  // of the direct sound
    for (float g : tap_gain_) power += static_cast<double>(g) * g;
    for (int i = 0; i < 2; ++i) {
      comb_delay_[i] = static_cast<int>(rng.uniform(0.029, 0.067) * rate);
      comb_feedback_[i] = static_cast<float>(rng.uniform(0.5, 0.65));
      const double fb = comb_feedback_[i];
      power += kCombWet * kCombWet * fb * fb / (1.0 - fb * fb);
    }
    // The room adds energy; scaling it back keeps the device's level, so a device
    // with reverb clips no more often than one without.
    scale_ = static_cast<float>(1.0 / std::sqrt(power));
  }

  float process(float x) {
    const size_t mask = size_ - 1;
    line_[pos_] = x;
    float y = x;
    for (int i = 0; i < kTaps; ++i) y += tap_gain_[i] * line_[(pos_ - tap_delay_[i]) & mask];
    for (int i = 0; i < 2; ++i) {
      const float back = comb_[i][(pos_ - comb_delay_[i]) & mask];
      comb_[i][pos_] = x + comb_feedback_[i] * back;
      y += kCombWet * back;
    }
    pos_ = (pos_ + 1) & mask;
    return y * scale_;
  }

 private:
  static constexpr int kTaps = 6;
  static constexpr float kCombWet = 0.15f;
  size_t size_;
  size_t pos_ = 0;
  std::vector<float> line_;
  std::vector<float> comb_[2];
  int tap_delay_[kTaps] = {};
  float tap_gain_[kTaps] = {};
  int comb_delay_[2] = {};
  float comb_feedback_[2] = {};
  float scale_ = 1.0f;
};

// The device's own noise: part hiss, part rumble.
class DeviceNoise {
 public:
  explicit DeviceNoise(uint64_t seed) : noise_(seed) {}
  float next() {
    const float w = noise_.next();
    b0_ = 0.99765f * b0_ + w * 0.0990460f;
    b1_ = 0.96300f * b1_ + w * 0.2965164f;
    b2_ = 0.57000f * b2_ + w * 1.0526913f;
    return 0.25f * (b0_ + b1_ + b2_) + 0.5f * w;
  }

 private:
  Noise noise_;
  float b0_ = 0, b1_ = 0, b2_ = 0;
};

float run(std::vector<Biquad>& chain, float x) {
  for (Biquad& f : chain) x = f.process(x);
  return x;
}

}  // namespace

struct DeviceChain::Parts {
  Parts(const DeviceSound& d)
      : signal_filter(make_filter(d.filter, d.rate)),
        noise_filter(signal_filter),
        noise(derive_seed(d.noise_seed, 1)),
        room(derive_seed(d.noise_seed, 2), d.rate) {}
  std::vector<Biquad> signal_filter, noise_filter;
  DeviceNoise noise;
  Room room;
};

std::string parse_filter(const std::string& text, Filter& out) {
  out = {};
  const auto colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  const std::string rest = colon == std::string::npos ? "" : text.substr(colon + 1);
  if (kind == "none" && rest.empty()) return {};
  if (kind == "phone" && rest.empty()) {
    out = {FilterKind::Phone, kPhoneLowHz, kPhoneHighHz};
    return {};
  }
  if (kind == "lowpass" && parse_hz(rest, out.high_hz)) {
    out.kind = FilterKind::LowPass;
    return {};
  }
  if (kind == "highpass" && parse_hz(rest, out.low_hz)) {
    out.kind = FilterKind::HighPass;
    return {};
  }
  if (kind == "bandpass") {
    const auto second = rest.find(':');
    if (second != std::string::npos && parse_hz(rest.substr(0, second), out.low_hz) &&
        parse_hz(rest.substr(second + 1), out.high_hz) && out.low_hz < out.high_hz) {
      out.kind = FilterKind::BandPass;
      return {};
    }
  }
  return "filter '" + text +
         "' is not one of none, lowpass:HZ, highpass:HZ, bandpass:LO:HI (LO < HI), phone";
}

int64_t device_frames(const DeviceSound& d) {
  return std::llround(d.duration_s * d.rate * (1.0 + d.drift_ppm * 1e-6));
}

DeviceChain::DeviceChain(const DeviceSound& d, double noise_gain)
    : d_(d),
      frames_(device_frames(d)),
      origin_(d.start_s * kEventRate),
      step_(static_cast<double>(kEventRate) / d.rate / (1.0 + d.drift_ppm * 1e-6)),
      noise_gain_(noise_gain),
      parts_(std::make_unique<Parts>(d)) {}

DeviceChain::~DeviceChain() = default;
DeviceChain::DeviceChain(DeviceChain&&) noexcept = default;
DeviceChain& DeviceChain::operator=(DeviceChain&&) noexcept = default;

int64_t DeviceChain::first_event_sample() const {
  return static_cast<int64_t>(std::floor(origin_)) - 1;
}

int64_t DeviceChain::last_event_sample() const {
  return static_cast<int64_t>(std::floor(origin_ + static_cast<double>(frames_) * step_)) + 2;
}

double DeviceChain::noise_gain_for(double signal_power, double noise_power, double snr_db) {
  if (noise_power <= 0) return 0;
  return std::sqrt(signal_power / (noise_power * std::pow(10.0, snr_db / 10.0)));
}

double DeviceChain::filtered_noise_power(const DeviceSound& d) {
  constexpr int kSettle = 4800;        // 100 ms for the filters to forget their start
  constexpr int kMeasureSeconds = 20;  // enough for about 0.1 dB
  Parts p(d);
  for (int i = 0; i < kSettle; ++i) run(p.noise_filter, p.noise.next());
  const int64_t n = static_cast<int64_t>(kMeasureSeconds) * d.rate;
  double energy = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double v = run(p.noise_filter, p.noise.next());
    energy += v * v;
  }
  return energy / static_cast<double>(n);
}

void DeviceChain::consume(const float* event, int64_t first, int n, std::vector<float>& out) {
  Parts& p = *parts_;
  const int64_t available_end = first + n;  // one past the last readable event sample
  const float gain = static_cast<float>(db_to_gain(d_.gain_db));
  const bool noisy = d_.snr_db.has_value() && noise_gain_ > 0;
  while (next_ < frames_) {
    const double pos = origin_ + static_cast<double>(next_) * step_;
    const int64_t i = static_cast<int64_t>(std::floor(pos));
    if (i + 2 >= available_end) break;
    const float f = static_cast<float>(pos - static_cast<double>(i));
    const float* x = event + (i - first);
    // Catmull-Rom through x[-1] .. x[2]; exact at f = 0, so an undrifted 48 kHz device
    // at a whole-sample start copies the event.
    const float c1 = 0.5f * (x[1] - x[-1]);
    const float c2 = x[-1] - 2.5f * x[0] + 2.0f * x[1] - 0.5f * x[2];
    const float c3 = 0.5f * (x[2] - x[-1]) + 1.5f * (x[0] - x[1]);
    float s = ((c3 * f + c2) * f + c1) * f + x[0];
    if (d_.reverb) s = p.room.process(s);
    s = run(p.signal_filter, s);
    float y = s;
    signal_energy_ += static_cast<double>(s) * s;
    if (noisy) y += static_cast<float>(noise_gain_) * run(p.noise_filter, p.noise.next());
    out.push_back(y * gain);
    ++frames_done_;
    ++next_;
  }
}

}  // namespace eventgen
