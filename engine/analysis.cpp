#include "engine/analysis.h"

#include "core/entries.h"
#include "core/format.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/process.h"
#include "core/stop.h"
#include "engine/run_cache.h"
#include "fingerprint/passes.h"
#include "fingerprint/prepare.h"
#include "media/devicegroups.h"
#include "media/media.h"

#include <cmath>
#include <exception>
#include <future>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>

namespace {

// How the transcoder says that the disk it writes to is full.
constexpr const char* kNoRoom = "No space left on device";

struct FingerprintOfEntry {
  LandmarkTable reduced;
  float seconds = 0.0f;
  std::string console_text;
  bool made = true;  // false: fingerprinting failed, and nothing of it may be kept
};

FingerprintOfEntry fingerprint_entry(const std::string& analysis_path, int index, float decay) {
  FingerprintOfEntry out;
  std::ostringstream text;
  {
    ConsoleCapture capture(text);
    // A pass that cannot read the file reports no seconds: the entry keeps 0.
    float seconds = 0.0f;
    LandmarkTable passes[3];
    Eigen::MatrixXf picture;  // the three passes' spectrograms share one allocation
    const char* labels[3] = {"     prvo pominuvanje maksovi :", "     vtoro  pominuvanje maksovi :",
                             "     treto  pominuvanje maksovi :"};
    for (int k = 0; k < 3; ++k) {
      passes[k] = final_sredi(analysis_path.c_str(), index, &seconds, decay, kTargetDf, kTargetDt,
                              kPassOffsets[k], picture);
      console() << labels[k] << passes[k].size();
    }
    console() << '\n';
    out.seconds = seconds;
    out.reduced = prepare_landmarks(passes[0], passes[1], passes[2]);
  }
  out.console_text = text.str();
  return out;
}

// Fingerprints an entry's analysis WAV; a failure leaves the entry without a fingerprint.
FingerprintOfEntry fingerprint_or_nothing(const std::string& analysis_path, int index,
                                          float decay) {
  try {
    return fingerprint_entry(analysis_path, index, decay);
  } catch (const std::exception& e) {
    FingerprintOfEntry failed;
    failed.reduced = LandmarkTable::Zero(1, 2);
    failed.console_text = "fingerprint failed: " + console_safe(e.what()) + "\n";
    failed.made = false;
    return failed;
  }
}

// The entries ffmpeg could not read, with its reason; a full disk is no file's fault and
// ends the run, since no file could be read that way.
std::vector<UnreadableFile> unreadable_entries(
    const std::vector<std::string>& failures, const std::string& work_folder) {
  std::vector<UnreadableFile> unreadable;
  for (std::size_t i = 0; i < failures.size(); ++i) {
    if (failures[i].empty()) continue;
    if (failures[i].find(kNoRoom) != std::string::npos)
      throw std::runtime_error("no room left in the work folder " + work_folder +
                               ": set BRENVIK_WORK_DIR to a folder with room");
    unreadable.push_back({static_cast<int>(i), failures[i]});
  }
  return unreadable;
}

void log_analysis_names(const std::vector<std::string>& analysis) {
  logthis("posle ffmpeg..");
  logthis("fahlovite se resemplirani vo 8000hz -------------------------");
  for (const std::string& name : analysis) logthis(name);
  console() << "resemplirani\n";
  for (const std::string& name : analysis) console() << console_safe(name) << '\n';
}

// Takes the fingerprints, made ahead as the transcoders finished, in entry order: log
// lines, console text and progress come as if the entries had been fingerprinted one
// after another here. Progress counts files; markers report nothing.
void collect_fingerprints(WorkAhead& ahead, std::vector<FingerprintOfEntry>& made,
                          const std::vector<std::string>& files, AnalysedEntries& out,
                          const ProgressFn& progress) {
  const int n = static_cast<int>(made.size());
  const int media_files = media_entry_count(files);
  out.tables.assign(made.size(), LandmarkTable());
  out.durations.assign(made.size(), 0.0f);
  int reported = 0;
  console() << "pred alokacija na all[i] 200000\n";
  for (int i = 0; i < n; ++i) {
    throw_if_stop_requested();
    ahead.wait(i);
    FingerprintOfEntry& entry = made[i];
    logthis("687");
    console() << entry.console_text << std::flush;
    out.durations[i] = entry.seconds;
    logthis("vkupniot broj na maksovi:" + float2string(static_cast<float>(entry.reduced.size())));
    out.tables[i] = std::move(entry.reduced);
    if (!is_marker(files[i]) && progress) progress(kStageFingerprint, ++reported, media_files);
  }
}

// Takes stream `k` of a file of several as the analysed one, and says why.
void log_stream_choice(const std::string& file, const SoundChoice& choice, int k, MediaStart& start) {
  analyse_sound(start, k);
  const SoundStream& s = start.sounds[static_cast<std::size_t>(k)];
  logthis(file + ": sound stream " + std::to_string(k + 1) + " of " + std::to_string(start.sounds.size()) +
          " analysed (" + (choice.wanted >= 1 ? "as chosen" : "the one with the most signal") + ", " +
          std::to_string(s.channels) + (s.channels == 1 ? " channel)" : " channels)"));
}

// Files of several sound streams: the one analysed, and where it starts; a channel
// analysed alone.
void log_sound_choices(const std::vector<std::string>& files, const SoundChoice& choice,
                       std::vector<MediaStart>& starts) {
  for (std::size_t i = 0; i < files.size() && i < choice.chosen.size(); ++i) {
    const int k = choice.chosen[i];
    if (k >= 0) log_stream_choice(files[i], choice, k, starts[i]);
    if (i < choice.channel.size() && choice.channel[i] >= 0 && starts[i].analysed >= 0) {
      starts[i].channel_alone = choice.channel[i];
      const SoundStream& s = starts[i].sounds[static_cast<std::size_t>(starts[i].analysed)];
      logthis(files[i] + ": channel " + std::to_string(choice.channel[i] + 1) + " of " +
              std::to_string(s.channels) + " analysed alone (the others record next to nothing)");
    }
  }
}

// Only the files whose sound is off their picture or that carry a timecode: the others
// read as they always have.
void log_starts(const std::vector<std::string>& files, const std::vector<MediaStart>& starts) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    const double ms = starts[i].sound_after_picture_s * 1000.0;
    if (ms != 0.0)
      logthis(files[i] + ": the sound starts " + fixed_text(std::fabs(ms), 3) + " ms " +
              (ms > 0.0 ? "after" : "before") + " the first picture");
    if (starts[i].timecode.present())
      logthis(files[i] + ": starts at timecode " + starts[i].timecode.text);
  }
}

