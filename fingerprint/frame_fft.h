#pragma once
// Magnitude spectra of up to four analysis frames at once, bit for bit what Eigen's
// FFT<float> (its kissfft back end, HalfSpectrum) gives for each frame alone. Every
// frame runs in its own vector lane through the same sequence of single-precision
// operations as the one-frame transform, so the fingerprints do not change; only the
// instruction count does.

#include "core/frames.h"

#include <array>
#include <memory>

constexpr int kFftLanes = 4;

class FrameFft {
 public:
  FrameFft();
  ~FrameFft();
  FrameFft(const FrameFft&) = delete;
  FrameFft& operator=(const FrameFft&) = delete;

  // For lanes 0..count-1: columns[l][b] = |DFT(window · frames[l])[b]| for bins 0..191 of
  // the 384-point transform. frames[l] holds 384 samples, columns[l] room for 192.
  void magnitudes(const std::array<float, kFrameSamples>& window,
                  const std::array<const float*, kFftLanes>& frames,
                  const std::array<float*, kFftLanes>& columns, int count);

 private:
  struct Plan;
  std::unique_ptr<Plan> plan_;
};
