#pragma once
// Spectral peak picking with a decaying masking threshold.

#include <Eigen/Dense>

#include <utility>
#include <vector>

// X with every entry that is not a local maximum set to 0; appends to *positions (when
// given) the ascending indices where the result is not 0. k is a local maximum when
// (k == 0 or X[k] >= X[k-1]) and k < n-1 and X[k] > X[k+1]: of a flat top only its
// rightmost entry counts, and the last entry never does.
std::vector<float> loc_max(std::vector<float> X, std::vector<int>* positions);

// Pointwise maximum over the local maxima i of X of X[i] * exp(-0.5 ((k - i) / E)^2),
// the skirt reaching from 4E below to 4E - 1 above i (single precision); starts at 0, so
// negative maxima add nothing. E <= 0 gives all zeros.
std::vector<float> Spread2(std::vector<float> X, int E);

// Kept peaks as (bin, frame), in descending frame order.
struct KeptPeaks {
  std::vector<std::pair<int, int>> peaks;
  int count = 0;  // 0 when nothing was kept (peaks then holds three (0, 0) pairs)
};

// Forward pass (at most five peaks per frame above the threshold, which each accepted
// peak raises around itself and which is multiplied by A_DEC every frame) and backward
// pass (drops the peaks a later, stronger peak masks) over a spectrogram of 192 bins x F
// frames; fewer than ten frames keep nothing. N is the room the peak list was once
// given (50 per second); the list grows past it, so a busy recording keeps all peaks.
KeptPeaks pick_peaks(const Eigen::MatrixXf& spectrogram, float A_DEC, int N);
