#pragma once
// What the correlations that measure a pair on its sound share: reading the analysis
// WAVs, the band they compare, and reading a peak off.

#include <sndfile.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The band the correlations compare: below 100 Hz the microphones' rumble and handling
// noise dominate; above 3.8 kHz the 8 kHz analysis WAVs hold only the resampler's roll-off.
constexpr double kBandLowHz = 100.0;
constexpr double kBandHighHz = 3800.0;

// The first and last bins of that band in a half spectrum of `nfft` points at `rate`.
struct BandBins {
  int low = 0;
  int high = 0;
};
BandBins band_bins(int nfft, int rate);

//! Where the true peak lies between sample lags, from the values at a peak's lag and its
//! two neighbours: a parabola's vertex, within half a lag either side (0 when flat).
double peak_fraction(double before, double at, double after);

//! Middle value of `v` (the mean of the two middle ones for an even count); `v` not empty.
double median(std::vector<double> v);

// One analysis WAV open for reading; every read is mixed to mono.
class SoundFile {
 public:
  explicit SoundFile(const std::string& path);
  ~SoundFile();
  SoundFile(const SoundFile&) = delete;
  SoundFile& operator=(const SoundFile&) = delete;

  bool usable() const { return file_ && info_.samplerate > 0 && info_.channels > 0 && info_.frames > 0; }
  int rate() const { return info_.samplerate; }
  std::int64_t frames() const { return info_.frames; }

  //! `count` samples from frame `start` into `out`, zeros where the file has none.
  bool read(std::int64_t start, std::int64_t count, float* out);

 private:
  bool read_frames(std::int64_t from, std::int64_t frames, float* interleaved);

  SF_INFO info_{};
  SNDFILE* file_ = nullptr;
  // The same file read directly where its samples are plain 16-bit PCM, as the analysis
  // WAVs are: the pair checks read a few hundred thousand samples at a time, thousands of
  // times a run, and libsndfile's seek, buffering and conversion cost more than the reads.
  int fd_ = -1;
  std::int64_t pcm_offset_ = -1;  // byte of the first frame
  std::vector<std::int16_t> pcm_;
  std::vector<float> interleaved_;
};

//! A transform size of at least `n` points, even and of the form 2^a 3^b 5^c, which every FFT
//! back end handles fast: from a short list of the fastest sizes, so that few are planned.
int fft_size(std::int64_t n);

//! That list, smallest first.
std::span<const int> listed_fft_sizes();
