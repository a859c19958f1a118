// brenvik-make-event: recordings of made-up events, with the truth written down.
//
// Every device hears the same synthesised event through its own window, clock, room,
// microphone and noise; the manifest says where each file starts in the event.

#include "core/process.h"
#include "tools/device_chain.h"
#include "tools/device_list.h"
#include "tools/event_synth.h"

#include <sndfile.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <ctime>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace eventgen;

namespace {

enum ExitCode { kDone = 0, kUsage = 2, kFailed = 3 };

constexpr int kBlock = 48000;          // event samples rendered per step: 1 s
constexpr int kMaxJobs = 64;
constexpr int kAacBitrate = 128000;    // bit/s of the audio in .mov, .mp4, .m4a
constexpr const char* kMp3Quality = "4";  // LAME VBR quality, about 165 kbit/s
constexpr const char* kTextContent =
    "This is not a media file.\nIt is a few lines of text under a media file's name.\n";

struct Options {
  std::string out_dir;
  std::string manifest;  // empty: out_dir/manifest.tsv
  std::string ffmpeg = BRENVIK_FFMPEG;
  int jobs = 0;
  bool quiet = false;
  std::vector<Device> devices;
};

std::string usage() {
  return "usage: brenvik-make-event --out DIR (--devices FILE | --device 'WORDS')...\n"
         "                          [--manifest FILE] [--jobs N] [--ffmpeg PATH] [--quiet]\n"
         "\n"
         "Makes recordings of synthesised events, one file per device, and a manifest\n"
         "(tab-separated) with every file's true start in its event.\n"
         "A device is one line of key=value words, e.g.\n"
         "  file=cam_a.mov start=12 duration=90 fps=25 filter=lowpass:8000 snr=25 reverb=on\n"
         "Keys: file, device, event (seed, default 1), kind (sound|silence|noaudio|text),\n"
         "  start, duration (s), gain (dB), filter (none|lowpass:HZ|highpass:HZ|\n"
         "  bandpass:LO:HI|phone), snr (dB|none), reverb (on|off), drift (ppm),\n"
         "  rate (Hz, default 48000), fps (default 25), size (default 320x180),\n"
         "  picture (testsrc|color), sound_at (s the sound starts after the picture,\n"
         "  negative before; video files), timecode (HH:MM:SS:FF, ';' for drop frame;\n"
         "  video files), time_reference (s since midnight; .wav, a Broadcast WAV),\n"
         "  silent_stream (first|second: a second sound stream of silence; video files),\n"
         "  folder (a folder for the file), make, model, serial (the device's tags),\n"
         "  clock (YYYY-MM-DDTHH:MM:SSZ at event time 0; the creation time is it + start).\n"
         "Formats by name: .wav (16-bit), .mp3, .m4a, .mov, .mp4 and .mts (H.264 + AAC).\n"
         "--devices FILE holds one device per line; blank lines and # comments are skipped.\n"
         "\n"
         "The manifest (DIR/manifest.tsv unless --manifest) has a header and one row per file:\n"
         "  file device event start_s duration_s file_s drift_ppm rate_hz kind\n"
         "start_s is the event time of the file's first sample, duration_s the event time it\n"
         "spans, file_s its own length (longer by the drift's ppm); '-' where nothing applies.\n";
}

// Reads the command line; returns an error sentence or "".
std::string parse_args(const std::vector<std::string>& args, Options& o, bool& help) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      help = true;
      return {};
    }
    if (a == "--quiet") {
      o.quiet = true;
      continue;
    }
    const bool takes_value = a == "--out" || a == "--manifest" || a == "--ffmpeg" ||
                             a == "--jobs" || a == "--device" || a == "--devices";
    if (!takes_value) return "unknown option '" + a + "'";
    if (i + 1 >= args.size()) return a + " needs a value";
    const std::string& v = args[++i];
    if (a == "--out") {
      o.out_dir = v;
    } else if (a == "--manifest") {
      o.manifest = v;
    } else if (a == "--ffmpeg") {
      o.ffmpeg = v;
    } else if (a == "--jobs") {
      const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), o.jobs);
      if (ec != std::errc() || end != v.data() + v.size() || o.jobs < 1 || o.jobs > kMaxJobs)
        return "--jobs takes a number from 1 to " + std::to_string(kMaxJobs);
    } else if (a == "--device") {
      Device d;
      if (std::string e = parse_device_line(v, d); !e.empty()) return "--device: " + e;
      o.devices.push_back(std::move(d));
    } else {
      std::ifstream in(v);
      if (!in) return "cannot read the device list " + v;
      std::stringstream text;
      text << in.rdbuf();
      if (std::string e = parse_device_list(text.str(), o.devices); !e.empty()) return v + ": " + e;
    }
  }
  if (o.out_dir.empty()) return "--out DIR is missing";
  return check_devices(o.devices);
}

