#include "media/envelope.h"

#include "core/sndfile_handle.h"

#include <algorithm>
#include <cmath>

namespace {

// Read in blocks: an hour of analysis sound is 29 million samples.
constexpr sf_count_t kBlockFrames = 65536;

}  // namespace

std::vector<float> sound_envelope(const std::string& path, int points) {
  SF_INFO info{};
  const Sndfile file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file || info.frames <= 0 || info.channels <= 0 || points <= 0) return {};
  const sf_count_t count = std::min<sf_count_t>(points, info.frames);
  std::vector<float> peaks(static_cast<std::size_t>(count), 0.0f);
  std::vector<float> block(static_cast<std::size_t>(kBlockFrames * info.channels));
  sf_count_t at = 0;
  while (at < info.frames) {
    const sf_count_t got = sf_readf_float(file.get(), block.data(), kBlockFrames);
    if (got <= 0) break;
    for (sf_count_t i = 0; i < got * info.channels; ++i) {
      // Frame k of n belongs to stretch k·count/n: every stretch gets its share, the
      // last one included.
      const sf_count_t frame = at + i / info.channels;
      auto& peak = peaks[static_cast<std::size_t>(frame * count / info.frames)];
      peak = std::max(peak, std::abs(block[static_cast<std::size_t>(i)]));
    }
    at += got;
  }
  for (float& peak : peaks) peak = std::min(peak, 1.0f);
  return peaks;
}
