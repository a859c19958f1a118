#include "media/synced_media.h"

#include "core/format.h"
#include "core/process.h"
#include "core/stop.h"
#include "media/sound_source.h"
#include "media/streams.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// As in the drift-corrected copies: blocks of 0.7 s at 48 kHz, and room for what the
// resampler still holds.
constexpr std::size_t kBlockFrames = 32768;
constexpr std::size_t kOutputSlackFrames = 4096;
// A camera without sound still gets a sound stream editors take as a matter of course.
constexpr int kRateWithoutSound = 48000;
// The main sound goes in as 24-bit PCM, or coded from float samples.
constexpr int kMainSoundBits = 24;
// What a copy in the camera's own codec gets where the camera's file does not say.
constexpr std::int64_t kDefaultBitRate = 256000;
// Share of the progress the sound's cutting takes; the rest goes to the container.
constexpr double kCutShare = 0.7;

// Samples the AAC encoder puts before the sound, which a container without edit lists
// (MPEG-TS) plays as sound.
constexpr int kAacPriming = 1024;
// The samples it codes in each frame.
constexpr int kAacFrame = 1024;

std::string extension_of(const fs::path& copy) { return lower_case(copy.extension().string()); }

// Containers whose muxer here carries 24-bit PCM; MP4 and MPEG-TS do not.
bool carries_pcm(const fs::path& copy) {
  const std::string ext = extension_of(copy);
  for (const char* pcm : {".mov", ".qt", ".mkv", ".avi", ".mxf", ".nut"})
    if (ext == pcm) return true;
  return false;
}

// MPEG-TS has no edit list to hide the encoder's priming: ffmpeg would move every stream
// on by it, and the copy would outlast its camera file. The cut goes in that much later,
// its first samples left out, so that the priming takes their place.
bool primed_in_place(const fs::path& copy, const std::string& codec) {
  const std::string ext = extension_of(copy);
  return codec == "aac" && (ext == ".ts" || ext == ".mts" || ext == ".m2ts" || ext == ".m2t");
}

// The cut sound as it is written, block by block, in the copy's channels.
class CutSound {
 public:
  CutSound(SNDFILE* out, int channels, sf_count_t total) : out_(out), channels_(channels), total_(total) {}

  sf_count_t written() const { return written_; }
  double share() const { return total_ > 0 ? static_cast<double>(written_) / static_cast<double>(total_) : 1.0; }

  // `n` frames of `from`, which has `from_channels`; a copy with more channels repeats them.
  void put(const float* from, int from_channels, sf_count_t n) {
    block_.resize(static_cast<std::size_t>(n * channels_));
    for (sf_count_t f = 0; f < n; ++f)
      for (int c = 0; c < channels_; ++c)
        block_[static_cast<std::size_t>(f * channels_ + c)] = from[f * from_channels + c % from_channels];
    write(n);
  }

  void silence(sf_count_t n) {
    block_.assign(static_cast<std::size_t>(n * channels_), 0.0f);
    write(n);
  }

 private:
  void write(sf_count_t n) {
    if (n <= 0) return;
    errno = 0;
    if (sf_writef_float(out_, block_.data(), n) != n)
      throw std::runtime_error(std::string("writing failed (") +
                               (errno != 0 ? std::strerror(errno) : sf_strerror(out_)) + ")");
    written_ += n;
  }

  SNDFILE* out_;
  int channels_;
  sf_count_t total_;
  sf_count_t written_ = 0;
  std::vector<float> block_;
};

// Reads `sound` from frame `first` on (before its start and past its end: silence).
void put_from(SNDFILE* sound, const SF_INFO& info, sf_count_t first, sf_count_t n, CutSound& out) {
  if (first < 0) {
    const sf_count_t quiet = std::min(n, -first);
    out.silence(quiet);
    n -= quiet;
    first = 0;
  }
  if (n <= 0) return;
  if (first >= info.frames || sf_seek(sound, first, SEEK_SET) < 0) return out.silence(n);
  std::vector<float> block(kBlockFrames * static_cast<std::size_t>(info.channels));
  while (n > 0) {
    const sf_count_t got = sf_readf_float(sound, block.data(), std::min<sf_count_t>(n, kBlockFrames));
    if (got <= 0) break;
    out.put(block.data(), info.channels, got);
    n -= got;
  }
  out.silence(n);
}

