#include "matching/real_fft.h"

#include <algorithm>
#include <cstddef>
#include <new>

#ifdef BRENVIK_FFT_FFTW
#include "matching/fft_plans.h"

#include <fftw3.h>

#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#else
#include <unsupported/Eigen/FFT>

#include <optional>
#include <vector>
#endif

#ifdef BRENVIK_FFT_FFTW
namespace {

// One forward and one inverse plan of a size, shared by every thread: FFTW executes a plan
// on several threads at once when each passes its own arrays, but plans only one at a time.
std::mutex& planning() {
  static std::mutex m;
  return m;
}

struct Plans {
  fftwf_plan forward = nullptr;
  fftwf_plan inverse = nullptr;
  bool measured = false;
  Plans() = default;
  Plans(const Plans&) = delete;
  Plans& operator=(const Plans&) = delete;
  ~Plans() {
    const std::lock_guard<std::mutex> lock(planning());
    if (forward != nullptr) fftwf_destroy_plan(forward);
    if (inverse != nullptr) fftwf_destroy_plan(inverse);
  }
};

// A thread's arrays, aligned as FFTW's own allocation aligns them: plans are made on such
// arrays, and new arrays given to a plan must be aligned alike.
class Scratch {
 public:
  ~Scratch() {
    fftwf_free(points_);
    fftwf_free(bins_);
  }
  void reserve(int n) {
    if (n <= size_) return;
    fftwf_free(points_);
    fftwf_free(bins_);
    points_ = fftwf_alloc_real(static_cast<std::size_t>(n));
    bins_ = fftwf_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
    if (points_ == nullptr || bins_ == nullptr) {
      size_ = 0;
      throw std::bad_alloc();
    }
    size_ = n;
  }
  float* points() { return points_; }
  fftwf_complex* bins() { return bins_; }

 private:
  int size_ = 0;
  float* points_ = nullptr;
  fftwf_complex* bins_ = nullptr;
};

Scratch& thread_scratch(int n) {
  thread_local Scratch scratch;
  scratch.reserve(n);
  return scratch;
}

// The timed plans of fft_plans.cpp, read into FFTW once; false where this FFTW cannot
// read them (another version of it, or a processor without the instructions they use),
// and every size is planned by estimate. Under the lock.
bool measured_plans_read() {
  static const bool read = fftwf_import_wisdom_from_string(kMeasuredFftPlans) != 0;
  return read;
}

// Planning a size costs as much as dozens of its transforms, so the sizes met last are
// kept for every thread. The refinement's six windows of a pair share one size, and long
// overlaps all have the 15 s windows' size; short overlaps bring sizes of their own, which
// would hold a megabyte each if all were kept (a shoot of 240 files met 208).
constexpr std::size_t kKeptSizes = 32;

std::shared_ptr<const Plans> plans_for(int n) {
  static std::list<std::pair<int, std::shared_ptr<const Plans>>> kept;  // last used first
  {
    const std::lock_guard<std::mutex> lock(planning());
    for (auto it = kept.begin(); it != kept.end(); ++it) {
      if (it->first != n) continue;
      kept.splice(kept.begin(), kept, it);
      return kept.front().second;
    }
  }
  Scratch& scratch = thread_scratch(n);
  auto made = std::make_shared<Plans>();
  std::shared_ptr<const Plans> dropped;  // destroyed outside the lock, which it takes
  {
    const std::lock_guard<std::mutex> lock(planning());
    // Plans are never timed here, which would choose differently from run to run and
    // cost seconds a size: the listed sizes take the plans timed once beforehand, others
    // FFTW_ESTIMATE's, chosen from the size alone. Either way the same plan, so the same
    // results, on every run of a machine.
    if (measured_plans_read()) {
      made->forward = fftwf_plan_dft_r2c_1d(n, scratch.points(), scratch.bins(), FFTW_MEASURE | FFTW_WISDOM_ONLY);
      made->inverse = fftwf_plan_dft_c2r_1d(n, scratch.bins(), scratch.points(), FFTW_MEASURE | FFTW_WISDOM_ONLY);
    }
    made->measured = made->forward != nullptr && made->inverse != nullptr;
    if (made->forward == nullptr)
      made->forward = fftwf_plan_dft_r2c_1d(n, scratch.points(), scratch.bins(), FFTW_ESTIMATE);
    if (made->inverse == nullptr)
      made->inverse = fftwf_plan_dft_c2r_1d(n, scratch.bins(), scratch.points(), FFTW_ESTIMATE);
    if (made->forward == nullptr || made->inverse == nullptr) throw std::runtime_error("no FFT plan");
    kept.emplace_front(n, made);
    if (kept.size() > kKeptSizes) {
      dropped = std::move(kept.back().second);
      kept.pop_back();
    }
  }
  return made;
}

// A plan runs on other arrays than those it was made on only where they are aligned alike:
// fftwf_malloc's alignment, which the scratch arrays and fft_allocate's memory have.
bool aligned_as_plans(const void* memory) {
  return fftwf_alignment_of(static_cast<float*>(const_cast<void*>(memory))) == 0;
}

}  // namespace

