#include "core/composeints.h"

namespace composeints {

namespace {
constexpr std::uint64_t kAnchorField = 100000;         // 10^5
constexpr std::uint64_t kPartnerField = 10000000;      // 10^7
constexpr std::uint64_t kSectionField = 1000000000000; // 10^12
constexpr std::uint64_t kLongerField = 1000000000;     // 10^9
constexpr std::uint64_t kShorterField = 1000000;       // 10^6
constexpr std::uint64_t kPositionSpan = 1000;          // file positions 0..999
}  // namespace

std::uint64_t composeInts(std::uint64_t& a, std::uint64_t& b, std::uint64_t& c) {
  return a * kAnchorField + b * kPartnerField + c;
}

std::uint64_t composeInts3(std::uint64_t& a, std::uint64_t& b, std::uint64_t& c, std::uint64_t& d) {
  return a * kSectionField + b * kLongerField + c * kShorterField + d;
}

void decomposeInts3(std::uint64_t x, std::uint64_t& a, std::uint64_t& b, std::uint64_t& c,
                    std::uint64_t& d) {
  a = x / kSectionField;
  b = (x / kLongerField) % kPositionSpan;
  c = (x / kShorterField) % kPositionSpan;
  d = x % kShorterField;
}

}  // namespace composeints
