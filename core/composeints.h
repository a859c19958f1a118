#pragma once
// Decimal packing of small non-negative integers into one unsigned 64-bit value.
//
// Landmark hash, composeInts(f1, f2, dt) = f1 * 10^5 + f2 * 10^7 + dt:
//   anchor bin f1 (0..190), partner bin f2 (0..190), frame distance dt (1..62).
//   1415000005 = 150 * 10^5 + 140 * 10^7 + 5. The anchor field is 10^5, not 10^6, so
//   from f1 = 100 on it reaches into the partner's decade: (100, 0, 5) and (0, 1, 5)
//   both give 10000005. Such bins are 100 apart and never share a pairing window
//   (at most 30 bins), so real landmarks stay unique; 0 is never a real hash (dt >= 1).
//
// Match word, composeInts3(a, b, c, d) = a * 10^12 + b * 10^9 + c * 10^6 + d:
//   section a, longer file b (0..999), shorter file c (0..999), offset code d
//   (0..999999). 3007250123456 = 3 * 10^12 + 7 * 10^9 + 250 * 10^6 + 123456.
// All arithmetic wraps modulo 2^64.

#include <cstdint>

namespace composeints {

std::uint64_t composeInts(std::uint64_t& a, std::uint64_t& b, std::uint64_t& c);

// Each field reads back through match_word while b, c < 1000 and d < 10^6.
std::uint64_t composeInts3(std::uint64_t& a, std::uint64_t& b, std::uint64_t& c, std::uint64_t& d);

}  // namespace composeints

// The fields of a match word, by name. Sorting match words orders them by section, then
// by the pair's positions, then by offset code.
namespace match_word {

inline constexpr std::uint64_t kSectionUnit = 1000000000000u;  // 10^12
inline constexpr std::uint64_t kLongerUnit = 1000000000u;      // 10^9
inline constexpr std::uint64_t kShorterUnit = 1000000u;        // 10^6
// File positions take three decimal digits: entries 0..999.
inline constexpr int kPositionEnd = 1000;
// Offset codes count hundredths of a second, centred on 500000 and six digits wide: time
// differences (shorter-file time minus longer-file time) from -5000 s to just under +5000 s.
inline constexpr int kOffsetCodeZero = 500000;
inline constexpr int kOffsetCodeEnd = 1000000;
inline constexpr int kHundredthsPerSecond = 100;
// A section is 1/32 of the shorter file: the matcher cuts sections by it, and the decision
// counts the overlap in them.
inline constexpr float kSectionShare = 0.03125f;

inline std::uint64_t section(std::uint64_t word) { return word / kSectionUnit; }
inline int offset_code(std::uint64_t word) { return static_cast<int>(word % kShorterUnit); }
inline float code_to_seconds(int code) {
  return static_cast<float>(code - kOffsetCodeZero) / static_cast<float>(kHundredthsPerSecond);
}

}  // namespace match_word
