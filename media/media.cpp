#include "media/media.h"

#include "core/entries.h"
#include "core/format.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/sndfile_handle.h"
#include "core/stop.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <ostream>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kAnalysisRateHz = "8000";
constexpr const char* kAnalysisChannels = "1";
// A channel with under a hundredth of the loudest one's power (20 dB below it) records
// nothing worth mixing in.
constexpr double kQuietChannelShare = 0.01;
constexpr const char* kFramerateMarker = "0";
// Answers this short carry no frame rate (the library answers "" for a file without video).
constexpr std::size_t kMinFramerateChars = 2;

// ffmpeg takes some 80 ms of CPU to start (it binds two hundred libraries as it loads),
// more than it needs to decode a minute of a phone's sound: files this short go a few to
// one transcoder. Each is read by a source of its own in one filter graph, which gives the
// samples the file's own transcoder gives; as inputs of one transcoder they would be read
// on a thread each, every packet handed across, which costs back most of the start.
constexpr double kSharedFileMaxSec = 180.0;
// Twenty minutes of sound take about half a second to transcode; a shoot of 240 files started
// 40 transcoders at half these limits and starts 23 at these.
constexpr double kSharedMaxSec = 1200.0;
constexpr std::size_t kSharedMaxFiles = 24;
// Containers whose sound keeps one format to the end: a change of format stops a shared
// transcoder (each file then goes alone), which MPEG-TS and raw streams bring often.
constexpr std::array<std::string_view, 6> kSharedContainers = {".mov", ".mp4", ".m4a", ".m4v", ".3gp", ".wav"};

// A name of this many bytes and the entry number fit every file system's 255.
constexpr std::size_t kLongestNamePart = 200;

std::string command_text(const std::string& program, const std::string& entry,
                         const std::string& analysis, int sound_stream = -1) {
  const std::string map = sound_stream >= 0 ? " -map 0:a:" + std::to_string(sound_stream) : "";
  return console_safe("\"" + program + "\"   -i \"" + entry + "\"" + map +
                      " -vn -acodec pcm_s16le -ar 8000 -ac 1 -f wav -y \"" + analysis + "\"");
}

// The file name of `path`, cut to kLongestNamePart bytes at a character boundary.
std::string short_file_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > kLongestNamePart) {
    std::size_t cut = kLongestNamePart;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return name;
}

// ffmpeg takes a name that starts with '-' for an option and "word:..." for a protocol
// (pipe:, http:, ...); behind "./" any relative name is a plain file.
std::string as_file_argument(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  return "./" + path;
}

// Appends the output options of an analysis WAV at `path`, mono or with every channel.
void add_analysis_output(std::vector<std::string>& argv, const std::string& path, bool mono) {
  argv.insert(argv.end(), {"-acodec", "pcm_s16le", "-ar", kAnalysisRateHz});
  if (mono) argv.insert(argv.end(), {"-ac", kAnalysisChannels});
  argv.insert(argv.end(), {"-f", "wav", "-y", as_file_argument(path)});
}

// Returns the transcoder's exit status (0 on success) and its last word on failure.
// `channels`, when given, gets the same sound with every channel kept, from the same
// decoding: the mono mix comes out as it would alone.
int transcode(const std::string& program, const std::string& entry, const std::string& output,
              std::string& reason, int sound_stream = -1, const std::string& channels = "") {
  const std::string input = as_file_argument(entry);
  // Only errors on standard error, so that the last line kept is the reason of a failure.
  std::vector<std::string> argv = {program, "-nostdin", "-hide_banner", "-loglevel", "error",
                                   "-i", input};
  const auto add_output = [&](const std::string& path, bool mono) {
    if (sound_stream >= 0) argv.insert(argv.end(), {"-map", "0:a:" + std::to_string(sound_stream)});
    argv.push_back("-vn");
    add_analysis_output(argv, path, mono);
  };
  add_output(output, true);
  if (!channels.empty()) add_output(channels, false);
  const int status = run_program(argv, reason);
  // ffmpeg names the input before its complaint; the caller names the file itself.
  const std::string named = input + ": ";
  if (reason.rfind(named, 0) == 0) reason.erase(0, named.size());
  // A failed transcoder may leave a truncated WAV, which must not be fingerprinted as
  // this file's sound.
  if (status != 0) {
    std::remove(output.c_str());
    if (!channels.empty()) std::remove(channels.c_str());
  }
  return status;
}