// `frames` of the cut's source from its start on, resampled onto the copy's clock and rate.
void put_cut(const std::string& transcoder, const SoundCut& cut, const fs::path& folder, int rate,
             sf_count_t frames, CutSound& out, const std::function<void(double)>& progress) {
  std::unique_ptr<OwnFile> decoded;
  SF_INFO info;
  Sndfile in;
  try {
    in = open_sound(transcoder, cut.source, folder, decoded, info);
  } catch (const RunStopped&) {
    throw;
  } catch (const std::exception& e) {
    throw std::runtime_error("the main sound " + file_name(cut.source) + " cannot be read: " + e.what());
  }
  const auto first = static_cast<sf_count_t>(std::llround(cut.source_from_s * info.samplerate));
  if (first >= info.frames || sf_seek(in.get(), first, SEEK_SET) < 0) return out.silence(frames);
  // Output over input rate: the copy's rate over the source's, less the source's clock
  // gaining on the camera's. soxr trims its own delay: the first sample is `first`'s.
  const Resampler resampler = copy_resampler(info.samplerate, rate / cut.stretch, info.channels, kMainSoundBits);
  const std::size_t capacity = static_cast<std::size_t>(kBlockFrames * rate / info.samplerate / cut.stretch) + kOutputSlackFrames;
  if (frames > 0)
    resample_stream(
        in.get(), info.channels, resampler.get(), kBlockFrames, capacity, "the main sound",
        [&](const float* made, std::size_t count) {
          const sf_count_t kept = std::min<sf_count_t>(frames, static_cast<sf_count_t>(count));
          out.put(made, info.channels, kept);
          frames -= kept;
          return frames > 0;
        },
        [&](sf_count_t) {
          if (progress) progress(kCutShare * out.share());
        });
  out.silence(frames);
}