// Runs tasks on a few threads; a task may add further tasks.
class TaskPool {
 public:
  void add(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(task));
    }
    changed_.notify_one();
  }

  void run(int workers) {
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) threads.emplace_back([this] { work(); });
    for (std::thread& t : threads) t.join();
  }

 private:
  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return !queue_.empty() || active_ == 0; });
      if (queue_.empty()) return;
      std::function<void()> task = std::move(queue_.front());
      queue_.pop_front();
      ++active_;
      lock.unlock();
      task();
      lock.lock();
      --active_;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> queue_;
  int active_ = 0;
};

struct Output {
  Device device;
  std::string path;      // the file to make
  std::string wav_path;  // where the sound goes first: path itself for .wav, else a temporary
  int64_t frames = 0;
  int64_t clipped = 0;
};

class Reporter {
 public:
  explicit Reporter(bool quiet) : quiet_(quiet) {}
  void say(const std::string& line) {
    if (quiet_) return;
    std::lock_guard lock(mutex_);
    std::cout << line << std::endl;
  }
  void fail(const std::string& line) {
    std::lock_guard lock(mutex_);
    errors_.push_back(line);
    std::cerr << "brenvik-make-event: " << line << std::endl;
  }
  bool failed() {
    std::lock_guard lock(mutex_);
    return !errors_.empty();
  }

 private:
  bool quiet_;
  std::mutex mutex_;
  std::vector<std::string> errors_;
};

// A 16-bit mono WAV written as it comes.
class WavWriter {
 public:
  // A time reference (samples since midnight, not negative), an originator or an
  // origination time ("YYYY-MM-DDTHH:MM:SS") makes it a Broadcast WAV.
  WavWriter(const std::string& path, int rate, int64_t time_reference = -1,
            const std::string& originator = "", const std::string& origination = "") {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file_ != nullptr && (time_reference >= 0 || !originator.empty() || !origination.empty())) {
      SF_BROADCAST_INFO bext{};
      const int64_t reference = std::max<int64_t>(time_reference, 0);
      bext.time_reference_low = static_cast<uint32_t>(reference & 0xFFFFFFFF);
      bext.time_reference_high = static_cast<uint32_t>(reference >> 32);
      originator.copy(bext.originator, sizeof bext.originator);
      if (origination.size() >= 19) {
        origination.copy(bext.origination_date, sizeof bext.origination_date, 0);
        origination.copy(bext.origination_time, sizeof bext.origination_time, 11);
      }
      good_ = sf_command(file_, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE;
    }
  }
  ~WavWriter() { close(); }
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  bool ok() const { return file_ != nullptr && good_; }

  // Rounds to 16 bits (full scale 32767) and counts the samples that had to be clipped.
  void write(const std::vector<float>& samples, int64_t& clipped) {
    pcm_.resize(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
      const float v = std::nearbyint(samples[i] * 32767.0f);
      if (v > 32767.0f || v < -32768.0f) ++clipped;
      pcm_[i] = static_cast<short>(std::clamp(v, -32768.0f, 32767.0f));
    }
    write_pcm(pcm_.data(), static_cast<sf_count_t>(pcm_.size()));
  }

  void write_silence(int64_t frames) {
    pcm_.assign(static_cast<size_t>(std::min<int64_t>(frames, kBlock)), 0);
    for (int64_t done = 0; done < frames;) {
      const sf_count_t n = std::min<sf_count_t>(frames - done, kBlock);
      write_pcm(pcm_.data(), n);
      done += n;
    }
  }

  bool close() {
    if (file_ && sf_close(file_) != 0) good_ = false;
    file_ = nullptr;
    return good_;
  }