// The channel of a multi-channel analysis WAV to analyse alone, or -1 for the mix: a
// camera whose second input records nothing (an unplugged microphone, a muted radio
// receiver) halves the mix and adds its hiss, while two live microphones are heard
// best together.
int channel_to_analyse(const std::string& channels) {
  SF_INFO info{};
  const Sndfile file(sf_open(channels.c_str(), SFM_READ, &info));
  if (!file || info.channels < 2) return -1;
  const auto count = static_cast<std::size_t>(info.channels);
  std::vector<double> power(count, 0.0);
  std::vector<short> block(count << 14);
  for (sf_count_t got; (got = sf_readf_short(file.get(), block.data(), static_cast<sf_count_t>(block.size() / count))) > 0;)
    for (std::size_t k = 0; k < static_cast<std::size_t>(got) * count; ++k)
      power[k % count] += static_cast<double>(block[k]) * block[k];
  const auto loudest = std::max_element(power.begin(), power.end());
  if (!(*loudest > 0.0)) return -1;
  const bool one_alone = std::any_of(power.begin(), power.end(),
                                     [&](double p) { return p < kQuietChannelShare * *loudest; });
  return one_alone ? static_cast<int>(loudest - power.begin()) : -1;
}

// Writes channel `channel` of the WAV `channels` as the mono analysis WAV `output`,
// through a file beside it, so that a failure leaves the mix in place.
bool write_channel(const std::string& channels, int channel, const std::string& output) {
  SF_INFO info{};
  const Sndfile in(sf_open(channels.c_str(), SFM_READ, &info));
  if (!in || channel < 0 || channel >= info.channels) return false;
  SF_INFO mono{};
  mono.samplerate = info.samplerate;
  mono.channels = 1;
  mono.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  const std::string part = output + ".channel";
  bool written = true;
  {
    const Sndfile out(sf_open(part.c_str(), SFM_WRITE, &mono));
    if (!out) return false;
    const auto count = static_cast<std::size_t>(info.channels);
    std::vector<short> block(count << 14), one(block.size() / count);
    for (sf_count_t got; written && (got = sf_readf_short(in.get(), block.data(), static_cast<sf_count_t>(one.size()))) > 0;) {
      for (sf_count_t f = 0; f < got; ++f)
        one[static_cast<std::size_t>(f)] = block[static_cast<std::size_t>(f) * count + static_cast<std::size_t>(channel)];
      written = sf_writef_short(out.get(), one.data(), got) == got;
    }
  }
  if (written && std::rename(part.c_str(), output.c_str()) == 0) return true;
  std::remove(part.c_str());
  return false;
}

// From `all`, the analysis sound with every channel, makes `output` the one channel
// channel_to_analyse picks, if any; returns it, or -1 for the mix left in `output`.
// `all` is removed either way.
int take_channel_alone(const std::string& all, const std::string& output) {
  const int alone = channel_to_analyse(all);
  const int channel = alone >= 0 && write_channel(all, alone, output) ? alone : -1;
  std::remove(all.c_str());
  return channel;
}