// MediaInfo gives no frame rate for some MPEG-TS files (it takes them for variable rate),
// which would make a camera's file sound only; the container's picture stream has one.
void rates_from_containers(const std::vector<std::string>& files, const std::vector<MediaStart>& starts,
                           std::vector<std::string>& framerates) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (framerates[i] != kNoVideoRate || !(starts[i].picture_rate > 0.0)) continue;
    framerates[i] = fixed_text(starts[i].picture_rate, 3);
    logthis(files[i] + ": frame rate " + framerates[i] + " from its picture stream");
  }
}

// Entries the cache holds, their analysis WAVs put in place; nothing for the others.
std::vector<std::optional<CachedFile>> cached_entries(const std::vector<std::string>& files,
                                                      const std::vector<std::string>& analysis,
                                                      RunCache* cache) {
  std::vector<std::optional<CachedFile>> cached(files.size());
  if (cache == nullptr || !cache->enabled()) return cached;
  cache->identify(files);
  ordered_parallel_for(static_cast<int>(files.size()), worker_count(), [&](int i) {
    cached[i] = cache->take(static_cast<std::size_t>(i), analysis[i]);
  }, [](int) {});
  return cached;
}

// Keeps what this run made of the entries the cache did not hold: a file ffmpeg could not
// read, or that could not be fingerprinted, is tried afresh by every run.
void keep_entries(const std::vector<std::string>& files, const AnalysedEntries& out,
                  const std::vector<MediaStart>& probed, const SoundChoice& choice,
                  const std::vector<std::string>& framerates,
                  const std::vector<std::optional<CachedFile>>& cached,
                  const std::vector<FingerprintOfEntry>& made, RunCache* cache) {
  if (cache == nullptr || !cache->enabled()) return;
  std::vector<bool> unreadable(files.size(), false);
  for (const UnreadableFile& u : out.unreadable) unreadable[static_cast<std::size_t>(u.entry)] = true;
  ordered_parallel_for(static_cast<int>(files.size()), worker_count(), [&](int i) {
    const auto k = static_cast<std::size_t>(i);
    if (is_marker(files[k]) || cached[k] || unreadable[k] || !made[k].made) return;
    CachedFile file;
    file.start = probed[k];
    file.chosen_stream = k < choice.chosen.size() ? choice.chosen[k] : -1;
    file.channel_alone = k < choice.channel.size() ? choice.channel[k] : -1;
    file.framerate = framerates[k];
    file.reduced = out.tables[k];
    file.seconds = out.durations[k];
    file.console_text = made[k].console_text;
    cache->keep(k, file, out.analysis[k]);
  }, [](int) {});
}

}  // namespace

