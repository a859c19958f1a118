#include "engine/synco.h"

#include "core/entries.h"
#include "core/files.h"
#include "core/format.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/stop.h"
#include "engine/analysis.h"
#include "engine/drift_copies.h"
#include "engine/found_devices.h"
#include "engine/media_copies.h"
#include "engine/run_cache.h"
#include "engine/timecode_check.h"
#include "export/formats.h"
#include "export/result_tables.h"
#include "fingerprint/spectrogram.h"
#include "matching/decide.h"
#include "matching/device_check.h"
#include "matching/groups.h"
#include "matching/main_sound.h"
#include "matching/match.h"
#include "media/envelope.h"
#include "media/media.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <utility>

namespace {

// Shows `folder` in the file manager; best effort, and detached: a file manager that
// stays open must not keep the run from ending. An argument vector, never a shell: the
// folder's name is passed as it is.
void show_folder(const std::string& folder, RunResult& result) {
  console() << "komanda" << kFolderViewer << " \"" << console_safe(folder) << "\"\n";
  result.folder_viewer = std::make_shared<DetachedProgram>(show_in_file_manager(folder));
  result.shown_folder = folder;
}

void report(const SyncOptions& options, std::string_view stage, int i, int n) {
  if (options.progress) options.progress(stage, i, n);
}

// Points the console at the front end's sink for the length of a run.
class ConsoleScope {
 public:
  explicit ConsoleScope(std::ostream* sink) : active_(sink != nullptr) {
    if (active_) set_console(sink);
  }
  ~ConsoleScope() {
    if (active_) set_console(nullptr);
  }