void* fft_allocate(std::size_t bytes) {
  void* memory = fftwf_malloc(bytes == 0 ? 1 : bytes);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

void fft_free(void* memory) noexcept { fftwf_free(memory); }

void forward_fft(int n, const float* in, std::complex<float>* out) {
  const std::shared_ptr<const Plans> plans = plans_for(n);
  if (aligned_as_plans(in) && aligned_as_plans(out)) {
    // Out of place, a real-to-complex plan leaves its input as it was.
    fftwf_execute_dft_r2c(plans->forward, const_cast<float*>(in), reinterpret_cast<fftwf_complex*>(out));
    return;
  }
  Scratch& scratch = thread_scratch(n);
  std::copy(in, in + n, scratch.points());
  fftwf_execute_dft_r2c(plans->forward, scratch.points(), scratch.bins());
  const auto* bins = reinterpret_cast<const std::complex<float>*>(scratch.bins());
  std::copy(bins, bins + n / 2 + 1, out);
}

void inverse_fft(int n, const std::complex<float>* in, float* out) {
  const std::shared_ptr<const Plans> plans = plans_for(n);
  Scratch& scratch = thread_scratch(n);
  // The inverse overwrites its input, which is the caller's to keep.
  std::copy(in, in + n / 2 + 1, reinterpret_cast<std::complex<float>*>(scratch.bins()));
  const float scale = 1.0f / static_cast<float>(n);
  if (aligned_as_plans(out)) {
    fftwf_execute_dft_c2r(plans->inverse, scratch.bins(), out);
    for (int i = 0; i < n; ++i) out[i] *= scale;
    return;
  }
  fftwf_execute_dft_c2r(plans->inverse, scratch.bins(), scratch.points());
  const float* points = scratch.points();
  for (int i = 0; i < n; ++i) out[i] = points[i] * scale;
}

void inverse_fft_over(int n, std::complex<float>* in, float* out, int wanted) {
  if (!aligned_as_plans(in) || !aligned_as_plans(out)) return inverse_fft(n, in, out);
  const std::shared_ptr<const Plans> plans = plans_for(n);
  fftwf_execute_dft_c2r(plans->inverse, reinterpret_cast<fftwf_complex*>(in), out);
  const float scale = 1.0f / static_cast<float>(n);
  for (int i = 0, end = std::clamp(wanted, 0, n); i < end; ++i) out[i] *= scale;
}

const char* fft_backend() { return "FFTW"; }

bool fft_plan_measured(int n) { return plans_for(n)->measured; }

const std::vector<int>& fft_plans_timed_for() { return kFftPlansListed; }

const std::vector<int>& fft_sizes_with_measured_plans() { return kFftPlansMeasured; }

#else
// 64 bytes: the widest vector loads kissfft's compiler may use.
constexpr std::align_val_t kFftAlignment{64};

void* fft_allocate(std::size_t bytes) { return ::operator new(bytes == 0 ? 1 : bytes, kFftAlignment); }

void fft_free(void* memory) noexcept { ::operator delete(memory, kFftAlignment); }

namespace {

// kissfft makes a plan per size, which costs as much as a few transforms, and its plan
// cache is not thread-safe: each thread keeps the plans of the last few sizes it met.
Eigen::FFT<float>& thread_fft(int nfft) {
  // Six 15 s windows share one size; shorter overlaps each bring sizes of their own.
  constexpr std::size_t kKeptSizes = 4;
  thread_local std::optional<Eigen::FFT<float>> fft;
  thread_local std::vector<int> sizes;
  if (std::find(sizes.begin(), sizes.end(), nfft) == sizes.end()) {
    if (!fft || sizes.size() >= kKeptSizes) {
      fft.emplace();
      fft->SetFlag(Eigen::FFT<float>::HalfSpectrum);
      sizes.clear();
    }
    sizes.push_back(nfft);
  }
  return *fft;
}

}  // namespace

void forward_fft(int n, const float* in, std::complex<float>* out) { thread_fft(n).fwd(out, in, n); }

void inverse_fft(int n, const std::complex<float>* in, float* out) { thread_fft(n).inv(out, in, n); }

void inverse_fft_over(int n, std::complex<float>* in, float* out, int) { inverse_fft(n, in, out); }

const char* fft_backend() { return "kissfft"; }

bool fft_plan_measured(int) { return false; }

const std::vector<int>& fft_plans_timed_for() {
  static const std::vector<int> none;
  return none;
}

const std::vector<int>& fft_sizes_with_measured_plans() { return fft_plans_timed_for(); }
#endif