 private:
  void write_pcm(const short* data, sf_count_t n) {
    if (file_ && sf_writef_short(file_, data, n) != n) good_ = false;
  }

  SNDFILE* file_ = nullptr;
  bool good_ = true;
  std::vector<short> pcm_;
};

using EventSound = std::shared_ptr<const std::vector<float>>;

// How loud the room goes on over a looping phrase, against the phrase.
constexpr float kRoomOverLoop = 0.25f;

// The event from its start to `end` (exclusive), behind DeviceChain::kHistory zeros
// that stand for the silence before it. Holding it costs 192 kB per second, so the
// devices can then be rendered side by side and twice without synthesising again.
EventSound synthesise(uint64_t event, int64_t end, double loop_s) {
  auto sound = std::make_shared<std::vector<float>>(DeviceChain::kHistory + end, 0.0f);
  EventSynth synth(event);
  const auto render = [&synth](float* out, int64_t count) {
    for (int64_t first = 0; first < count; first += kBlock)
      synth.render(out + first, static_cast<int>(std::min<int64_t>(kBlock, count - first)));
  };
  float* at = sound->data() + DeviceChain::kHistory;
  const auto period = static_cast<int64_t>(std::llround(loop_s * kEventRate));
  // The phrase over and over, the room's own sound a quarter as loud over it from the
  // first phrase on: the phrase is the synthesiser's first seconds, the room what it
  // plays after them, so that no stretch of the room is the phrase itself.
  std::vector<float> phrase(static_cast<size_t>(std::max<int64_t>(period, 0)));
  render(phrase.data(), static_cast<int64_t>(phrase.size()));
  render(at, end);
  if (period > 0)
    for (int64_t t = 0; t < end; ++t) at[t] = phrase[static_cast<size_t>(t % period)] + kRoomOverLoop * at[t];
  return sound;
}

// The device's clock at its file's start, "YYYY-MM-DDTHH:MM:SS"; "" without a clock.
std::string creation_time(const Device& d) {
  std::tm t{};
  if (d.clock.empty() || std::sscanf(d.clock.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &t.tm_year, &t.tm_mon,
                                     &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec) != 6)
    return {};
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  const std::time_t at = timegm(&t) + static_cast<std::time_t>(std::floor(d.sound.start_s));
  std::tm out{};
  gmtime_r(&at, &out);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &out);
  return text;
}

std::string originator(const Device& d) {
  return d.make.empty() ? d.model : d.model.empty() ? d.make : d.make + " " + d.model;
}

// The device's tags for the encoder; none for a device without them.
std::vector<std::string> tag_arguments(const Device& d) {
  std::vector<std::string> argv;
  for (const auto& [key, value] : {std::pair<const char*, std::string>{"make", d.make}, {"model", d.model},
                                   {"serial_number", d.serial}})
    if (!value.empty()) argv.insert(argv.end(), {"-metadata", std::string(key) + "=" + value});
  if (const std::string created = creation_time(d); !created.empty())
    argv.insert(argv.end(), {"-metadata", "creation_time=" + created + "Z"});
  if (!argv.empty() && d.container != Container::Mts && d.container != Container::Mp3)
    argv.insert(argv.end(), {"-movflags", "use_metadata_tags"});
  return argv;
}

// Runs the event through `chain` block by block; `sink` receives the new file samples.
void play(const std::vector<float>& event, DeviceChain& chain,
          const std::function<void(const std::vector<float>&)>& sink) {
  const float* at = event.data() + DeviceChain::kHistory;
  const int64_t end = static_cast<int64_t>(event.size()) - DeviceChain::kHistory;
  std::vector<float> out;
  out.reserve(2 * kBlock);
  for (int64_t first = std::max<int64_t>(0, chain.first_event_sample());
       first < end && !chain.done(); first += kBlock) {
    out.clear();
    chain.consume(at + first, first, static_cast<int>(std::min<int64_t>(kBlock, end - first)), out);
    if (!out.empty()) sink(out);
  }
}

