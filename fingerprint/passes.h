#pragma once
// One fingerprint pass: spectrogram, peaks, landmarks.

#include "core/types.h"

// The pairing window of every pass: partners at most 30 bins away, 1 to 62 frames later.
inline constexpr float kTargetDf = 31.0f;
inline constexpr float kTargetDt = 63.0f;
// Three frame grids 0, 4 and 8 ms apart, so a sound that straddles a frame boundary in
// one recording still lands on a comparable grid in another.
inline constexpr int kPassOffsets[3] = {0, 32, 64};

// Landmark table of one pass over the analysis WAV at `path`, its frames shifted by
// sampleOffset leading zeros (0, 32 or 64: frame grids 0, 4 and 8 ms apart), with the
// masking threshold decaying by A_DEC per frame and the pairing window targetDf bins by
// targetDt frames. By value. Writes the whole seconds through durationOut whenever the
// file could be read. Returns the single row (0, 0) for a file without a fingerprint:
// missing, unreadable, silent, or shorter than ten frames (1536 samples).
LandmarkTable final_sredi(const char* path, int fileIndex, float* durationOut, float A_DEC,
                          float targetDf, float targetDt, int sampleOffset);

// The same pass with the spectrogram in `picture`, whose memory the next pass over a file
// of the same length uses again.
LandmarkTable final_sredi(const char* path, int fileIndex, float* durationOut, float A_DEC,
                          float targetDf, float targetDt, int sampleOffset,
                          Eigen::MatrixXf& picture);
