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
  // Frame f of n belongs to stretch f·count/n: every stretch gets its share, the last one
  // included. Stretch k + 1 begins at the first frame f with f·count >= (k + 1)·n, found
  // once a stretch rather than divided out for each of millions of samples.
  sf_count_t stretch = 0;
  const auto first_of = [&](sf_count_t k) { return (k * info.frames + count - 1) / count; };
  sf_count_t next = first_of(1);
  sf_count_t at = 0;
  while (at < info.frames) {
    const sf_count_t got = sf_readf_float(file.get(), block.data(), kBlockFrames);
    if (got <= 0) break;
    for (sf_count_t frame = at; frame < at + got;) {
      while (frame >= next) next = first_of(++stretch + 1);
      const sf_count_t end = std::min(next, at + got);
      float& peak = peaks[static_cast<std::size_t>(stretch)];
      const float* sample = block.data() + (frame - at) * info.channels;
      for (const float* last = block.data() + (end - at) * info.channels; sample < last; ++sample)
        peak = std::max(peak, std::abs(*sample));
      frame = end;
    }
    at += got;
  }
  for (float& peak : peaks) peak = std::min(peak, 1.0f);
  return peaks;
}
