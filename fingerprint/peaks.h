#pragma once
// Spectral peak picking with a decaying masking threshold.

#include <Eigen/Dense>

#include <utility>
#include <vector>

std::vector<float> loc_max(std::vector<float> X, std::vector<int>* positions);
std::vector<float> Spread2(std::vector<float> X, int E);
std::vector<float> zalepi_vec(std::vector<float> a, std::vector<float> b);
std::vector<float> mavo_max_vec(std::vector<float> a, std::vector<float> b);
std::vector<float> mavo_max_zerovec(std::vector<float> z, std::vector<float> v);

// Kept peaks as (bin, frame), in descending frame order.
struct KeptPeaks {
  std::vector<std::pair<int, int>> peaks;
  int count = 0;  // 0 when nothing was kept (peaks then holds three (0, 0) pairs)
};

// Forward and backward passes over S (frames x 192 bins) with threshold decay A_DEC.
// N sizes the peak list as the original did; the list grows past it when needed.
KeptPeaks pick_peaks(const Eigen::MatrixXf& framesByBins, float A_DEC, int N);
