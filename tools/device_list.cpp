#include "tools/device_list.h"

#include "tools/prng.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>

namespace eventgen {

namespace {

constexpr double kMaxDurationS = 6 * 3600.0;
constexpr double kMaxDriftPpm = 10000.0;
constexpr double kMinLoopSeconds = 1.0;
constexpr double kMaxLoopSeconds = 600.0;
constexpr double kMaxSoundAtSeconds = 10.0;
constexpr double kMaxFps = 240.0;
constexpr int kMinRate = 8000, kMaxRate = 192000;
constexpr double kFilterCeiling = 0.45;  // of the file's rate, so the corner stays below Nyquist

bool parse_number(const std::string& text, double& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size() && std::isfinite(out);
}

template <typename Int>
bool parse_integer(const std::string& text, Int& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size();
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

bool container_of(const std::string& file, Container& out) {
  const auto dot = file.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = lower(file.substr(dot + 1));
  if (ext == "wav") out = Container::Wav;
  else if (ext == "mp3") out = Container::Mp3;
  else if (ext == "m4a") out = Container::M4a;
  else if (ext == "mov") out = Container::Mov;
  else if (ext == "mp4") out = Container::Mp4;
  else if (ext == "mts" || ext == "m2ts") out = Container::Mts;
  else return false;
  return true;
}

// ffmpeg's text for a frame rate: the NTSC family as exact fractions (29.97 is
// 30000/1001, and a camera's files say so), anything else as given.
bool frame_rate_text(const std::string& text, std::string& out) {
  double fps = 0;
  if (!parse_number(text, fps) || fps <= 0 || fps > kMaxFps) return false;
  const double ntsc = fps * 1.001;
  if (std::fabs(fps - std::round(fps)) > 1e-6 && std::fabs(ntsc - std::round(ntsc)) < 0.01) {
    out = std::to_string(static_cast<long>(std::round(ntsc)) * 1000) + "/1001";
  } else {
    out = text;
  }
  return true;
}

// Sets what one key=value word says of the device; returns why it is refused, empty when
// it is taken. `have_duration` and `filter_text` remember what the whole-line checks need.
std::string set_key(const std::string& key, const std::string& value, Device& out, bool& have_duration,
                    std::string& filter_text) {
  double number = 0;
  auto bad = [&](const std::string& what) { return key + "=" + value + ": " + what; };
  if (key == "file") {
    if (value.empty() || value.find('/') != std::string::npos || value == "." || value == "..")
      return bad("a plain file name is needed (no folders)");
    out.file = value;
  } else if (key == "device") {
    if (value.empty()) return bad("the label is empty");
    out.device = value;
  } else if (key == "event") {
    if (!parse_integer(value, out.event)) return bad("the event id is a whole number");
  } else if (key == "kind") {
    if (value == "sound") out.content = Content::Sound;
    else if (value == "silence") out.content = Content::Silence;
    else if (value == "noaudio") out.content = Content::NoAudio;
    else if (value == "text") out.content = Content::Text;
    else return bad("kind is one of sound, silence, noaudio, text");
  } else if (key == "start") {
    if (!parse_number(value, number) || number < 0 || number > kMaxDurationS)
      return bad("the start is a number of seconds, 0 or more");
    out.sound.start_s = number;
  } else if (key == "duration") {
    if (!parse_number(value, number) || number <= 0 || number > kMaxDurationS)
      return bad("the duration is a number of seconds above 0, at most 6 hours");
    out.sound.duration_s = number;
    have_duration = true;
  } else if (key == "gain") {
    if (!parse_number(value, number) || std::fabs(number) > 60) return bad("gain is in dB, -60 to 60");
    out.sound.gain_db = number;
  } else if (key == "filter") {
    filter_text = value;
    if (std::string e = parse_filter(value, out.sound.filter); !e.empty()) return e;
  } else if (key == "snr") {
    if (value == "none") out.sound.snr_db.reset();
    else if (parse_number(value, number) && std::fabs(number) <= 120) out.sound.snr_db = number;
    else return bad("snr is in dB (-120 to 120) or none");
  } else if (key == "reverb") {
    if (value == "on" || value == "1" || value == "yes") out.sound.reverb = true;
    else if (value == "off" || value == "0" || value == "no") out.sound.reverb = false;
    else return bad("reverb is on or off");
  } else if (key == "drift") {
    if (!parse_number(value, number) || std::fabs(number) > kMaxDriftPpm)
      return bad("drift is in ppm, -10000 to 10000");
    out.sound.drift_ppm = number;
  } else if (key == "rate") {
    if (!parse_integer(value, out.sound.rate) || out.sound.rate < kMinRate || out.sound.rate > kMaxRate)
      return bad("rate is in Hz, 8000 to 192000");
  } else if (key == "fps") {
    if (!frame_rate_text(value, out.fps)) return bad("fps is a frame rate such as 25 or 29.97");
  } else if (key == "size") {
    const auto x = value.find('x');
    if (x == std::string::npos || !parse_integer(value.substr(0, x), out.width) ||
        !parse_integer(value.substr(x + 1), out.height) || out.width < 16 || out.height < 16 ||
        out.width > 3840 || out.height > 2160 || out.width % 2 || out.height % 2)
      return bad("size is WxH with even numbers from 16x16 to 3840x2160");
  } else if (key == "loop") {
    if (!parse_number(value, number) || number < kMinLoopSeconds || number > kMaxLoopSeconds)
      return bad("loop is in seconds, 1 to 600");
    out.loop_s = number;
  } else if (key == "sound_at") {
    if (!parse_number(value, number) || std::fabs(number) > kMaxSoundAtSeconds)
      return bad("sound_at is in seconds, -10 to 10");
    out.sound_at_s = number;
  } else if (key == "timecode") {
    int h = 0, m = 0, sec = 0, f = 0;
    char separator = 0;
    if (std::sscanf(value.c_str(), "%2d:%2d:%2d%c%2d", &h, &m, &sec, &separator, &f) != 5 ||
        (separator != ':' && separator != ';') || h > 23 || m > 59 || sec > 59)
      return bad("timecode is HH:MM:SS:FF (HH:MM:SS;FF for drop frame)");
    out.timecode = value;
  } else if (key == "silent_stream") {
    if (value == "first") out.silent_stream = SilentStream::First;
    else if (value == "second") out.silent_stream = SilentStream::Second;
    else return bad("silent_stream is first or second");
  } else if (key == "time_reference") {
    if (!parse_number(value, number) || number < 0 || number >= 86400)
      return bad("time_reference is in seconds since midnight, 0 to 86400");
    out.time_reference_s = number;
  } else if (key == "picture") {
    if (value == "testsrc") out.picture = Picture::TestSource;
    else if (value == "color") out.picture = Picture::Color;
    else return bad("picture is testsrc or color");
  } else if (key == "folder") {
    if (value.empty() || value.find('/') != std::string::npos || value == "." || value == "..")
      return bad("a plain folder name is needed");
    out.folder = value;
  } else if (key == "make" || key == "model" || key == "serial") {
    (key == "make" ? out.make : key == "model" ? out.model : out.serial) = value;
  } else if (key == "clock") {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    char z = 0;
    if (std::sscanf(value.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &sec, &z) != 7 || z != 'Z')
      return bad("clock is YYYY-MM-DDTHH:MM:SSZ");
    out.clock = value;
  } else {
    return "unknown key '" + key + "'";
  }
  return {};
}

// What a whole line must hold once every word is read; fills in the device label and
// the noise seed. Returns why the line is refused, empty when it is taken.
std::string check_line(Device& out, bool have_duration, const std::string& filter_text) {
  if (out.file.empty()) return "file= is missing";
  if (out.device.empty()) out.device = out.file.substr(0, out.file.rfind('.'));
  if (out.content == Content::Text) return {};
  if (!container_of(out.file, out.container))
    return out.file + ": the name must end in .wav, .mp3, .m4a, .mov, .mp4 or .mts";
  if (!have_duration) return out.file + ": duration= is missing";
  if (out.content == Content::NoAudio && !out.video())
    return out.file + ": kind=noaudio needs a .mov, .mp4 or .mts name";
  const bool video_with_sound = out.video() && out.content == Content::Sound;
  for (const auto& [used, key] : {std::pair{out.sound_at_s != 0.0, "sound_at"},
                                  std::pair{out.silent_stream != SilentStream::None, "silent_stream"}})
    if (used && !video_with_sound) return out.file + ": " + key + " needs a video file with sound";
  if (!out.timecode.empty() && !out.video()) return out.file + ": timecode needs a video file";
  if (out.time_reference_s >= 0 && out.container != Container::Wav)
    return out.file + ": time_reference needs a .wav name";
  const Filter& f = out.sound.filter;
  if (std::max(f.low_hz, f.high_hz) >= kFilterCeiling * out.sound.rate)
    return out.file + ": filter " + filter_text + " is too close to half the rate " +
           std::to_string(out.sound.rate);
  out.sound.noise_seed = derive_seed(out.event, hash_text(out.relative_path()));
  return {};
}

}  // namespace

std::string parse_device_line(const std::string& line, Device& out) {
  out = {};
  std::istringstream words(line);
  std::string word;
  bool have_duration = false;
  std::string filter_text = "none";
  while (words >> word) {
    const auto eq = word.find('=');
    if (eq == std::string::npos || eq == 0)
      return "'" + word + "' is not a key=value word";
    if (std::string problem = set_key(word.substr(0, eq), word.substr(eq + 1), out, have_duration,
                                      filter_text);
        !problem.empty())
      return problem;
  }
  return check_line(out, have_duration, filter_text);
}

std::string parse_device_list(const std::string& text, std::vector<Device>& out) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    Device d;
    if (std::string e = parse_device_line(line, d); !e.empty())
      return "line " + std::to_string(number) + ": " + e;
    out.push_back(std::move(d));
  }
  return {};
}

std::string check_devices(const std::vector<Device>& devices) {
  if (devices.empty()) return "no files to make: give --device or --devices";
  std::set<std::string> names;
  for (const Device& d : devices)
    if (!names.insert(d.relative_path()).second) return d.relative_path() + " is listed twice";
  return {};
}

}  // namespace eventgen
