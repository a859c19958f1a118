#include "matching/match.h"

// Placeholder until matching lands: no pair is compared.
MatchList proveri2(const LandmarkTable&, const LandmarkTable&, int, int, float, float) {
  return {9999999u};
}
std::vector<PairSlot> proveriall(const std::vector<LandmarkTable>&, int n, std::vector<float>,
                                 const std::vector<LandmarkTable>&, DeviceGroups, const ProgressFn&) {
  return std::vector<PairSlot>(static_cast<size_t>(n + 1) * static_cast<size_t>(n + 1));
}
void export2csvBIG(const char*, const Eigen::Matrix<std::uint64_t, Eigen::Dynamic, Eigen::Dynamic>&,
                   int, int) {}
void shrink_capacity(MatchList& list) { list.shrink_to_fit(); }
