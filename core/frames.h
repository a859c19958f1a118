#pragma once
// The time grid of the analysis: every analysis WAV is 8000 Hz mono, cut into frames of
// 384 samples every 192 samples. Offsets in frames become seconds through these alone.

inline constexpr int kAnalysisRate = 8000;    // Hz, the rate of every analysis WAV
inline constexpr int kFrameSamples = 384;     // 48 ms analysis window
inline constexpr int kHopSamples = 192;       // 24 ms between frames: 8000 / 192 = 41.67 frames/s
inline constexpr int kSpectrogramBins = 192;  // bins 0..191 of the 384-point DFT, 20.83 Hz apart
