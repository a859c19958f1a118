#include "matching/analysis_sound.h"

#include <algorithm>
#include <cmath>
#include <mutex>

SoundFile::SoundFile(const std::string& path) {
  // A failed sf_open writes libsndfile's one global error text; pairs are measured on
  // several threads at once, and a missing file must not make that a race.
  static std::mutex opening;
  const std::lock_guard<std::mutex> lock(opening);
  file_ = sf_open(path.c_str(), SFM_READ, &info_);
}

SoundFile::~SoundFile() {
  if (file_) sf_close(file_);
}

bool SoundFile::read(std::int64_t start, std::int64_t count, float* out) {
  std::fill(out, out + count, 0.0f);
  const std::int64_t from = std::max<std::int64_t>(start, 0);
  const std::int64_t to = std::min<std::int64_t>(start + count, info_.frames);
  if (to <= from) return true;
  if (sf_seek(file_, from, SEEK_SET) != from) return false;
  const int channels = info_.channels;
  const std::int64_t wanted = to - from;
  float* dst = out + (from - start);
  if (channels == 1) return sf_readf_float(file_, dst, wanted) == wanted;
  interleaved_.resize(static_cast<size_t>(wanted * channels));
  if (sf_readf_float(file_, interleaved_.data(), wanted) != wanted) return false;
  for (std::int64_t i = 0; i < wanted; ++i) {
    float sum = 0.0f;
    for (int c = 0; c < channels; ++c) sum += interleaved_[static_cast<size_t>(i * channels + c)];
    dst[i] = sum / static_cast<float>(channels);
  }
  return true;
}

int fft_size(std::int64_t n) {
  for (std::int64_t m = std::max<std::int64_t>(n, 2);; ++m) {
    if (m % 2) continue;
    std::int64_t r = m;
    for (int p : {2, 3, 5})
      while (r % p == 0) r /= p;
    if (r == 1) return static_cast<int>(m);
  }
}

BandBins band_bins(int nfft, int rate) {
  BandBins band;
  band.low = static_cast<int>(std::ceil(kBandLowHz * nfft / rate));
  band.high = std::min(nfft / 2, static_cast<int>(std::floor(kBandHighHz * nfft / rate)));
  return band;
}

double peak_fraction(double before, double at, double after) {
  const double curvature = before - 2.0 * at + after;
  if (!(curvature < 0.0)) return 0.0;
  return std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}
