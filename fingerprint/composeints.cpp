#include "fingerprint/composeints.h"

// Placeholder until fingerprinting lands.
namespace composeints {
std::uint64_t composeInts(std::uint64_t& a, std::uint64_t& b, std::uint64_t& c) {
  return a * 100000u + b * 10000000u + c;
}
std::uint64_t composeInts3(std::uint64_t& a, std::uint64_t& b, std::uint64_t& c, std::uint64_t& d) {
  return a * 1000000000000u + b * 1000000000u + c * 1000000u + d;
}
void decomposeInts3(std::uint64_t x, std::uint64_t& a, std::uint64_t& b, std::uint64_t& c,
                    std::uint64_t& d) {
  a = x / 1000000000000u;
  b = (x / 1000000000u) % 1000u;
  c = (x / 1000000u) % 1000u;
  d = x % 1000000u;
}
}  // namespace composeints