// Transcodes as `transcode`; where the stream has `channels` ≥ 2, takes one of them alone
// when channel_to_analyse says so, in `channel` (else -1).
int transcode_channels(const std::string& program, const std::string& entry, const std::string& output,
                       std::string& reason, int sound_stream, int channels, int& channel) {
  channel = -1;
  if (channels < 2) return transcode(program, entry, output, reason, sound_stream);
  const std::string all = output + ".channels";
  const int status = transcode(program, entry, output, reason, sound_stream, all);
  // On failure `transcode` has removed `all` with the rest.
  if (status == 0) channel = take_channel_alone(all, output);
  return status;
}

// A file of a shared transcoder, read through `link` (a name that a filter graph takes as
// it is); `channels` ≥ 2 also writes them all beside the mix for channel_to_analyse.
struct SharedFile {
  std::string entry, output, link;
  int channels = 1;
};

// Decodes every file as transcode_channels would alone, in one transcoder; returns its
// status and, on success, each file's channel analysed alone (-1: the mix) in `alone`.
// On failure nothing of the outputs is left.
int transcode_together(const std::string& program, const std::vector<SharedFile>& batch,
                       std::vector<int>& alone) {
  std::string graph;
  std::vector<std::string> outputs;
  const auto all_channels = [](const SharedFile& f) { return f.output + ".channels"; };
  const auto add_output = [&](const std::string& label, const std::string& path, bool mono) {
    outputs.insert(outputs.end(), {"-map", "[" + label + "]"});
    add_analysis_output(outputs, path, mono);
  };
  std::error_code ec;
  const auto remove_links = [&] {
    for (const SharedFile& f : batch) std::filesystem::remove(f.link, ec);
  };
  for (std::size_t k = 0; k < batch.size(); ++k) {
    const SharedFile& f = batch[k];
    std::filesystem::remove(f.link, ec);
    const std::filesystem::path target = std::filesystem::absolute(f.entry, ec);
    if (!ec) std::filesystem::create_symlink(target, f.link, ec);
    if (ec) {
      remove_links();
      return kProgramNotStarted;
    }
    const std::string mix = "m" + std::to_string(k), all = "c" + std::to_string(k);
    if (!graph.empty()) graph += ";";
    graph += "amovie=" + f.link + (f.channels >= 2 ? ",asplit=2[" + mix + "][" + all + "]" : "[" + mix + "]");
    add_output(mix, f.output, true);
    if (f.channels >= 2) add_output(all, all_channels(f), false);
  }
  std::vector<std::string> argv = {program, "-nostdin", "-hide_banner", "-loglevel", "error",
                                   "-filter_complex", graph};
  argv.insert(argv.end(), outputs.begin(), outputs.end());
  std::string reason;
  const int status = run_program(argv, reason);
  remove_links();
  alone.assign(batch.size(), -1);
  for (std::size_t k = 0; k < batch.size(); ++k) {
    const SharedFile& f = batch[k];
    if (status != 0) std::remove(f.output.c_str());
    if (f.channels < 2) continue;
    if (status == 0)
      alone[k] = take_channel_alone(all_channels(f), f.output);
    else
      std::remove(all_channels(f).c_str());
  }
  return status;
}

// Mean square of a 16-bit WAV's samples; 0 for one that cannot be read.
double mean_square(const std::string& path) {
  SF_INFO info{};
  const Sndfile file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file || info.channels != 1) return 0.0;
  std::vector<short> block(1 << 16);
  double sum = 0.0;
  sf_count_t total = 0;
  for (sf_count_t got; (got = sf_read_short(file.get(), block.data(), static_cast<sf_count_t>(block.size()))) > 0;) {
    for (sf_count_t k = 0; k < got; ++k) sum += static_cast<double>(block[static_cast<std::size_t>(k)]) * block[static_cast<std::size_t>(k)];
    total += got;
  }
  return total > 0 ? sum / static_cast<double>(total) : 0.0;
}

