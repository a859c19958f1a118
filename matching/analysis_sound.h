#pragma once
// What the correlations that measure a pair on its sound share: reading the analysis
// WAVs, the band they compare, and reading a peak off.

#include <sndfile.h>

#include <cstdint>
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
  SF_INFO info_{};
  SNDFILE* file_ = nullptr;
  std::vector<float> interleaved_;
};

//! Smallest even size of the form 2^a 3^b 5^c at least `n`, which every FFT back end handles fast.
int fft_size(std::int64_t n);
