#pragma once
// The files the media writers make of their own beside their output, and a recording's
// sound opened for reading sample by sample, through libsndfile or decoded by ffmpeg.

#include "core/sndfile_handle.h"

#include <soxr.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

// A file of ours in the destination folder, removed when it goes unless kept. It sits
// there, not in /tmp, so that the rename at the end never crosses file systems and the
// decoded sound is never written where the user did not ask for output.
class OwnFile {
 public:
  // "<folder>/<stem>-<pid>-<random><extension>", made empty. Throws std::runtime_error
  // when the folder takes no new file.
  OwnFile(const std::filesystem::path& folder, const char* stem, const char* extension = ".wav");
  ~OwnFile();
  OwnFile(const OwnFile&) = delete;
  OwnFile& operator=(const OwnFile&) = delete;

  const std::string& path() const { return path_; }
  // Hands the descriptor over to whoever closes it next.
  int release_descriptor();
  void keep() { path_.clear(); }

 private:
  int fd_ = -1;
  std::string path_;
};

// The sound of `source` for reading: the file itself where libsndfile reads it as every
// other decoder would, else its first sound stream decoded by `transcoder` into
// `decoded`, a float WAV of the source's rate and channels in `folder`. Throws
// std::runtime_error with a reason for the user's sentence; RunStopped on a stop request.
Sndfile open_sound(const std::string& transcoder, const std::string& source,
                   const std::filesystem::path& folder, std::unique_ptr<OwnFile>& decoded,
                   SF_INFO& info);

struct SoxrDeleter {
  void operator()(soxr* s) const { soxr_delete(s); }
};
using Resampler = std::unique_ptr<soxr, SoxrDeleter>;

// soxr from `in_rate` to `out_rate`, on interleaved float frames, for a copy of `bits`-bit
// samples: its high quality (20-bit precision) where they are 16-bit, its very high one (28-bit)
// where they are finer; throws std::runtime_error "the resampler failed (…)".
Resampler copy_resampler(double in_rate, double out_rate, int channels, int bits);

// Reads `in` (of `channels` channels) from where it stands, `block_frames` at a time,
// through `resampler`, and hands every run of interleaved output frames to
// take(frames, count), which returns whether it wants more. At the sound's end soxr is
// given a null input, which makes it give up the tail it holds. after_block(read) follows
// each block read, with the frames it held. Throws std::runtime_error: "reading <what>
// failed (…)" or "the resampler failed (…)"; RunStopped on a stop request.
void resample_stream(SNDFILE* in, int channels, soxr* resampler, std::size_t block_frames,
                     std::size_t capacity, const std::string& what,
                     const std::function<bool(const float*, std::size_t)>& take,
                     const std::function<void(sf_count_t)>& after_block);