// Each sound stream of a file in turn; the loudest becomes `output`. Returns the
// transcoder's status for the one kept (the last failure when none could be read).
int transcode_loudest(const std::string& program, const std::string& entry, const std::string& output,
                      const std::vector<int>& channels, std::string& reason, int& chosen, int& channel) {
  int status = 0;
  double loudest = -1.0;
  chosen = -1;
  channel = -1;
  for (int k = 0; k < static_cast<int>(channels.size()); ++k) {
    const std::string part = output + ".sound" + std::to_string(k);
    std::string why;
    int alone = -1;
    const int s = transcode_channels(program, entry, part, why, k, channels[static_cast<std::size_t>(k)], alone);
    const double power = s == 0 ? mean_square(part) : -1.0;
    if (s == 0 && power > loudest) {
      if (chosen >= 0) std::remove(output.c_str());
      std::rename(part.c_str(), output.c_str());
      loudest = power;
      chosen = k;
      channel = alone;
    } else {
      std::remove(part.c_str());
      if (s != 0 && chosen < 0) {
        status = s;
        reason = why;
      }
    }
  }
  if (chosen >= 0) {
    status = 0;
    reason.clear();
  }
  return status;
}

// ffprobe comes with ffmpeg, so the one beside the transcoder is the likeliest to exist.
std::string ffprobe_program() {
  std::error_code ec;
  const std::filesystem::path transcoder =
      std::filesystem::canonical(transcoder_path(), ec);
  if (!ec) {
    const std::string sibling = (transcoder.parent_path() / "ffprobe").string();
    if (access(sibling.c_str(), X_OK) == 0) return sibling;
  }
  return "ffprobe";
}

// "30000/1001" in MediaInfo's form, "29.970"; "" for no rate ("0/0").
std::string framerate_text(const std::string& fraction) {
  const char* first = fraction.data();
  const char* last = first + fraction.size();
  double numerator = 0.0, denominator = 1.0;
  auto read = std::from_chars(first, last, numerator);
  if (read.ec != std::errc{}) return "";
  if (read.ptr != last && *read.ptr == '/') {
    read = std::from_chars(read.ptr + 1, last, denominator);
    if (read.ec != std::errc{}) return "";
  }
  if (!(numerator > 0.0 && denominator > 0.0)) return "";
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, numerator / denominator,
                                     std::chars_format::fixed, 3);
  return written.ec == std::errc{} ? std::string(text, written.ptr) : "";
}

std::string ffprobe_framerate(const std::string& program, const std::string& path) {
  std::string out;
  const int status = run_program_output({program, "-v", "error", "-select_streams", "v:0",
                                         "-show_entries", "stream=avg_frame_rate", "-of",
                                         "default=nw=1:nk=1", as_file_argument(path)},
                                        out);
  return status == 0 ? framerate_text(out) : "";
}

}  // namespace

std::vector<std::string> analysis_names(const std::vector<std::string>& files,
                                        const std::string& folder) {
  std::vector<std::string> out;
  out.reserve(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (is_marker(files[i]))
      out.push_back(files[i] + kAnalysisSuffix);
    else
      out.push_back(folder + "/" + std::to_string(i) + "-" + short_file_name(files[i]) + ".wav");
  }
  return out;
}

std::string transcoder_command_text(const std::string& entry, const std::string& analysis,
                                    int sound_stream) {
  return command_text(transcoder_path(), entry, analysis, sound_stream);
}

