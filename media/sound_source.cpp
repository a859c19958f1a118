#include "media/sound_source.h"

#include "core/process.h"
#include "core/stop.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <stdexcept>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Random names that are all taken mean something else is wrong with the folder.
constexpr int kNameAttempts = 16;

// Lossless containers libsndfile reads sample for sample as every other decoder would.
// MP3 and Ogg go to the transcoder although libsndfile opens them: their encoder delay is
// then trimmed exactly as in the analysis WAVs the drift was measured on.
bool read_directly(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_MPEG:
    case SF_FORMAT_OGG:
      return false;
    default:
      return true;
  }
}

}  // namespace

// Not mkstemp: its files are private to the owner, and the copy must get the
// permissions the user's umask gives any other new file.
OwnFile::OwnFile(const fs::path& folder, const char* stem, const char* extension) {
  std::random_device entropy;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string path = (folder / stem).string() + "-" + std::to_string(getpid()) + "-" +
                             std::to_string(entropy()) + extension;
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      path_ = path;
      return;
    }
    if (errno != EEXIST) break;
  }
  throw std::runtime_error("no file can be made in " + folder.string() + " (" +
                           std::strerror(errno) + ")");
}

OwnFile::~OwnFile() {
  if (fd_ >= 0) close(fd_);
  if (!path_.empty()) std::remove(path_.c_str());
}

int OwnFile::release_descriptor() { return std::exchange(fd_, -1); }

Sndfile open_sound(const std::string& transcoder, const std::string& source,
                   const fs::path& folder, std::unique_ptr<OwnFile>& decoded, SF_INFO& info) {
  info = SF_INFO{};
  Sndfile file(sf_open(source.c_str(), SFM_READ, &info));
  if (file && read_directly(info.format)) return file;
  file.reset();
  decoded = std::make_unique<OwnFile>(folder, ".brenvik-decoded");
  close(decoded->release_descriptor());
  std::string reason;
  const std::string input = fs::absolute(source).string();
  // No -ar or -ac: the decoded sound keeps the rate and channels the source has.
  const int status = run_program({transcoder, "-nostdin", "-hide_banner", "-loglevel", "error",
                                  "-i", input, "-map", "0:a:0", "-vn",
                                  "-sn", "-dn", "-c:a", "pcm_f32le", "-rf64", "auto", "-f", "wav",
                                  "-y", decoded->path()},
                                 reason);
  throw_if_stop_requested();
  // ffmpeg names the input before its complaint; the caller names the file itself.
  if (reason.rfind(input + ": ", 0) == 0) reason.erase(0, input.size() + 2);
  if (status != 0) {
    throw std::runtime_error("its sound could not be decoded" +
                             (reason.empty() ? std::string() : " (" + reason + ")"));
  }
  info = SF_INFO{};
  file.reset(sf_open(decoded->path().c_str(), SFM_READ, &info));
  if (!file) throw std::runtime_error("its decoded sound could not be read back");
  return file;
}

Resampler copy_resampler(double in_rate, double out_rate, int channels, int bits) {
  soxr_error_t error = nullptr;
  // 20 bits lie well below a 16-bit copy's own rounding, and take a third less time than 28:
  // a shoot's recorder and lavalier copies are hours of sound at the end of the run.
  const auto quality = soxr_quality_spec(bits <= 16 ? SOXR_HQ : SOXR_VHQ, 0);
  Resampler resampler(soxr_create(in_rate, out_rate, static_cast<unsigned>(channels), &error, nullptr,
                                  &quality, nullptr));
  if (!resampler) throw std::runtime_error(std::string("the resampler failed (") + error + ")");
  return resampler;
}

void resample_stream(SNDFILE* in, int channels, soxr* resampler, std::size_t block_frames,
                     std::size_t capacity, const std::string& what,
                     const std::function<bool(const float*, std::size_t)>& take,
                     const std::function<void(sf_count_t)>& after_block) {
  const auto width = static_cast<std::size_t>(channels);
  std::vector<float> in_block(block_frames * width), out_block(capacity * width);
  bool more = true;
  for (bool end = false; more && !end;) {
    throw_if_stop_requested();
    const sf_count_t got = sf_readf_float(in, in_block.data(), static_cast<sf_count_t>(block_frames));
    if (got < 0 || sf_error(in) != SF_ERR_NO_ERROR)
      throw std::runtime_error("reading " + what + " failed (" + sf_strerror(in) + ")");
    end = got == 0;
    const float* next = end ? nullptr : in_block.data();
    auto left = static_cast<std::size_t>(got);
    std::size_t made = 0;
    do {
      std::size_t used = 0;
      const soxr_error_t error = soxr_process(resampler, next, left, &used, out_block.data(), capacity, &made);
      if (error) throw std::runtime_error(std::string("the resampler failed (") + error + ")");
      more = take(out_block.data(), made);
      if (next) next += used * width;
      left -= used;
    } while (more && (left > 0 || (end && made > 0)));
    if (after_block) after_block(got);
  }
}
