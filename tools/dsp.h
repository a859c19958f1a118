#pragma once
// Small filters shared by the event synthesis and the device chains.

#include <cmath>
#include <numbers>

namespace eventgen {

// A second-order section in transposed direct form II, coefficients after the
// audio-EQ cookbook formulas (a0 normalised to 1).
struct Biquad {
  float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  float z1 = 0, z2 = 0;

  float process(float x) {
    const float y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
  }
};

enum class BiquadKind { LowPass, HighPass, BandPass };

// `q` of 1/sqrt(2) gives the Butterworth pair; a band pass has 0 dB at `hz`.
inline Biquad make_biquad(BiquadKind kind, double hz, double q, double rate) {
  const double w = 2.0 * std::numbers::pi * hz / rate;
  const double cw = std::cos(w);
  const double alpha = std::sin(w) / (2.0 * q);
  const double a0 = 1.0 + alpha;
  double b0 = 0, b1 = 0, b2 = 0;
  switch (kind) {
    case BiquadKind::LowPass:
      b0 = b2 = (1.0 - cw) / 2.0;
      b1 = 1.0 - cw;
      break;
    case BiquadKind::HighPass:
      b0 = b2 = (1.0 + cw) / 2.0;
      b1 = -(1.0 + cw);
      break;
    case BiquadKind::BandPass:
      b0 = alpha;
      b1 = 0.0;
      b2 = -alpha;
      break;
  }
  Biquad f;
  f.b0 = static_cast<float>(b0 / a0);
  f.b1 = static_cast<float>(b1 / a0);
  f.b2 = static_cast<float>(b2 / a0);
  f.a1 = static_cast<float>(-2.0 * cw / a0);
  f.a2 = static_cast<float>((1.0 - alpha) / a0);
  return f;
}

constexpr double kButterworthQ = 0.7071067811865476;

inline double db_to_gain(double db) { return std::pow(10.0, db / 20.0); }

}  // namespace eventgen
