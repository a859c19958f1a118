#pragma once
// One fingerprint pass: spectrogram, peaks, landmarks.

#include "engine/types.h"

// Landmark table of one pass over the analysis WAV at `path`, its frames shifted by
// sampleOffset leading zeros. Writes the whole seconds through durationOut when the
// spectrogram could be made; returns the single row (0, 0) for a file without a
// fingerprint (missing, unreadable, silent, or shorter than ten frames).
LandmarkTable final_sredi(const char* path, int fileIndex, float* durationOut, float A_DEC,
                          float targetDf, float targetDt, int sampleOffset);
