#include "media/streams.h"

#include "core/media_names.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

// The stream ffmpeg's command line decodes for "-vn" output when none is mapped: the most
// channels, a default stream before another of as many, the first of equals.
int transcoded_sound(const AVFormatContext& container) {
  int best = -1;
  long best_score = -1;
  for (unsigned i = 0; i < container.nb_streams; ++i) {
    const AVStream& s = *container.streams[i];
    if (s.codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    const long score = s.codecpar->ch_layout.nb_channels +
                       ((s.disposition & AV_DISPOSITION_DEFAULT) != 0 ? 5000000L : 0L);
    if (score > best_score) {
      best_score = score;
      best = static_cast<int>(i);
    }
  }
  return best;
}

// A cover picture of a music file is a video stream to the container, not to an editor.
int first_picture_stream(const AVFormatContext& container) {
  for (unsigned i = 0; i < container.nb_streams; ++i) {
    const AVStream& s = *container.streams[i];
    if (s.codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        (s.disposition & AV_DISPOSITION_ATTACHED_PIC) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

double start_seconds(const AVStream& s) {
  if (s.start_time == AV_NOPTS_VALUE) return 0.0;
  return static_cast<double>(s.start_time) * av_q2d(s.time_base);
}

std::string tag(const AVDictionary* tags, const char* key) {
  const AVDictionaryEntry* e = av_dict_get(tags, key, nullptr, 0);
  return e != nullptr && e->value != nullptr ? e->value : "";
}

// A picture's timecode is on its stream or on the timecode track's; MXF keeps it on the
// container.
std::string timecode_tag(const AVFormatContext& container, int picture) {
  if (std::string t = tag(container.streams[picture]->metadata, "timecode"); !t.empty()) return t;
  for (unsigned i = 0; i < container.nb_streams; ++i)
    if (std::string t = tag(container.streams[i]->metadata, "timecode"); !t.empty()) return t;
  return tag(container.metadata, "timecode");
}

double frame_rate(const AVStream& s) {
  const AVRational r = s.avg_frame_rate.num > 0 ? s.avg_frame_rate : s.r_frame_rate;
  return r.num > 0 && r.den > 0 ? av_q2d(r) : 0.0;
}

// "HH:MM:SS.mmm" of a time of day in seconds, as a sound file's time reference is shown.
std::string clock_text(std::int64_t samples, int rate) {
  const std::int64_t ms = samples * 1000 / rate;
  const auto digits = [](std::int64_t v, int width) {
    std::string t = std::to_string(v);
    return std::string(t.size() < static_cast<std::size_t>(width) ? width - t.size() : 0, '0') + t;
  };
  return digits(ms / 3600000, 2) + ":" + digits(ms / 60000 % 60, 2) + ":" + digits(ms / 1000 % 60, 2) +
         "." + digits(ms % 1000, 3);
}

// A Broadcast WAV's "time_reference": samples since midnight at the file's own rate.
bool time_reference(const AVFormatContext& container, int sound, StartTimecode& out) {
  const std::string text = tag(container.metadata, "time_reference");
  std::int64_t samples = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), samples);
  if (ec != std::errc() || end != text.data() + text.size() || samples < 0 || sound < 0) return false;
  const int rate = container.streams[sound]->codecpar->sample_rate;
  if (rate <= 0) return false;
  out.num = samples;
  out.den = rate;
  out.text = clock_text(samples, rate);
  return true;
}

void collect_tags(const AVDictionary* tags, std::vector<MediaTag>& out) {
  for (const AVDictionaryEntry* e = nullptr; (e = av_dict_get(tags, "", e, AV_DICT_IGNORE_SUFFIX)) != nullptr;)
    if (e->key != nullptr && e->value != nullptr) out.push_back({e->key, e->value});
}

// Codec numbers rather than names: the key only has to be equal for files recorded alike.
std::string recording_format(const AVFormatContext& c, int picture, int sound, double rate) {
  std::string format;
  if (picture >= 0) {
    const AVCodecParameters& v = *c.streams[picture]->codecpar;
    char fps[32];
    const auto written = std::to_chars(fps, fps + sizeof fps, rate, std::chars_format::fixed, 3);
    format = "video " + std::to_string(static_cast<int>(v.codec_id)) + " " + std::to_string(v.width) + "x" +
             std::to_string(v.height) + " " + std::string(fps, written.ptr);
  }
  if (sound >= 0) {
    const AVCodecParameters& a = *c.streams[sound]->codecpar;
    format += (format.empty() ? "" : ", ") + std::string("sound ") + std::to_string(static_cast<int>(a.codec_id)) +
              " " + std::to_string(a.sample_rate);
  }
  return format;
}

void read_clues(const AVFormatContext& c, int picture, int sound, double rate, DeviceClues& clues) {
  std::vector<MediaTag> tags;
  collect_tags(c.metadata, tags);
  for (unsigned i = 0; i < c.nb_streams; ++i) collect_tags(c.streams[i]->metadata, tags);
  read_device_tags(tags, clues);
  if (c.duration != AV_NOPTS_VALUE && c.duration > 0)
    clues.duration_s = static_cast<double>(c.duration) / AV_TIME_BASE;
  clues.format = recording_format(c, picture, sound, rate);
}

class OpenContainer {
 public:
  // Through the file protocol alone: a name such as "http://…" or "pipe:1" is a file here,
  // as it is to the transcoder.
  explicit OpenContainer(const std::string& path) {
    // The transcoder reports what is wrong with a file; the probe keeps quiet.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    const std::string url = "file:" + path;
    if (avformat_open_input(&context_, url.c_str(), nullptr, nullptr) < 0) {
      context_ = nullptr;
      return;
    }
    if (avformat_find_stream_info(context_, nullptr) < 0) avformat_close_input(&context_);
  }
  ~OpenContainer() {
    if (context_ != nullptr) avformat_close_input(&context_);
  }
  OpenContainer(const OpenContainer&) = delete;
  OpenContainer& operator=(const OpenContainer&) = delete;
  const AVFormatContext* get() const { return context_; }

 private:
  AVFormatContext* context_ = nullptr;
};

}  // namespace

bool is_recording(const std::string& path) {
  return is_media_name(path) || !media_start(path).sounds.empty();
}

bool timecode_seconds(const std::string& text, double fps, StartTimecode& out) {
  int h = 0, m = 0, s = 0, f = 0;
  char separator = 0;
  if (std::sscanf(text.c_str(), "%d:%d:%d%c%d", &h, &m, &s, &separator, &f) != 5 ||
      (separator != ':' && separator != ';' && separator != '.') || h < 0 || h > 23 || m < 0 ||
      m > 59 || s < 0 || s > 59 || f < 0 || !(fps > 0.0))
    return false;
  // Timecode counts whole frames of the nominal rate; the NTSC rates run 1000/1001 slower.
  const std::int64_t nominal = std::llround(fps);
  const bool ntsc = std::fabs(fps * 1.001 - static_cast<double>(nominal)) < 0.01 &&
                    std::fabs(fps - static_cast<double>(nominal)) > 0.001;
  if (nominal <= 0 || f >= nominal) return false;
  std::int64_t frames = ((static_cast<std::int64_t>(h) * 60 + m) * 60 + s) * nominal + f;
  if (separator == ';') {
    // Drop frame skips the first two labels of every minute but each tenth (four at 59.94).
    if (!ntsc || nominal % 30 != 0) return false;
    const std::int64_t dropped = 2 * (nominal / 30);
    const std::int64_t minutes = static_cast<std::int64_t>(h) * 60 + m;
    frames -= dropped * (minutes - minutes / 10);
  }
  out.text = text;
  out.num = frames * (ntsc ? 1001 : 1);
  out.den = nominal * (ntsc ? 1000 : 1);
  return true;
}

void analyse_sound(MediaStart& start, int position) {
  if (position < 0 || position >= static_cast<int>(start.sounds.size())) return;
  start.analysed = position;
  start.sound_after_picture_s =
      start.has_picture ? start.sounds[static_cast<std::size_t>(position)].start_s - start.picture_start_s : 0.0;
}

MediaStart media_start(const std::string& path) {
  MediaStart out;
  const OpenContainer container(path);
  if (container.get() == nullptr) return out;
  out.read = true;
  const AVFormatContext& c = *container.get();
  const int sound = transcoded_sound(c);
  int position = -1;
  for (unsigned i = 0; i < c.nb_streams; ++i) {
    const AVStream& st = *c.streams[i];
    if (st.codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    if (static_cast<int>(i) == sound) position = static_cast<int>(out.sounds.size());
    out.sounds.push_back({static_cast<int>(i), st.codecpar->ch_layout.nb_channels, start_seconds(st)});
  }
  const int picture = first_picture_stream(c);
  if (picture < 0) {
    time_reference(c, sound, out.timecode);
  } else {
    out.has_picture = true;
    out.picture_rate = frame_rate(*c.streams[picture]);
    out.picture_start_s = start_seconds(*c.streams[picture]);
    if (!timecode_seconds(timecode_tag(c, picture), out.picture_rate, out.timecode))
      out.timecode = StartTimecode{};
  }
  analyse_sound(out, position);
  read_clues(c, picture, sound, out.picture_rate, out.clues);
  return out;
}

ContainerShape container_shape(const std::string& path) {
  ContainerShape out;
  const OpenContainer container(path);
  if (container.get() == nullptr) return out;
  const AVFormatContext& c = *container.get();
  out.read = true;
  out.format = c.iformat != nullptr && c.iformat->name != nullptr ? c.iformat->name : "";
  if (c.start_time != AV_NOPTS_VALUE) out.start_s = static_cast<double>(c.start_time) / AV_TIME_BASE;
  if (c.duration != AV_NOPTS_VALUE) out.duration_s = static_cast<double>(c.duration) / AV_TIME_BASE;
  if (const int picture = first_picture_stream(c); picture >= 0) {
    out.has_picture = true;
    out.picture_start_s = start_seconds(*c.streams[picture]);
  }
  for (unsigned i = 0; i < c.nb_streams; ++i) {
    const AVStream& st = *c.streams[i];
    if (st.codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    if (out.sound_streams++ > 0) continue;
    out.sound_start_s = start_seconds(st);
    out.sample_rate = st.codecpar->sample_rate;
    out.channels = st.codecpar->ch_layout.nb_channels;
    out.sound_codec = avcodec_get_name(st.codecpar->codec_id);
    out.sound_bit_rate = st.codecpar->bit_rate;
  }
  return out;
}