// Writes one device's WAV. With a target SNR, a first pass without noise measures
// the filtered signal power that sets the noise level.
bool record(const std::vector<float>& event, Output& out, Reporter& report) {
  const DeviceSound& sound = out.device.sound;
  double noise_gain = 0;
  if (sound.snr_db) {
    DeviceChain probe(sound, 0.0);
    play(event, probe, [](const std::vector<float>&) {});
    noise_gain = DeviceChain::noise_gain_for(probe.signal_power(),
                                             DeviceChain::filtered_noise_power(sound), *sound.snr_db);
  }
  DeviceChain chain(sound, noise_gain);
  const double reference = out.device.time_reference_s;
  const bool tagged_wav = !out.device.encoded();
  // A recorder with a clock stamps its time of day as the time reference too.
  const std::string created = tagged_wav ? creation_time(out.device) : "";
  const double stamped = reference < 0 && created.size() >= 19
                             ? std::stoi(created.substr(11, 2)) * 3600.0 + std::stoi(created.substr(14, 2)) * 60.0 +
                                   std::stoi(created.substr(17, 2))
                             : reference;
  WavWriter writer(out.wav_path, sound.rate, stamped >= 0 ? std::llround(stamped * sound.rate) : -1,
                   tagged_wav ? originator(out.device) : "", created);
  if (!writer.ok()) {
    report.fail("cannot write " + out.wav_path + ": " + sf_strerror(nullptr));
    return false;
  }
  play(event, chain, [&](const std::vector<float>& samples) {
    writer.write(samples, out.clipped);
    out.frames += static_cast<int64_t>(samples.size());
  });
  if (!writer.close()) {
    report.fail("writing " + out.wav_path + " failed");
    return false;
  }
  if (out.clipped > 0)
    report.say(out.device.file + ": " + std::to_string(out.clipped) + " of " +
               std::to_string(out.frames) + " samples clipped");
  return true;
}

std::string seconds_text(double s) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", s);
  return text;
}

std::vector<std::string> picture_input(const Device& d, double seconds) {
  const std::string size = std::to_string(d.width) + "x" + std::to_string(d.height);
  std::string source = d.picture == Picture::Color ? "color=c=0x3a5f7f:size=" + size
                                                   : "testsrc=size=" + size;
  source += ":rate=" + d.fps + ":duration=" + seconds_text(seconds);
  return {"-f", "lavfi", "-i", source};
}

// The picture (input 0) and the sound (input 1) mapped; a silent sound stream (an unused
// microphone input, input 2) before or after the sound when the device has one.
void append_sound_maps(std::vector<std::string>& argv, const Device& d, double seconds) {
  std::vector<std::string> maps = {"-map", "0:v:0", "-map", "1:a:0"};
  if (d.silent_stream != SilentStream::None) {
    argv.insert(argv.end(), {"-f", "lavfi", "-t", seconds_text(seconds), "-i", "anullsrc=r=48000:cl=mono"});
    const auto at = d.silent_stream == SilentStream::First ? maps.begin() + 2 : maps.end();
    maps.insert(at, {"-map", "2:a:0"});
  }
  argv.insert(argv.end(), maps.begin(), maps.end());
}

