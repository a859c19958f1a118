#pragma once
// Decimal packing of small non-negative integers into one unsigned 64-bit value.

#include <cstdint>

namespace composeints {

// Landmark hash: a * 10^5 + b * 10^7 + c (anchor bin, partner bin, frame distance).
std::uint64_t composeInts(std::uint64_t& a, std::uint64_t& b, std::uint64_t& c);

// a * 10^12 + b * 10^9 + c * 10^6 + d; exact inverse of decomposeInts3 while
// b, c < 1000 and d < 10^6.
std::uint64_t composeInts3(std::uint64_t& a, std::uint64_t& b, std::uint64_t& c, std::uint64_t& d);

void decomposeInts3(std::uint64_t x, std::uint64_t& a, std::uint64_t& b, std::uint64_t& c,
                    std::uint64_t& d);

}  // namespace composeints