 private:
  bool active_;
};

// What the timeline needs of every entry: its path, device, frame rate, duration and where
// its sound and its media time start.
std::vector<TimelineMember> timeline_entries(const std::vector<std::string>& files,
                                             const AnalysedEntries& analysed) {
  std::vector<TimelineMember> entries(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    TimelineMember& e = entries[i];
    e.entry = static_cast<int>(i);
    e.path = files[i];
    e.device = e.entry;
    e.frame_rate = framerate_number(analysed.framerates[i]);
    e.maker_model = analysed.starts[i].clues.name();
    e.duration = analysed.durations[i];
    e.length = sound_seconds(analysed.analysis[i].c_str());
    const MediaStart& start = analysed.starts[i];
    e.sound_at = start.sound_after_picture_s;
    e.timecode = start.timecode;
    if (start.read) {
      e.sound_streams = static_cast<int>(start.sounds.size());
      for (const SoundStream& s : start.sounds) e.channels += s.channels;
      if (start.sounds.size() > 1 && start.analysed >= 0)
        e.sound_stream = start.sounds[static_cast<std::size_t>(start.analysed)].index;
      e.sound_channel = start.channel_alone;
    }
  }
  for (const std::vector<int>& group : analysed.groups)
    for (int member : group)
      if (member >= 0 && static_cast<std::size_t>(member) < entries.size())
        entries[static_cast<std::size_t>(member)].device = group.front();
  return entries;
}

// The work folder and its WAVs go when the run ends; the outlines stay with the result.
// Each file is read whole once more, so a shoot of hours reads them on every core.
void keep_sound_outlines(Timeline& timeline, const std::vector<std::string>& analysis, RunCache& cache) {
  std::vector<TimelineMember*> members;
  for (SyncGroup& group : timeline.groups)
    for (TimelineMember& m : group.members) members.push_back(&m);
  ordered_parallel_for(
      static_cast<int>(members.size()), worker_count(),
      [&](int i) {
        TimelineMember& m = *members[static_cast<std::size_t>(i)];
        const auto entry = static_cast<std::size_t>(m.entry);
        const std::vector<double> outline = cache.of_sound(entry, "outline", [&] {
          const std::vector<float> made = sound_envelope(analysis[entry]);
          return std::vector<double>(made.begin(), made.end());
        });
        m.envelope.assign(outline.begin(), outline.end());
      },
      [](int) {});
}

// Every group's main sound, from the SNR of the audio-only members of groups with a
// camera (each WAV read once more, on every core), and a log line per group.
std::string choose_and_log_main_sounds(Timeline& timeline, const std::vector<std::string>& analysis,
                                       const std::string& chosen, RunCache& cache) {
  std::vector<const TimelineMember*> measured;
  for (const SyncGroup& group : timeline.groups) {
    if (std::all_of(group.members.begin(), group.members.end(),
                    [](const TimelineMember& m) { return m.audio_only(); }))
      continue;
    for (const TimelineMember& m : group.members)
      if (m.audio_only()) measured.push_back(&m);
  }
  std::vector<double> snr_db(analysis.size(), 0.0);
  ordered_parallel_for(
      static_cast<int>(measured.size()), worker_count(),
      [&](int i) {
        const auto entry = static_cast<std::size_t>(measured[static_cast<std::size_t>(i)]->entry);
        const std::vector<double> snr =
            cache.of_sound(entry, "snr", [&] { return std::vector<double>{signal_to_noise_db(analysis[entry])}; });
        snr_db[entry] = snr.empty() ? 0.0 : snr.front();
      },
      [](int) {});
  const std::string problem = choose_main_sounds(timeline, snr_db, chosen);
  for (std::size_t g = 0; g < timeline.groups.size(); ++g) {
    const SyncGroup& group = timeline.groups[g];
    if (group.main_sound < 0) continue;
    double camera_s = 0.0;
    for (const TimelineMember& m : group.members)
      if (!m.audio_only() && m.device != group.main_sound) camera_s += m.length;
    const auto device = std::find_if(group.members.begin(), group.members.end(),
                                     [&](const TimelineMember& m) { return m.device == group.main_sound; });
    logthis("main sound of sync group " + std::to_string(g + 1) + ": " + file_name(device->path) +
            (std::any_of(group.members.begin(), group.members.end(),
                         [&](const TimelineMember& m) { return m.path == chosen; })
                 ? " (chosen)"
                 : "") +
            ", covering " +
            fixed_text(camera_time_covered(group, group.main_sound), 1) + " s of the cameras' " +
            fixed_text(camera_s, 1) + " s, " + fixed_text(snr_db[static_cast<std::size_t>(device->entry)], 1) +
            " dB above its floor");
  }
  if (!problem.empty()) logthis(problem);
  return problem;
}

std::string run(std::vector<std::string> files, const RunSettings& settings,
                const SyncOptions& options, RunResult& result) {
  result.entries = files;
  logthis("pocetok na sync c kernel....");
  const RunFolderLock lock;
  if (lock.busy()) throw std::runtime_error(run_folder_busy());
  // Declared before the work on its files, so that it goes after that work has ended.
  const WorkFolder work;

  // The devices found become marked groups, so that the run from here on is the run of
  // the list the user would have marked so; their containers are read once, here.
  DeviceFinding found;
  if (settings.find_devices) {
    logthis("devices from the files...");
    found = find_devices(files);
    files = found.files;
    result.entries = files;
    result.devices = found.devices;
    result.devices_refused = found.refused;
  } else {
    result.devices = options.found_devices;
  }

  RunCache cache(options.use_cache ? run_folder().cache : std::string(), options.cache_limit,
                 static_cast<float>(settings.tolerance), settings.sound_stream);
  // Trimmed once the run has kept all it keeps, the outlines and copies last, however it
  // ends; like every write to the cache, best effort.
  struct TrimAtEnd {
    const RunCache& cache;
    ~TrimAtEnd() {
      try {
        cache.trim();
      } catch (...) {
      }
    }
  } const trim_at_end{cache};
  AnalysedEntries analysed = transcode_and_fingerprint(
      files, work.path(), static_cast<float>(settings.tolerance), settings.sound_stream,
      options.progress, &cache, settings.find_devices ? &found.starts : nullptr);
  if (cache.enabled()) {
    const std::string taken = cache.files_report(media_entry_count(files));
    logthis(taken);
    result.notices.push_back(taken);
  }
  result.unreadable = analysed.unreadable;
  if (!analysed.framerates_from_mediainfo) result.notices.push_back(kNoMediaInfo);

  logthis("PRED PROVERI ALL MNOGU BITNO!!!!!!!!!!!!!!!  -------------------------");
  std::vector<PairSlot> slots =
      proveriall(analysed.tables, static_cast<int>(files.size()), analysed.durations,
                 analysed.groups, options.progress, cache.lists());
  logthis("POSLE PROVERI ALL MNOGU BITNO!!!!!!!!!!!!!!!  -------------------------");
  std::vector<LandmarkTable>().swap(analysed.tables);

  const std::vector<PairVerdict> verdicts =
      decide_pairs(std::move(slots), analysed.analysis, analysed.durations, settings.refine,
                   options.progress, cache.measures(analysed.analysis), cache.judgements());
  if (const std::string matched = cache.lists_report(); !matched.empty()) logthis(matched);
  if (const std::string measured = cache.measures_report(); !measured.empty()) logthis(measured);
  if (const std::string failed = cache.failure(); !failed.empty())
    logthis("cache not written: " + failed);
  result.pairs = pairs_in_sync(verdicts);
  logthis("posle csvwrite...");
  if (result.pairs.empty()) return "nema";
  throw_if_stop_requested();

  const OutputPlan plan = output_plan(options.output_folder);
  const std::vector<PairResult> clean = without_reversed_duplicates(result.pairs);
  write_result_tables(result.pairs, clean, plan.tables);
  result.timecode_checks = check_timecodes(clean, analysed.starts, analysed.framerates, files);
  if (const std::string notice = timecode_notice(result.timecode_checks); !notice.empty())
    result.notices.push_back(notice);
  result.timeline = build_timeline(clean, timeline_entries(files, analysed));
  solve_clocks(result.timeline, clean);
  // Judged on the clocks' placements, which leave out the pairs that disagree with the
  // rest; a device split has clocks of its own, solved again.
  const std::vector<std::string> splits = split_disproved_devices(result.timeline, result.devices);
  for (const std::string& split : splits) {
    logthis(split);
    result.notices.push_back(split);
  }
  if (!splits.empty()) solve_clocks(result.timeline, clean);
  keep_sound_outlines(result.timeline, analysed.analysis, cache);
  if (const std::string problem =
          choose_and_log_main_sounds(result.timeline, analysed.analysis, settings.main_sound, cache);
      !problem.empty())
    result.notices.push_back(problem);
  report_timeline(result.timeline);
  if (settings.drift_correct) {
    const std::vector<std::string> notices = write_corrected_copies(
        result.timeline, plan.documents, transcoder_path(), settings.fps, options.progress, 0, &cache);
    result.notices.insert(result.notices.end(), notices.begin(), notices.end());
  }

  if (settings.write_media) {
    MediaCopies media = write_media_copies(result.timeline, plan.documents, transcoder_path(), options.progress);
    result.media = std::move(media.written);
    result.notices.insert(result.notices.end(), media.notices.begin(), media.notices.end());
  }

  report(options, kStageExport, 1, 1);
  const ExportSettings exported =
      export_settings(settings.fps, settings.width, settings.height, settings.premiere);
  result.documents = write_documents(timeline_documents(result.timeline, exported), plan.documents);
  if (options.open_output) show_folder(plan.shown, result);
  return "mavo";
}

}  // namespace

std::string synco(std::vector<std::string> files, double tolerance, int x, int y, float fps,
                  int premiere) {
  return synco(std::move(files), tolerance, x, y, fps, premiere, SyncOptions{});
}

std::string synco(std::vector<std::string> files, double tolerance, int x, int y, float fps,
                  int premiere, const SyncOptions& options) {
  RunSettings settings;
  settings.tolerance = tolerance;
  settings.fps = fps;
  settings.width = x;
  settings.height = y;
  settings.premiere = premiere;
  return synco(std::move(files), settings, options);
}

std::string synco(std::vector<std::string> files, const RunSettings& settings,
                  const SyncOptions& options) {
  ConsoleScope scope(options.console);
  RunResult result;
  std::string answer = "nema";
  try {
    answer = run(files, settings, options, result);
  } catch (const std::exception& e) {
    result.error = e.what();
  } catch (...) {
    result.error = "an unknown error";
  }
  if (!result.error.empty()) logthis("sync run stopped: " + result.error);
  if (options.result) *options.result = std::move(result);
  return answer;
}
