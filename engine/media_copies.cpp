#include "engine/media_copies.h"

#include "core/format.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/process.h"
#include "core/stop.h"
#include "export/timeline_layout.h"
#include "media/synced_media.h"

#include <filesystem>
#include <set>

namespace {

namespace fs = std::filesystem;

constexpr double kPpmScale = 1e-6;
// Less than this left to the camera's own sound is the containers' rounding at the ends
// of the clip, not a stretch worth a word.
constexpr double kLeastUncoveredS = 0.1;

struct Copy {
  std::string camera;      // absolute path of the camera's file
  std::string main_sound;  // the name of the main sound's first file, for the notices
  std::vector<SoundCut> cuts;
  std::string path;
  SyncedMediaCopy written;
};

// The camera's name, or "<stem> (2)<ext>", … where this run or the folder has it already.
std::string copy_name(const std::string& camera, const fs::path& folder, std::set<std::string>& taken) {
  const fs::path name = file_name(camera);
  std::string candidate = name.string();
  for (int k = 2; fs::exists(folder / candidate) || !taken.insert(candidate).second; ++k)
    candidate = name.stem().string() + " (" + std::to_string(k) + ")" + name.extension().string();
  return candidate;
}

// The main sound's stretches that the camera clip spans, in seconds of the camera's clock
// after its first picture, each read by the clock of its own device: the same cut as the
// ready-to-cut documents make, where the timeline's time is the reference device's.
std::vector<SoundCut> cuts_for(const LayoutClip& camera, const std::vector<const LayoutClip*>& main) {
  std::vector<SoundCut> cuts;
  const double camera_rate = 1.0 + camera.member.rate_ppm * kPpmScale;
  for (const SoundPiece& piece : cut_to(main, camera)) {
    const double sound_rate = 1.0 + piece.sound->member.rate_ppm * kPpmScale;
    cuts.push_back({piece.sound->source, piece.in * sound_rate,
                    (piece.start - camera.member.exact_start) * camera_rate,
                    (piece.end - piece.start) * camera_rate, sound_rate / camera_rate});
  }
  return cuts;
}

}  // namespace

MediaCopies write_media_copies(const Timeline& timeline, const std::string& output_folder,
                               const std::string& transcoder, const ProgressFn& progress, int workers) {
  MediaCopies out;
  const fs::path folder = fs::absolute(fs::path(output_folder) / kSyncedMediaFolder);
  std::vector<Copy> copies;
  std::set<std::string> taken;
  for (const GroupLayout& layout : layout_groups(from_media_starts(timeline))) {
    if (layout.main_sound < 0) continue;
    const std::vector<const LayoutClip*> main = main_sound_clips(layout);
    for (const LayoutTrack& track : layout.tracks) {
      if (!track.video || track.device == layout.main_sound) continue;
      for (const LayoutClip& clip : track.clips) {
        Copy c{clip.source, main.empty() ? std::string() : main.front()->name, cuts_for(clip, main), {}, {}};
        if (c.cuts.empty()) {
          out.notices.push_back(clip.name + " gets no synced media file: the main sound " + c.main_sound +
                                " does not reach it, and its own sound is in the file already");
          logthis("no synced media file of " + clip.source + ": the main sound does not reach it");
          continue;
        }
        c.path = (folder / copy_name(clip.source, folder, taken)).string();
        copies.push_back(std::move(c));
      }
    }
  }
  if (copies.empty()) return out;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    out.notices.push_back("no synced media files were written: the folder " + folder.string() +
                          " cannot be made (" + ec.message() + ")");
    return out;
  }
  const int n = static_cast<int>(copies.size());
  ordered_parallel_for(
      n, workers > 0 ? workers : worker_count(),
      [&](int i) {
        throw_if_stop_requested();
        Copy& c = copies[static_cast<std::size_t>(i)];
        c.written = write_synced_media(transcoder, c.camera, c.cuts, c.path);
      },
      [&](int i) {
        const Copy& c = copies[static_cast<std::size_t>(i)];
        if (progress) progress(kStageMedia, i + 1, n);
        const std::string name = file_name(c.camera), copy = file_name(c.path);
        if (!c.written.error.empty()) {
          logthis("synced media file of " + c.camera + " failed: " + c.written.error);
          out.notices.push_back("No synced media file of " + name + " was written: " + c.written.error + ".");
          return;
        }
        logthis("synced media file of " + c.camera + ": " + c.path + ", the main sound " + c.main_sound +
                " over " + fixed_text(c.written.duration_s - c.written.uncovered_s, 3) + " s of its " +
                fixed_text(c.written.duration_s, 3) + " s");
        out.written.push_back(c.path);
        if (c.written.uncovered_s >= kLeastUncoveredS)
          out.notices.push_back(std::string(kSyncedMediaFolder) + "/" + copy + ": the main sound " + c.main_sound +
                                " does not cover " + fixed_text(c.written.uncovered_s, 1) + " s of its " +
                                fixed_text(c.written.duration_s, 1) + " s, which keep the camera's own sound");
      });
  return out;
}
