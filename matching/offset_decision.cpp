#include "matching/offset_decision.h"

#include "engine/log.h"

// Placeholder until the decision lands: every pair is dismissed.
std::vector<float> finalcut(MatchList) { return {100000000.f, 1, 100000000.f, 1, 1, 1, 1}; }

void decide_pairs(const std::vector<PairSlot>& slots, int n, const std::vector<float>&,
                  const std::vector<std::string>&, std::vector<float>&) {
  const size_t m = static_cast<size_t>(n + (n % 2));
  const size_t walked = std::min(slots.size(), m * (m + 1) / 2);
  for (size_t k = 0; k < walked; ++k) logthis("<10 hits");
}
