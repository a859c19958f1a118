#include "core/composeints.h"

namespace composeints {

namespace {
constexpr std::uint64_t kAnchorField = 100000;         // 10^5
constexpr std::uint64_t kPartnerField = 10000000;      // 10^7
constexpr std::uint64_t kSectionField = match_word::kSectionUnit;
constexpr std::uint64_t kLongerField = match_word::kLongerUnit;
constexpr std::uint64_t kShorterField = match_word::kShorterUnit;
}  // namespace

std::uint64_t composeInts(std::uint64_t& a, std::uint64_t& b, std::uint64_t& c) {
  return a * kAnchorField + b * kPartnerField + c;
}

std::uint64_t composeInts3(std::uint64_t& a, std::uint64_t& b, std::uint64_t& c, std::uint64_t& d) {
  return a * kSectionField + b * kLongerField + c * kShorterField + d;
}


}  // namespace composeints