std::vector<std::string> resemplirajgi8000(std::vector<std::string> files,
                                           const std::vector<std::string>& analysis,
                                           const ProgressFn& progress, int max_transcoders,
                                           const std::function<void(int)>& transcoded,
                                           std::vector<std::string>* failures,
                                           SoundChoice* choice) {
  const int n = static_cast<int>(files.size());
  const std::string program = transcoder_path();
  std::vector<int> chosen(static_cast<std::size_t>(n), -1);
  std::vector<int> channel(static_cast<std::size_t>(n), -1);
  const auto ready = [&](int i) {
    return choice && static_cast<std::size_t>(i) < choice->ready.size() &&
           choice->ready[static_cast<std::size_t>(i)];
  };
  for (int i = 0; i < n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (ready(i) && k < choice->chosen.size()) chosen[k] = choice->chosen[k];
    if (ready(i) && k < choice->channel.size()) channel[k] = choice->channel[k];
  }
  const auto streams_of = [&](int i) {
    return choice && static_cast<std::size_t>(i) < choice->streams.size() ? choice->streams[static_cast<std::size_t>(i)] : 0;
  };
  // Each stream's channels; none known (an older caller, an unreadable container) is one.
  const auto channels_of = [&](int i, int streams) {
    std::vector<int> channels(static_cast<std::size_t>(std::max(streams, 1)), 1);
    if (choice && static_cast<std::size_t>(i) < choice->channels.size())
      for (std::size_t k = 0; k < channels.size() && k < choice->channels[static_cast<std::size_t>(i)].size(); ++k)
        channels[k] = choice->channels[static_cast<std::size_t>(i)][k];
    return channels;
  };

  const int media_entries = media_entry_count(files);
  const int limit = max_transcoders > 0 ? max_transcoders : worker_count();
  const int wanted = choice ? choice->wanted : 0;

  // Where a shared transcoder reads entry i from: a link beside its analysis WAV, named
  // so that a filter graph takes it as it stands; empty where the file goes alone (of
  // unknown or long length, a container outside kSharedContainers, or with several
  // streams to weigh against each other).
  const auto shared_link = [&](int i) -> std::string {
    const auto k = static_cast<std::size_t>(i);
    if (is_marker(files[k]) || ready(i) || !choice || k >= choice->seconds.size() || streams_of(i) != 1) return {};
    const double seconds = choice->seconds[k];
    if (!(seconds > 0.0 && seconds <= kSharedFileMaxSec)) return {};
    const std::string extension = std::filesystem::path(files[k]).extension().string();
    if (std::find(kSharedContainers.begin(), kSharedContainers.end(), lower_case(extension)) ==
        kSharedContainers.end())
      return {};
    std::error_code ec;
    const std::string link =
        (std::filesystem::absolute(std::filesystem::path(analysis[k]).parent_path(), ec) /
         ("shared-" + std::to_string(i) + extension)).string();
    const bool plain = !ec && std::all_of(link.begin(), link.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
             c == '.' || c == '_' || c == '-';
    });
    return plain ? link : std::string();
  };
  // Entries in list order, the short ones together until a batch is full.
  std::vector<std::vector<int>> jobs;
  std::vector<std::string> links(static_cast<std::size_t>(n));
  double batch_seconds = 0.0;
  bool batch_open = false;
  for (int i = 0; i < n; ++i) {
    links[static_cast<std::size_t>(i)] = shared_link(i);
    if (links[static_cast<std::size_t>(i)].empty()) {
      jobs.push_back({i});
      batch_open = false;
      continue;
    }
    const double seconds = choice->seconds[static_cast<std::size_t>(i)];
    if (!batch_open || jobs.back().size() >= kSharedMaxFiles || batch_seconds + seconds > kSharedMaxSec) {
      jobs.emplace_back();
      batch_seconds = 0.0;
      batch_open = true;
    }
    jobs.back().push_back(i);
    batch_seconds += seconds;
  }

  std::vector<int> status(n, 0);
  std::vector<std::string> reasons(static_cast<std::size_t>(n));
  if (failures) failures->assign(static_cast<std::size_t>(n), std::string());
  int reported = 0;
  const auto transcode_alone = [&](int i) {
    if (is_marker(files[i]) || ready(i)) return;
    try {
      const int streams = streams_of(i);
      const std::vector<int> channels = channels_of(i, streams);
      int& alone = channel[static_cast<std::size_t>(i)];
      if (wanted >= 1 && streams >= wanted)
        status[i] = transcode_channels(program, files[i], analysis[i], reasons[i], chosen[i] = wanted - 1,
                                       channels[static_cast<std::size_t>(wanted - 1)], alone);
      else if (streams >= 2)
        status[i] = transcode_loudest(program, files[i], analysis[i], channels, reasons[i], chosen[i], alone);
      else
        status[i] = transcode_channels(program, files[i], analysis[i], reasons[i], -1, channels[0], alone);
    } catch (const std::exception&) {
      status[i] = kProgramNotStarted;
    }
  };
  // A shared transcoder that fails says nothing of which file it failed on: each goes
  // alone then, for its own status and reason.
  const auto transcode_job = [&](const std::vector<int>& job) {
    if (job.size() >= 2) {
      std::vector<SharedFile> batch;
      for (const int i : job) {
        batch.push_back({files[i], analysis[i], links[static_cast<std::size_t>(i)], channels_of(i, 1)[0]});
        // The one stream, named where it was asked for, as transcode_alone names it.
        if (wanted == 1) chosen[i] = 0;
      }
      std::vector<int> alone;
      int together = kProgramNotStarted;
      try {
        together = transcode_together(program, batch, alone);
      } catch (const std::exception&) {
      }
      if (together == 0) {
        for (std::size_t k = 0; k < job.size(); ++k) channel[static_cast<std::size_t>(job[k])] = alone[k];
        return;
      }
      throw_if_stop_requested();
    }
    for (const int i : job) transcode_alone(i);
  };
  const auto deliver = [&](int i) {
    if (is_marker(files[i])) return;
    console() << command_text(program, files[i], analysis[i], chosen[i]) << '\n';
    if (status[i] != 0) {
      const std::string failed = "ffmpeg failed (exit status " + std::to_string(status[i]) + ")";
      logthis(failed + ": " + files[i]);
      // A transcoder that could not start says nothing.
      std::string& reason = reasons[i];
      if (reason.empty()) reason = failed;
      logthis("ffmpeg says: " + reason);
      if (failures) (*failures)[static_cast<std::size_t>(i)] = reason;
    }
    throw_if_stop_requested();
    if (progress) progress(kStageTranscode, ++reported, media_entries);
  };
  // The transcoders finish in any order; the console, the log and the progress follow
  // the file list.
  ordered_parallel_for(
      static_cast<int>(jobs.size()), std::min(limit, std::max(media_entries, 1)),
      [&](int j) {
        const std::vector<int>& job = jobs[static_cast<std::size_t>(j)];
        transcode_job(job);
        if (transcoded)
          for (const int i : job) transcoded(i);
      },
      [&](int j) {
        for (const int i : jobs[static_cast<std::size_t>(j)]) deliver(i);
      });
  console() << std::flush;
  if (choice) {
    choice->chosen = std::move(chosen);
    choice->channel = std::move(channel);
  }
  return analysis;
}

void report_missing_mediainfo() {
  if (mediainfo_available()) return;
  logthis(kNoMediaInfo);
  console() << kNoMediaInfo << '\n';
}

std::vector<std::string> read_framerates(const std::vector<std::string>& files,
                                         const std::vector<std::string>* known) {
  std::vector<std::string> rates(files.size(), kFramerateMarker);
  // Without the library every rate would be its error text, which reads as rate 0, and
  // sound-only files would land on video tracks.
  const bool probe = !mediainfo_available();
  const std::string prober = probe ? ffprobe_program() : std::string();
  for (std::size_t i = 0; i < files.size(); ++i) {
    throw_if_stop_requested();
    if (is_marker(files[i])) continue;
    if (known && i < known->size() && !(*known)[i].empty()) {
      rates[i] = (*known)[i];
      continue;
    }
    rates[i] = probe ? ffprobe_framerate(prober, files[i]) : getmediainfo(files[i]);
  }
  for (std::string& rate : rates) {
    if (rate.size() < kMinFramerateChars) rate = kNoVideoRate;
  }
  return rates;
}
