#pragma once
// The real transforms the correlations that measure a pair are built on. One back end
// serves them all, chosen when the project is configured (BRENVIK_FFT): FFTW, or Eigen's
// kissfft where FFTW is not installed. Both give the same half spectra up to rounding.

#include <complex>

// The n/2 + 1 bins of the spectrum of n real points (n even).
void forward_fft(int n, const float* in, std::complex<float>* out);

// The n real points of a half spectrum, divided by n, so that the inverse of the forward
// transform gives the points back.
void inverse_fft(int n, const std::complex<float>* in, float* out);

// The back end's name, for the benchmarks' reports.
const char* fft_backend();
