#include "engine/drift_copies.h"

#include "core/format.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/process.h"
#include "core/stop.h"
#include "engine/run_cache.h"
#include "media/drift_correction.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

namespace {

namespace fs = std::filesystem;

constexpr double kPpmScale = 1e-6;
// A drift that moves a file's sound by more than this share of a frame over its length is
// corrected, when the clock is known well enough to move it by less.
constexpr double kLargestUncorrectedFrames = 0.25;

struct Copy {
  TimelineMember* member = nullptr;
  std::string path;
  std::string error;
};

// "<name without extension>.wav", and " (2)", " (3)" … for a name already taken.
std::string copy_name(const std::string& source, std::set<std::string>& taken) {
  const std::string stem = fs::path(file_name(source)).stem().string();
  std::string name = stem + ".wav";
  for (int k = 2; !taken.insert(name).second; ++k) name = stem + " (" + std::to_string(k) + ").wav";
  return name;
}

}  // namespace

bool needs_correction(const TimelineMember& member, const SyncGroup& group, float fps) {
  if (!member.audio_only() || member.reference_clock || !(fps > 0.0f)) return false;
  const auto clock = std::find_if(group.clocks.begin(), group.clocks.end(),
                                  [&](const DeviceClock& c) { return c.device == member.device; });
  if (clock == group.clocks.end()) return false;
  const double quarter_frame = kLargestUncorrectedFrames / fps;
  const double moved = std::abs(member.rate_ppm) * kPpmScale * member.length;
  const double uncertain = clock->rate_error_ppm * kPpmScale * member.length;
  return moved > quarter_frame && uncertain < quarter_frame;
}

std::vector<std::string> write_corrected_copies(Timeline& timeline, const std::string& output_folder,
                                                const std::string& transcoder, float fps,
                                                const ProgressFn& progress, int workers,
                                                RunCache* cache) {
  std::vector<std::string> notices;
  const fs::path folder = fs::path(output_folder) / kCorrectedFolder;
  std::vector<Copy> copies;
  std::set<std::string> taken;
  for (SyncGroup& group : timeline.groups)
    for (TimelineMember& member : group.members)
      if (needs_correction(member, group, fps))
        copies.push_back({&member, (folder / copy_name(member.path, taken)).string(), {}});

  if (copies.empty()) return notices;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    notices.push_back("drift-corrected copies could not be written: the folder " + folder.string() +
                      " cannot be made (" + ec.message() + ")");
    return notices;
  }

  const int n = static_cast<int>(copies.size());
  ordered_parallel_for(
      n, workers > 0 ? workers : worker_count(),
      [&](int i) {
        throw_if_stop_requested();
        Copy& c = copies[static_cast<std::size_t>(i)];
        if (cache && cache->has_corrected_copy(c.member->path, c.member->rate_ppm, c.path)) return;
        c.error = write_clock_corrected(transcoder, c.member->path, c.member->rate_ppm, c.path);
        if (cache && c.error.empty()) cache->keep_corrected_copy(c.member->path, c.member->rate_ppm, c.path);
      },
      [&](int i) {
        Copy& c = copies[static_cast<std::size_t>(i)];
        if (progress) progress(kStageCorrect, i + 1, n);
        if (!c.error.empty()) {
          logthis("drift correction of " + c.member->path + " failed: " + c.error);
          notices.push_back(file_name(c.member->path) + " keeps its own clock: " + c.error);
          return;
        }
        c.member->corrected = c.path;
      });
  return notices;
}
