#include "matching/main_sound.h"

#include "matching/analysis_sound.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>

namespace {

// 50 ms at the analysis rate of 8000 Hz: long enough for a syllable's power, short enough
// that the pauses between words count as the floor.
constexpr std::int64_t kStretchSamples = 400;
constexpr std::int64_t kReadStretches = 1000;
constexpr double kLoudShare = 0.95;
constexpr double kQuietShare = 0.10;
// Digital silence has no floor to measure; this one puts it 120 dB below full scale.
constexpr double kSilentPower = 1e-12;
constexpr double kDecibelsPerPowerDecade = 10.0;
// Coverages closer than the offsets' own resolution (hundredths) are the same.
constexpr double kSameCoverage_s = 0.01;

struct Span {
  double from = 0.0, to = 0.0;
};

Span span_of(const TimelineMember& m) { return {m.exact_start, m.exact_start + m.length}; }

double overlap(Span a, Span b) { return std::max(0.0, std::min(a.to, b.to) - std::max(a.from, b.from)); }

}  // namespace

double signal_to_noise_db(const std::string& wav_path) {
  SoundFile file(wav_path);
  if (!file.usable()) return 0.0;
  std::vector<double> powers;
  std::vector<float> block(static_cast<std::size_t>(kStretchSamples * kReadStretches));
  for (std::int64_t at = 0; at + kStretchSamples <= file.frames();
       at += kStretchSamples * kReadStretches) {
    const std::int64_t count = std::min(kStretchSamples * kReadStretches, file.frames() - at);
    if (!file.read(at, count, block.data())) break;
    for (std::int64_t s = 0; s + kStretchSamples <= count; s += kStretchSamples) {
      double sum = 0.0;
      for (std::int64_t k = s; k < s + kStretchSamples; ++k)
        sum += static_cast<double>(block[static_cast<std::size_t>(k)]) * block[static_cast<std::size_t>(k)];
      powers.push_back(sum / static_cast<double>(kStretchSamples));
    }
  }
  if (powers.empty()) return 0.0;
  std::sort(powers.begin(), powers.end());
  const auto at_share = [&](double share) {
    const auto k = static_cast<std::size_t>(share * static_cast<double>(powers.size() - 1));
    return std::max(powers[k], kSilentPower);
  };
  return kDecibelsPerPowerDecade * std::log10(at_share(kLoudShare) / at_share(kQuietShare));
}

double camera_time_covered(const SyncGroup& group, int device) {
  double covered = 0.0;
  for (const TimelineMember& camera : group.members) {
    if (camera.audio_only() || camera.device == device) continue;
    // A device's files follow one another; should two overlap, the time counts once.
    std::vector<Span> spans;
    for (const TimelineMember& m : group.members)
      if (m.device == device) spans.push_back(span_of(m));
    std::sort(spans.begin(), spans.end(), [](Span a, Span b) { return a.from < b.from; });
    double reached = span_of(camera).from;
    for (Span s : spans) {
      s.from = std::max(s.from, reached);
      if (s.to <= s.from) continue;
      covered += overlap(s, span_of(camera));
      reached = s.to;
    }
  }
  return covered;
}

std::string choose_main_sounds(Timeline& timeline, const std::vector<double>& snr_db,
                               const std::string& chosen) {
  bool found = chosen.empty();
  for (SyncGroup& group : timeline.groups) {
    group.main_sound = -1;
    const bool has_camera = std::any_of(group.members.begin(), group.members.end(),
                                        [](const TimelineMember& m) { return !m.audio_only(); });
    for (const TimelineMember& m : group.members)
      if (!chosen.empty() && m.path == chosen) {
        group.main_sound = m.device;
        found = true;
      }
    if (group.main_sound >= 0 || !has_camera) continue;

    // Per audio-only device: its cover of the cameras, and its files' SNR by their length.
    std::map<int, std::pair<double, double>> snr_and_length;
    for (const TimelineMember& m : group.members) {
      if (!m.audio_only()) continue;
      const double snr = m.entry >= 0 && static_cast<std::size_t>(m.entry) < snr_db.size()
                             ? snr_db[static_cast<std::size_t>(m.entry)]
                             : 0.0;
      auto& [weighted, length] = snr_and_length[m.device];
      weighted += snr * m.length;
      length += m.length;
    }
    double best_cover = 0.0, best_snr = 0.0;
    for (const auto& [device, weighted] : snr_and_length) {
      const double cover = camera_time_covered(group, device);
      const double snr = weighted.second > 0.0 ? weighted.first / weighted.second : 0.0;
      if (!(cover > 0.0)) continue;
      const bool more = group.main_sound < 0 || cover > best_cover + kSameCoverage_s;
      const bool tie = !more && cover >= best_cover - kSameCoverage_s && snr > best_snr;
      if (more || tie) {
        group.main_sound = device;
        best_cover = std::max(cover, best_cover);
        best_snr = snr;
      }
    }
  }
  if (found) return {};
  return "the main sound " + chosen + " synced with no other file; each group takes its own";
}
