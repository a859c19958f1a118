#include "media/streams.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <mutex>

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

class OpenContainer {
 public:
  // Through the file protocol alone: a name such as "http://…" or "pipe:1" is a file here,
  // as it is to the transcoder.
  explicit OpenContainer(const std::string& path) {
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

SoundStart sound_start(const std::string& path) {
  // The transcoder reports what is wrong with a file; the probe keeps quiet.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  SoundStart out;
  const OpenContainer container(path);
  if (container.get() == nullptr) return out;
  out.read = true;
  const int sound = transcoded_sound(*container.get());
  const int picture = first_picture_stream(*container.get());
  if (sound < 0 || picture < 0) return out;
  out.after_picture_s = start_seconds(*container.get()->streams[sound]) -
                        start_seconds(*container.get()->streams[picture]);
  return out;
}
