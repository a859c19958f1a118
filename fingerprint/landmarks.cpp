#include "fingerprint/landmarks.h"

#include "core/composeints.h"
#include "core/log.h"

#include <algorithm>
#include <cstdint>
#include <ostream>

namespace {

constexpr int kPartnersPerAnchor = 9;

// Visits the landmarks of every anchor in creation order. The kept list runs from the
// latest frame to the earliest, so the partners of an anchor (strictly later, less than
// targetDt frames on) form one stretch of the list just before the anchor's own frame,
// and both ends of that stretch only move forward from one anchor to the next. Every
// test is made on the float values of bin and frame, so any targetDt and targetDf give
// the same pairs as comparing every peak with every other.
template <typename Visit>
void visit_landmarks(const KeptPeaks& kept, float targetDf, float targetDt, Visit&& visit) {
  const auto& list = kept.peaks;
  const int n = std::min(kept.count, static_cast<int>(list.size()));
  int first = 0;  // first entry with t2 < t1 + targetDt
  int end = 0;    // first entry with t2 <= t1
  for (int j = 0; j < n; ++j) {
    const float f1 = static_cast<float>(list[j].first);
    const float t1 = static_cast<float>(list[j].second);
    while (first < n && !(static_cast<float>(list[first].second) < t1 + targetDt)) ++first;
    while (end < n && t1 < static_cast<float>(list[end].second)) ++end;
    int partners = 0;
    for (int i = first; i < end && partners < kPartnersPerAnchor; ++i) {
      const float f2 = static_cast<float>(list[i].first);
      if (f1 - targetDf < f2 && f2 < f1 + targetDf) {
        ++partners;
        visit(list[j], list[i]);
      }
    }
  }
}

}  // namespace

LandmarkTable pair_landmarks(const KeptPeaks& kept, float targetDf, float targetDt) {
  if (kept.count <= 0) {
    console() << "LL<2 pred return..\n";
    return LandmarkTable::Zero(1, 2);
  }
  Eigen::Index rows = 0;
  visit_landmarks(kept, targetDf, targetDt, [&](const auto&, const auto&) { ++rows; });

  LandmarkTable table(rows, 2);
  Eigen::Index r = 0;
  visit_landmarks(kept, targetDf, targetDt, [&](const auto& anchor, const auto& partner) {
    std::uint64_t f1 = static_cast<std::uint64_t>(anchor.first);
    std::uint64_t f2 = static_cast<std::uint64_t>(partner.first);
    std::uint64_t dt = static_cast<std::uint64_t>(partner.second - anchor.second);
    table(r, 0) = static_cast<std::uint64_t>(anchor.second);
    table(r, 1) = composeints::composeInts(f1, f2, dt);
    ++r;
  });
  return table;
}
