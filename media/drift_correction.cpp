#include "media/drift_correction.h"

#include "core/format.h"
#include "core/log.h"
#include "core/process.h"
#include "core/sndfile_handle.h"
#include "core/stop.h"
#include "media/sound_source.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <exception>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Frames per channel read at a time: an hour of sound never sits in memory, and a block of
// 0.7 s at 48 kHz keeps the resampler's per-call overhead out of sight.
constexpr std::size_t kBlockFrames = 32768;
// Room in the output block beyond the block itself, for what the resampler still holds.
constexpr std::size_t kOutputSlackFrames = 4096;
// Device clocks keep within a few hundred ppm; a figure beyond 1 % is a failed measurement,
// and a copy moved by it would be audibly off pitch.
constexpr double kLargestDevicePpm = 10000.0;

// The source's own sample format where it is plain PCM or float, else 24-bit PCM: more
// than any lossy codec carries. `source_format` is 0 for what the transcoder decoded.
int corrected_subtype(int source_format) {
  const int container = source_format & SF_FORMAT_TYPEMASK;
  const int subtype = source_format & SF_FORMAT_SUBMASK;
  const bool plain = container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX ||
                     container == SF_FORMAT_AIFF || container == SF_FORMAT_W64 ||
                     container == SF_FORMAT_RF64;
  const bool kept = subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_24 ||
                    subtype == SF_FORMAT_PCM_32 || subtype == SF_FORMAT_FLOAT ||
                    subtype == SF_FORMAT_DOUBLE;
  return plain && kept ? subtype : SF_FORMAT_PCM_24;
}

int bytes_per_sample(int subtype) {
  switch (subtype) {
    case SF_FORMAT_PCM_16: return 2;
    case SF_FORMAT_PCM_24: return 3;
    case SF_FORMAT_DOUBLE: return 8;
    default: return 4;
  }
}

// A WAV's sizes are 32-bit: a copy that could pass 4 GB (a multitrack recorder's hours)
// gets the 64-bit RF64 header, every other one the plain header every editor reads.
int corrected_format(const SF_INFO& source, bool transcoded, double stretch) {
  constexpr double kLargestPlainWavBytes = 4294967295.0 - 65536.0;
  const int subtype = corrected_subtype(transcoded ? 0 : source.format);
  const double bytes = static_cast<double>(source.frames) / stretch * source.channels *
                       bytes_per_sample(subtype);
  return (bytes < kLargestPlainWavBytes ? SF_FORMAT_WAV : SF_FORMAT_RF64) | subtype;
}

void write_frames(SNDFILE* out, const float* frames, std::size_t count) {
  const auto n = static_cast<sf_count_t>(count);
  if (sf_writef_float(out, frames, n) != n) {
    throw std::runtime_error(std::string("writing failed (") + sf_strerror(out) + ")");
  }
}

void correct(const std::string& transcoder, const std::string& source, double device_ppm,
             const std::string& corrected_wav, const std::function<void(double)>& progress) {
  const double stretch = 1.0 + device_ppm * 1e-6;
  if (!(std::abs(device_ppm) <= kLargestDevicePpm)) {
    throw std::runtime_error("a clock rate of " + fixed_text(device_ppm, 2) + " ppm is impossible");
  }
  std::error_code ec;
  if (fs::equivalent(source, corrected_wav, ec) ||
      fs::absolute(source).lexically_normal() == fs::absolute(corrected_wav).lexically_normal()) {
    throw std::runtime_error("the copy would replace the source itself");
  }
  fs::path folder = fs::absolute(corrected_wav).parent_path();

  std::unique_ptr<OwnFile> decoded;
  SF_INFO in_info;
  Sndfile in = open_sound(transcoder, source, folder, decoded, in_info);

  OwnFile partial(folder, ".brenvik-corrected");
  SF_INFO out_info{};
  out_info.samplerate = in_info.samplerate;
  out_info.channels = in_info.channels;
  out_info.format = corrected_format(in_info, decoded != nullptr, stretch);
  Sndfile out(sf_open_fd(partial.release_descriptor(), SFM_WRITE, &out_info, SF_TRUE));
  if (!out) throw std::runtime_error(std::string("the copy cannot be made (") + sf_strerror(nullptr) + ")");
  // Resampling overshoots near full scale; wrapping round would turn that into clicks.
  sf_command(out.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);

  // Output over input rate is the copy's length over the source's: 1 / stretch. soxr
  // trims its own filter delay, so the copy's first sample is the source's time 0.
  // soxr's defaults for the rest, interleaved float samples and one thread, are what the
  // blocks hold and what a copy made beside other work should take.
  const int bits = (out_info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 ? 16 : 24;
  const Resampler resampler =
      copy_resampler(in_info.samplerate, in_info.samplerate / stretch, in_info.channels, bits);

  const std::size_t out_capacity = static_cast<std::size_t>(kBlockFrames / stretch) + kOutputSlackFrames;
  sf_count_t consumed = 0;
  resample_stream(
      in.get(), in_info.channels, resampler.get(), kBlockFrames, out_capacity, "its sound",
      [&](const float* frames, std::size_t count) {
        write_frames(out.get(), frames, count);
        return true;
      },
      [&](sf_count_t got) {
        consumed += got;
        if (progress && in_info.frames > 0)
          progress(std::min(1.0, static_cast<double>(consumed) / static_cast<double>(in_info.frames)));
      });
  sf_write_sync(out.get());
  const int written = sf_error(out.get());
  const int closed = sf_close(out.release());
  if (written != SF_ERR_NO_ERROR || closed != SF_ERR_NO_ERROR) {
    throw std::runtime_error(std::string("writing failed (") +
                             sf_error_number(written != SF_ERR_NO_ERROR ? written : closed) + ")");
  }
  if (std::rename(partial.path().c_str(), corrected_wav.c_str()) != 0) {
    throw std::runtime_error("it cannot be named " + corrected_wav + " (" + std::strerror(errno) + ")");
  }
  partial.keep();
}

}  // namespace

std::string write_clock_corrected(const std::string& transcoder, const std::string& source,
                                  double device_ppm, const std::string& corrected_wav,
                                  const std::function<void(double)>& progress) {
  try {
    correct(transcoder, source, device_ppm, corrected_wav, progress);
    logthis("clock-corrected copy of " + source + " (" + fixed_text(device_ppm, 2) +
            " ppm): " + corrected_wav);
    return "";
  } catch (const RunStopped&) {
    throw;
  } catch (const std::exception& e) {
    const std::string why =
        "No clock-corrected copy of " + source + " was written: " + e.what() + ".";
    logthis(why);
    return why;
  }
}