void write_copy(const std::string& transcoder, const std::string& camera, const std::vector<SoundCut>& cuts,
                const std::string& copy_path, const std::function<void(double)>& progress,
                SyncedMediaCopy& result) {
  const ContainerShape shape = container_shape(camera);
  if (!shape.read || !shape.has_picture) throw std::runtime_error("its picture cannot be read");
  std::error_code ec;
  if (fs::equivalent(camera, copy_path, ec)) throw std::runtime_error("the copy would replace the file itself");
  const fs::path folder = fs::absolute(copy_path).parent_path();
  const int rate = shape.sample_rate > 0 ? shape.sample_rate : kRateWithoutSound;
  const double lead = shape.picture_start_s - shape.start_s;  // the first picture in the copy's time
  const auto frame_at = [&](double copy_s) { return static_cast<sf_count_t>(std::llround(copy_s * rate)); };
  const std::string codec = shape.sound_codec.empty() ? std::string("aac") : shape.sound_codec;
  const bool primed = !carries_pcm(copy_path) && primed_in_place(copy_path, codec);
  // Where the priming stays in the stream, the encoder pads the sound to whole frames of
  // its own: cut at the last whole frame, the sound ends before the pictures do, not up to
  // a frame after them, and the copy lasts as long as its camera file.
  const sf_count_t total =
      primed ? frame_at(shape.duration_s) / kAacFrame * kAacFrame : frame_at(shape.duration_s);
  result.duration_s = shape.duration_s;

  int channels = 0;
  for (const SoundCut& cut : cuts) {
    SF_INFO info{};
    if (channels == 0 && Sndfile(sf_open(cut.source.c_str(), SFM_READ, &info))) channels = info.channels;
  }
  if (channels == 0) channels = std::max(1, shape.channels);

  OwnFile cut_wav(folder, ".brenvik-main-sound");
  SF_INFO out_info{};
  out_info.samplerate = rate;
  out_info.channels = channels;
  out_info.format = SF_FORMAT_RF64 | SF_FORMAT_FLOAT;
  Sndfile out(sf_open_fd(cut_wav.release_descriptor(), SFM_WRITE, &out_info, SF_TRUE));
  if (!out) throw std::runtime_error(std::string("the sound cannot be written (") + sf_strerror(nullptr) + ")");
  CutSound sound(out.get(), channels, total);

  // The camera's own sound, decoded once and only where a stretch needs it.
  std::unique_ptr<OwnFile> own_decoded;
  SF_INFO own_info{};
  Sndfile own;
  const auto fill = [&](sf_count_t to) {
    const sf_count_t n = std::min(to, total) - sound.written();
    if (n <= 0) return;
    result.uncovered_s += static_cast<double>(n) / rate;
    if (shape.sound_streams == 0) return sound.silence(n);
    if (!own) own = open_sound(transcoder, camera, folder, own_decoded, own_info);
    put_from(own.get(), own_info, sound.written() - frame_at(shape.sound_start_s - shape.start_s), n, sound);
  };
  for (const SoundCut& cut : cuts) {
    const sf_count_t from = std::max(sound.written(), frame_at(cut.at_s + lead));
    const sf_count_t to = std::min(total, frame_at(cut.at_s + lead + cut.length_s));
    if (to <= from) continue;
    fill(from);
    SoundCut rest = cut;
    rest.source_from_s += static_cast<double>(from - frame_at(cut.at_s + lead)) / rate * cut.stretch;
    put_cut(transcoder, rest, folder, rate, to - from, sound, progress);
  }
  fill(total);
  const int written = sf_error(out.get());
  if (sf_close(out.release()) != 0 || written != SF_ERR_NO_ERROR)
    throw std::runtime_error(std::string("writing failed (") + sf_error_number(written) + ")");
  own.reset();
  own_decoded.reset();

  OwnFile partial(folder, ".brenvik-media", fs::path(copy_path).extension().string().c_str());
  close(partial.release_descriptor());
  std::vector<std::string> args = {transcoder, "-nostdin", "-hide_banner", "-loglevel", "error",
                                   "-i", fs::absolute(camera).string()};
  if (primed) {
    const std::string priming = fixed_text(static_cast<double>(kAacPriming) / rate, 9);
    args.insert(args.end(), {"-itsoffset", priming, "-ss", priming});
  }
  args.insert(args.end(), {"-i", cut_wav.path(),
                                   "-map", "0:v", "-map", "1:a", "-map", "0:a?", "-map_metadata", "0",
                                   "-c", "copy"});
  if (carries_pcm(copy_path)) {
    args.insert(args.end(), {"-c:a:0", "pcm_s24le"});
  } else {
    const std::int64_t bits = shape.sound_bit_rate > 0 ? shape.sound_bit_rate : kDefaultBitRate;
    args.insert(args.end(), {"-c:a:0", codec, "-b:a:0", std::to_string(bits)});
  }
  args.insert(args.end(), {"-disposition:a:0", "default", "-metadata:s:a:0", "title=Main sound"});
  if (shape.sound_streams > 0)
    args.insert(args.end(), {"-disposition:a:1", "0", "-metadata:s:a:1", "title=Camera sound"});
  args.insert(args.end(), {"-y", partial.path()});
  std::string reason;
  const int status = run_program(args, reason);
  throw_if_stop_requested();
  if (status != 0)
    throw std::runtime_error("the file could not be written" + (reason.empty() ? std::string() : " (" + reason + ")"));
  if (renameat2(AT_FDCWD, partial.path().c_str(), AT_FDCWD, copy_path.c_str(), RENAME_NOREPLACE) != 0)
    throw std::runtime_error("it cannot be named " + copy_path + " (" + std::strerror(errno) + ")");
  partial.keep();
  if (progress) progress(1.0);
}

}  // namespace

SyncedMediaCopy write_synced_media(const std::string& transcoder, const std::string& camera,
                                   const std::vector<SoundCut>& cuts, const std::string& copy_path,
                                   const std::function<void(double)>& progress) {
  SyncedMediaCopy result;
  try {
    write_copy(transcoder, camera, cuts, copy_path, progress, result);
  } catch (const RunStopped&) {
    throw;
  } catch (const std::exception& e) {
    result.error = e.what();
  }
  return result;
}
