#pragma once
// The generator's own random numbers. The standard distributions may give other
// values on another library version, and a generated event must come out the same
// everywhere, so every draw below is plain integer arithmetic.

#include <cstdint>
#include <string_view>

namespace eventgen {

// One splitmix64 step: spreads a seed so that nearby seeds give unrelated streams.
constexpr uint64_t splitmix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A seed for a named part of something seeded by `seed` (a section, a device's noise).
constexpr uint64_t derive_seed(uint64_t seed, uint64_t part) {
  uint64_t s = seed ^ (part * 0xD1B54A32D192ED03ull);
  splitmix64(s);
  return splitmix64(s);
}

// FNV-1a of a text, to seed things by name.
constexpr uint64_t hash_text(std::string_view text) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return h;
}

// xoshiro256**: the stream every random choice of the generator draws from.
class Rng {
 public:
  explicit constexpr Rng(uint64_t seed) {
    for (uint64_t& word : s_) word = splitmix64(seed);
  }

  constexpr uint64_t next() {
    const uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }

  // Uniform in [0, 1), from the top 53 bits.
  constexpr double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  constexpr double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Uniform integer in [0, n) for n > 0 (the bias of the modulo is far below anything audible).
  constexpr int below(int n) { return static_cast<int>((next() >> 33) % static_cast<uint64_t>(n)); }
  constexpr bool chance(double p) { return uniform() < p; }
  // A fresh seed for a child stream.
  constexpr uint64_t seed() { return next(); }

 private:
  static constexpr uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4] = {};
};

// A cheap white-noise source for the inner loops, uniform in [-1, 1).
class Noise {
 public:
  explicit constexpr Noise(uint64_t seed) : state_(static_cast<uint32_t>(seed >> 32) | 1u) {}
  float next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<float>(static_cast<int32_t>(state_)) * 0x1.0p-31f;
  }

 private:
  uint32_t state_;
};

}  // namespace eventgen