// The ffmpeg command that turns the device's WAV into its file.
std::vector<std::string> encode_command(const Options& o, const Output& out) {
  const Device& d = out.device;
  const double seconds = static_cast<double>(out.frames) / d.sound.rate;
  std::vector<std::string> argv = {o.ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-y"};
  const std::vector<std::string> aac = {"-c:a", "aac", "-aac_coder", "fast", "-b:a",
                                        std::to_string(kAacBitrate)};
  const std::vector<std::string> h264 = {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"};
  auto append = [&](const std::vector<std::string>& more) { argv.insert(argv.end(), more.begin(), more.end()); };
  if (d.content == Content::NoAudio) {
    append(picture_input(d, d.sound.duration_s));
    append(h264);
    append({"-an"});
  } else if (d.video() && d.sound_at_s != 0.0) {
    // The later stream's input is offset: the container keeps the difference as stream
    // starts (MPEG-TS) or an edit list (QuickTime). The picture spans the sound. The
    // QuickTime writer drops a picture's leading gap, so there a sound that comes first
    // is moved earlier instead, and the file's times moved on to start at 0.
    const double lead = std::max(0.0, -d.sound_at_s);
    const bool mts = d.container == Container::Mts;
    if (lead > 0.0 && mts) append({"-itsoffset", seconds_text(lead)});
    append(picture_input(d, seconds));
    if (d.sound_at_s > 0.0) append({"-itsoffset", seconds_text(d.sound_at_s)});
    if (lead > 0.0 && !mts) append({"-itsoffset", seconds_text(-lead)});
    append({"-i", out.wav_path});
    append_sound_maps(argv, d, seconds);
    append(h264);
    append(aac);
    if (mts) append({"-f", "mpegts"});
    if (lead > 0.0 && !mts) append({"-avoid_negative_ts", "make_non_negative"});
  } else if (d.video()) {
    append(picture_input(d, seconds));
    append({"-i", out.wav_path});
    append_sound_maps(argv, d, seconds);
    append(h264);
    append(aac);
    append({"-t", seconds_text(seconds)});
    if (d.container == Container::Mts) append({"-f", "mpegts"});
  } else {
    append({"-i", out.wav_path});
    if (d.container == Container::Mp3) append({"-c:a", "libmp3lame", "-q:a", kMp3Quality});
    else append(aac);
  }
  append({"-map_metadata", "-1"});
  append(tag_arguments(d));
  if (!d.timecode.empty()) append({"-timecode", d.timecode});
  append({out.path});
  return argv;
}

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

void encode(const Options& o, const Output& out, Reporter& report) {
  const auto t = std::chrono::steady_clock::now();
  const std::vector<std::string> argv = encode_command(o, out);
  const int status = run_program(argv, false);
  if (out.wav_path != out.path) {
    std::error_code ec;
    fs::remove(out.wav_path, ec);
  }
  if (status != 0) {
    report.fail("ffmpeg failed (status " + std::to_string(status) + ") making " + out.path);
    return;
  }
  char line[80];
  std::snprintf(line, sizeof line, " (encoded in %.1f s)", seconds_since(t));
  report.say("wrote " + out.path + line);
}

std::string manifest_row(const Output& out) {
  const Device& d = out.device;
  const bool has_truth = d.content == Content::Sound;
  const bool has_length = d.content != Content::Text;
  const char* kinds[] = {"sound", "silence", "noaudio", "text"};
  std::string row = d.relative_path() + "\t" + d.device + "\t";
  row += has_truth ? std::to_string(d.event) : "-";
  row += "\t";
  row += has_truth ? seconds_text(d.sound.start_s) : "-";
  row += "\t";
  row += has_length ? seconds_text(d.sound.duration_s) : "-";
  row += "\t";
  row += has_length && d.content != Content::NoAudio
             ? seconds_text(static_cast<double>(out.frames) / d.sound.rate)
             : "-";
  row += "\t";
  row += has_truth ? seconds_text(d.sound.drift_ppm) : "-";
  row += "\t";
  row += has_length && d.content != Content::NoAudio ? std::to_string(d.sound.rate) : "-";
  row += "\t";
  row += kinds[static_cast<int>(d.content)];
  return row;
}

constexpr const char* kManifestHeader =
    "file\tdevice\tevent\tstart_s\tduration_s\tfile_s\tdrift_ppm\trate_hz\tkind";

// One output per device, at its place in `dir`; a device whose file is encoded first
// renders its sound to a hidden WAV beside it.
std::vector<Output> plan_outputs(const Options& o, const std::string& dir) {
  std::vector<Output> outputs(o.devices.size());
  for (size_t i = 0; i < o.devices.size(); ++i) {
    Output& out = outputs[i];
    out.device = o.devices[i];
    const fs::path folder = out.device.folder.empty() ? fs::path(dir) : fs::path(dir) / out.device.folder;
    if (!out.device.folder.empty()) {
      std::error_code ec;
      fs::create_directories(folder, ec);
    }
    out.path = (folder / out.device.file).string();
    out.wav_path = out.device.encoded() ? (folder / ("." + out.device.file + ".tmp.wav")).string()
                                      : out.path;
  }
  return outputs;
}

// Per event, one task that synthesises its sound once, which then adds one task per
// device that records (and encodes) it. `outputs`, `o` and `report` outlive the pool.
void add_event_tasks(TaskPool& pool, std::vector<Output>& outputs, const Options& o, Reporter& report) {
  std::map<uint64_t, std::vector<Output*>> events;
  for (Output& out : outputs)
    if (out.device.content == Content::Sound) events[out.device.event].push_back(&out);
  for (auto& [event, members] : events) {
    pool.add([&, event = event, members = members] {
      int64_t end = 0;
      for (const Output* out : members)
        end = std::max(end, DeviceChain(out->device.sound, 0).last_event_sample() + 1);
      const auto t = std::chrono::steady_clock::now();
      double loop_s = 0.0;
      for (const Output* out : members) loop_s = std::max(loop_s, out->device.loop_s);
      EventSound sound = synthesise(event, end, loop_s);
      char line[120];
      std::snprintf(line, sizeof line, "event %llu: %.1f s of sound synthesised in %.1f s",
                    static_cast<unsigned long long>(event), static_cast<double>(end) / kEventRate,
                    seconds_since(t));
      report.say(line);
      for (Output* out : members) {
        pool.add([&, sound, out] {
          const auto t = std::chrono::steady_clock::now();
          if (!record(*sound, *out, report)) {
            std::error_code ec;
            if (out->wav_path != out->path) fs::remove(out->wav_path, ec);
            return;
          }
          char line[80];
          std::snprintf(line, sizeof line, " in %.1f s", seconds_since(t));
          report.say((out->device.encoded() ? "rendered the sound of " : "wrote ") + out->path + line);
          if (out->device.encoded()) encode(o, *out, report);
        });
      }
    });
  }
}

// One task per device without the event's sound: silence, a file without audio, text.
void add_other_tasks(TaskPool& pool, std::vector<Output>& outputs, const Options& o, Reporter& report) {
  for (Output& each : outputs) {
    Output* out = &each;
    switch (out->device.content) {
      case Content::Sound: break;
      case Content::Silence:
        pool.add([&, out] {
          out->frames = device_frames(out->device.sound);
          WavWriter w(out->wav_path, out->device.sound.rate);
          w.write_silence(out->frames);
          if (!w.close()) return report.fail("cannot write " + out->wav_path);
          if (out->device.encoded()) encode(o, *out, report);
        });
        break;
      case Content::NoAudio:
        pool.add([&, out] { encode(o, *out, report); });
        break;
      case Content::Text:
        pool.add([&, out] {
          std::ofstream text(out->path, std::ios::binary | std::ios::trunc);
          text << kTextContent;
          if (!text.flush()) return report.fail("cannot write " + out->path);
          report.say("wrote " + out->path);
        });
        break;
    }
  }
}

// The manifest of every output; false when it cannot be written.
bool write_manifest(const std::string& manifest, const std::vector<Output>& outputs) {
  std::ofstream table(manifest, std::ios::binary | std::ios::trunc);
  table << kManifestHeader << "\n";
  for (const Output& out : outputs) table << manifest_row(out) << "\n";
  return static_cast<bool>(table.flush());
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  bool help = false;
  const std::string error = parse_args(std::vector<std::string>(argv + 1, argv + argc), o, help);
  if (help) {
    std::cout << usage();
    return kDone;
  }
  if (!error.empty()) {
    std::cerr << "brenvik-make-event: " << error << "\n(see brenvik-make-event --help)\n";
    return kUsage;
  }
  std::error_code ec;
  fs::create_directories(o.out_dir, ec);
  if (!fs::is_directory(o.out_dir)) {
    std::cerr << "brenvik-make-event: cannot create the folder " << o.out_dir << "\n";
    return kFailed;
  }
  const std::string dir = fs::absolute(o.out_dir).lexically_normal().string();
  const std::string manifest = o.manifest.empty() ? dir + "/manifest.tsv" : o.manifest;

  const auto t0 = std::chrono::steady_clock::now();
  std::vector<Output> outputs = plan_outputs(o, dir);

  Reporter report(o.quiet);
  TaskPool pool;
  add_event_tasks(pool, outputs, o, report);
  add_other_tasks(pool, outputs, o, report);
  pool.run(o.jobs > 0 ? o.jobs : worker_count());
  if (report.failed()) return kFailed;

  if (!write_manifest(manifest, outputs)) {
    std::cerr << "brenvik-make-event: cannot write " << manifest << "\n";
    return kFailed;
  }
  char line[200];
  std::snprintf(line, sizeof line, "%zu file(s) and %s in %.1f s", outputs.size(), manifest.c_str(),
                seconds_since(t0));
  report.say(line);
  return kDone;
}