AnalysedEntries transcode_and_fingerprint(const std::vector<std::string>& files,
                                          const std::string& work_folder, float decay,
                                          int sound_stream, const ProgressFn& progress,
                                          RunCache* cache, const std::vector<MediaStart>* probed_before) {
  AnalysedEntries out;
  out.analysis = analysis_names(files, work_folder);
  const std::vector<std::optional<CachedFile>> cached = cached_entries(files, out.analysis, cache);
  // The containers first (a few milliseconds a file): which sound streams there are
  // decides what the transcoder is asked for.
  out.starts.resize(files.size());
  ordered_parallel_for(static_cast<int>(files.size()), worker_count(), [&](int i) {
    if (probed_before && static_cast<std::size_t>(i) < probed_before->size())
      out.starts[i] = (*probed_before)[static_cast<std::size_t>(i)];
    else if (cached[i])
      out.starts[i] = cached[i]->start;
    else if (!is_marker(files[i]))
      out.starts[i] = media_start(files[i]);
  }, [](int) {});
  const std::vector<MediaStart> probed = out.starts;
  SoundChoice choice;
  choice.wanted = sound_stream;
  for (const MediaStart& s : out.starts) {
    choice.streams.push_back(static_cast<int>(s.sounds.size()));
    std::vector<int>& channels = choice.channels.emplace_back();
    for (const SoundStream& sound : s.sounds) channels.push_back(sound.channels);
    choice.seconds.push_back(s.clues.duration_s);
  }
  choice.ready.assign(files.size(), false);
  choice.chosen.assign(files.size(), -1);
  choice.channel.assign(files.size(), -1);
  std::vector<std::string> known_rates(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!cached[i]) continue;
    choice.ready[i] = true;
    choice.chosen[i] = cached[i]->chosen_stream;
    choice.channel[i] = cached[i]->channel_alone;
    known_rates[i] = cached[i]->framerate;
  }

  std::vector<FingerprintOfEntry> made(files.size());
  WorkAhead ahead(static_cast<int>(files.size()), worker_count(), [&](int i) {
    if (cached[i]) {
      made[i].reduced = cached[i]->reduced;
      made[i].seconds = cached[i]->seconds;
      made[i].console_text = cached[i]->console_text;
    } else {
      made[i] = fingerprint_or_nothing(out.analysis[i], i, decay);
    }
  });

  // MediaInfo opens every file once more, one after another: alongside the transcoders
  // that costs no time of its own, where after them it held up the matching.
  std::future<std::vector<std::string>> rates = std::async(
      std::launch::async, [&files, &known_rates] { return read_framerates(files, &known_rates); });
  logthis("pred ffmpeg..");
  std::vector<std::string> failures;
  resemplirajgi8000(files, out.analysis, progress, 0, [&](int i) { ahead.ready(i); }, &failures,
                    &choice);
  log_sound_choices(files, choice, out.starts);
  out.unreadable = unreadable_entries(failures, work_folder);
  log_analysis_names(out.analysis);

  out.groups = devicegroopy(out.analysis);
  report_missing_mediainfo();
  out.framerates = rates.get();
  out.framerates_from_mediainfo = mediainfo_available();
  collect_fingerprints(ahead, made, files, out, progress);
  keep_entries(files, out, probed, choice, out.framerates, cached, made, cache);
  log_starts(files, out.starts);
  rates_from_containers(files, out.starts, out.framerates);
  return out;
}
