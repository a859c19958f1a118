#pragma once
// Onset-emphasised log-magnitude spectrogram of an 8000 Hz analysis WAV.

#include "core/frames.h"

#include <Eigen/Dense>

// 192 bins x F frames (384-sample Hann frames, 192-sample hop, sampleOffset leading
// zeros), by value. Stores F and the whole seconds of audio whenever the file could be
// read. A file without sound (digital silence, or shorter than one window) gives an
// all-zero picture, so nothing in it stands out. A file libsndfile cannot open gives
// the 1 x 1 zero matrix and writes neither out-parameter.
Eigen::MatrixXf final_specgram(const char* path, int* frameCountOut, float* secondsOut,
                               int sampleOffset);

// The same picture into `picture`, whose memory is used again when it already has the
// size: the passes of one file share one allocation instead of faulting in fresh pages
// for each.
void final_specgram(const char* path, int* frameCountOut, float* secondsOut, int sampleOffset,
                    Eigen::MatrixXf& picture);

// Seconds of sound in a WAV, to the sample; 0 when libsndfile cannot open it.
double sound_seconds(const char* path);
