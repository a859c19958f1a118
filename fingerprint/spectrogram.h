#pragma once
// Onset-emphasised log-magnitude spectrogram of an 8000 Hz analysis WAV.

#include <Eigen/Dense>

// 192 bins x F frames (384-sample Hann frames, 192-sample hop). Stores F and the whole
// seconds of audio on success; on failure returns the 1 x 1 zero matrix and writes
// neither out-parameter.
Eigen::MatrixXf final_specgram(const char* path, int* frameCountOut, float* secondsOut,
                               int sampleOffset);

// Direct-form recursive filter; a[0] is taken to be 1 and never read.
void filter(int ord, float* a, float* b, int np, float* x, float* y);

// Copy of m with every element below floorValue raised to it.
Eigen::MatrixXf Max(float floorValue, Eigen::MatrixXf m);
