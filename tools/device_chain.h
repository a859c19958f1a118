#pragma once
// What one device makes of the event: its window, clock, room, microphone and noise.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace eventgen {

enum class FilterKind { None, LowPass, HighPass, BandPass, Phone };

struct Filter {
  FilterKind kind = FilterKind::None;
  double low_hz = 0;   // high-pass corner (HighPass, BandPass, Phone)
  double high_hz = 0;  // low-pass corner (LowPass, BandPass, Phone)
};

// Parses "none", "lowpass:HZ", "highpass:HZ", "bandpass:LO:HI" or "phone" (300 to
// 3400 Hz). Returns an error sentence, or "" when `text` is good.
std::string parse_filter(const std::string& text, Filter& out);

struct DeviceSound {
  double start_s = 0;     // event time of the file's first sample
  double duration_s = 1;  // event time the file spans
  double drift_ppm = 0;   // positive: the device clock runs fast, the file comes out longer
  int rate = 48000;       // Hz of the written file
  double gain_db = 0;
  Filter filter;
  std::optional<double> snr_db;  // none: no added noise
  bool reverb = false;
  uint64_t noise_seed = 1;  // the device's own noise and room
};

// Samples in the device's file: the span at the device's clock rate.
int64_t device_frames(const DeviceSound& d);

// Renders one device from the event stream. File sample k holds the event at time
// start_s + k / (rate · (1 + drift_ppm·1e-6)), interpolated (cubic Hermite) from the
// 48 kHz event. The noise enters before the microphone filter, like room noise, and
// its level makes the filtered signal-to-noise ratio over the whole file equal
// snr_db; that needs the signal power of a first pass with noise_gain 0.
class DeviceChain {
 public:
  static constexpr int kHistory = 4;  // event samples before a block the chain may read

  DeviceChain(const DeviceSound& d, double noise_gain);

  // Takes the event samples [first, first + n); event[-kHistory .. -1] must hold the
  // samples just before (zeros before the event start). Appends the file samples now
  // computable to out, scaled to full scale ±1 (not clipped).
  void consume(const float* event, int64_t first, int n, std::vector<float>& out);

  bool done() const { return next_ >= frames_; }
  // The first and the last event sample the chain reads.
  int64_t first_event_sample() const;
  int64_t last_event_sample() const;

  // Mean power over the file so far of the filtered clean signal, before the device gain.
  double signal_power() const { return frames_done_ ? signal_energy_ / frames_done_ : 0.0; }

  // The noise gain that gives `snr_db` for these measured powers.
  static double noise_gain_for(double signal_power, double noise_power, double snr_db);

  // Mean power of the device's noise after its filter, at noise_gain 1. The noise is
  // stationary, so some seconds of it tell the power of the whole file to well under
  // 0.1 dB and spare a second pass of the noise through the filter.
  static double filtered_noise_power(const DeviceSound& d);

  ~DeviceChain();
  DeviceChain(DeviceChain&&) noexcept;
  DeviceChain& operator=(DeviceChain&&) noexcept;

 private:
  struct Parts;
  DeviceSound d_;
  int64_t frames_;
  int64_t next_ = 0;
  double origin_;  // event sample of file sample 0
  double step_;    // event samples per file sample
  double noise_gain_;
  double signal_energy_ = 0;
  int64_t frames_done_ = 0;
  std::unique_ptr<Parts> parts_;
};

}  // namespace eventgen
