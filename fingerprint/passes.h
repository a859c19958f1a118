#pragma once
// One fingerprint pass: spectrogram, peaks, landmarks.

#include "core/types.h"

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
