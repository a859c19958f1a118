#pragma once
// The real transforms the correlations that measure a pair are built on. One back end
// serves them all, chosen when the project is configured (BRENVIK_FFT): FFTW, or Eigen's
// kissfft where FFTW is not installed. Both give the same half spectra up to rounding.

#include <complex>
#include <cstddef>
#include <vector>

// Memory aligned as the back end aligns its own buffers. Points and bins held in it are
// transformed where they lie; any other memory is copied in and out, which costs a sixth
// of a transform of the refinement's windows.
void* fft_allocate(std::size_t bytes);
void fft_free(void* memory) noexcept;

template <class T>
struct FftAllocator {
  using value_type = T;
  FftAllocator() = default;
  template <class U>
  FftAllocator(const FftAllocator<U>& /*other*/) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(fft_allocate(n * sizeof(T))); }
  void deallocate(T* memory, std::size_t /*n*/) noexcept { fft_free(memory); }
  template <class U>
  bool operator==(const FftAllocator<U>& /*other*/) const noexcept {
    return true;
  }
};
using FftPoints = std::vector<float, FftAllocator<float>>;
using FftBins = std::vector<std::complex<float>, FftAllocator<std::complex<float>>>;

// The n/2 + 1 bins of the spectrum of n real points (n even).
void forward_fft(int n, const float* in, std::complex<float>* out);

// The n real points of a half spectrum, divided by n, so that the inverse of the forward
// transform gives the points back.
void inverse_fft(int n, const std::complex<float>* in, float* out);

// The same, free to overwrite `in`, which saves copying it where the caller has no more
// use for it, and scaled only in out[0, wanted): a correlation reads a few thousand lags of
// a transform of a hundred thousand points and more. The rest of `out` is left unscaled.
void inverse_fft_over(int n, std::complex<float>* in, float* out, int wanted);

// The back end's name, for the benchmarks' reports.
const char* fft_backend();

// Whether transforms of n points run on a plan timed beforehand (FFTW's, for listed sizes,
// where this FFTW can read them) rather than one chosen from the size alone.
bool fft_plan_measured(int n);

// The sizes those plans were timed for (the list fft_size took them from then), and the ones
// whose timed plans are kept, being faster; both empty without FFTW.
const std::vector<int>& fft_plans_timed_for();
const std::vector<int>& fft_sizes_with_measured_plans();
