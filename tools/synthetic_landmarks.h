#pragma once
// Landmark tables of recordings cut from one generated event: every device hears a share
// of the event's landmarks at its own start time, plus landmarks of its own.

#include "core/composeints.h"
#include "core/types.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace synthetic {

constexpr double kFramesPerSecond = 8000.0 / 192.0;  // frames of 192 samples at 8000 Hz

// A landmark hash as the pairing makes them: anchor bins crowd the low end of the
// spectrum, the partner lies within 30 bins and 1 to 62 frames later.
inline std::uint64_t random_hash(std::mt19937_64& rng) {
  std::exponential_distribution<double> low_bins(1.0 / 45.0);
  std::normal_distribution<double> spread(0.0, 10.0);
  std::uniform_int_distribution<int> frames(1, 62);
  const int f1 = std::min(190, static_cast<int>(low_bins(rng)));
  const int step = std::clamp(static_cast<int>(std::lround(spread(rng))), -30, 30);
  std::uint64_t a = static_cast<std::uint64_t>(f1);
  std::uint64_t b = static_cast<std::uint64_t>(std::clamp(f1 + step, 0, 190));
  std::uint64_t c = static_cast<std::uint64_t>(frames(rng));
  return composeints::composeInts(a, b, c);
}

// Landmarks of the event: (anchor frame on the event's clock, hash), in time order.
using Event = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

inline Event make_event(double seconds, double per_second, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> when(0.0, seconds * kFramesPerSecond);
  Event event(static_cast<std::size_t>(seconds * per_second));
  for (auto& landmark : event) landmark = {static_cast<std::uint64_t>(when(rng)), random_hash(rng)};
  std::sort(event.begin(), event.end());
  return event;
}

// The table of a device that records event seconds [start, start + length): each event
// landmark is heard with probability `heard`; `own_per_second` landmarks are its own.
// Rows in ascending frame.
inline LandmarkTable record(const Event& event, double start, double length, double heard,
                            double own_per_second, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::bernoulli_distribution hears(heard);
  const auto first = static_cast<std::uint64_t>(start * kFramesPerSecond);
  const auto end = static_cast<std::uint64_t>((start + length) * kFramesPerSecond);
  Event rows;
  for (const auto& [frame, hash] : event)
    if (frame >= first && frame < end && hears(rng)) rows.push_back({frame - first, hash});
  std::uniform_real_distribution<double> when(0.0, length * kFramesPerSecond);
  const auto own = static_cast<std::size_t>(length * own_per_second);
  for (std::size_t k = 0; k < own; ++k)
    rows.push_back({static_cast<std::uint64_t>(when(rng)), random_hash(rng)});
  std::sort(rows.begin(), rows.end());
  LandmarkTable table(static_cast<Eigen::Index>(rows.size()), 2);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    table(static_cast<Eigen::Index>(r), 0) = rows[r].first;
    table(static_cast<Eigen::Index>(r), 1) = rows[r].second;
  }
  return table;
}

}  // namespace synthetic
