// brenvik-fft-plans: for each listed transform size, times FFTW's estimated plan and the
// plan FFTW chooses by timing, as the pair checks run them (real to complex and back, out
// of place, in FFTW's own aligned memory, two threads transforming at once), and writes the
// timed plans that beat the estimated ones by 3 % or more, as FFTW's wisdom text, into the
// source file the engine reads its plans from:
//
//   build/tools/brenvik-fft-plans > matching/fft_plans.cpp
//
// Run it on a quiet machine of the kind the program runs on, after a change to the list of
// sizes or to FFTW; it takes a quarter of an hour. Each size's timings go to stderr.

#include "matching/analysis_sound.h"

#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// A measured plan is kept only this much faster: below it the two are within the timing's noise.
constexpr double kKeptBelow = 0.97;

struct FftwFree {
  void operator()(void* memory) const { fftwf_free(memory); }
};
using Points = std::unique_ptr<float, FftwFree>;
using Bins = std::unique_ptr<fftwf_complex, FftwFree>;

// Points, their bins, and the points the inverse gives back, kept apart from the first so
// that repeated transforms never grow them.
struct Arrays {
  explicit Arrays(int n)
      : points(fftwf_alloc_real(static_cast<std::size_t>(n))),
        bins(fftwf_alloc_complex(static_cast<std::size_t>(n / 2 + 1))),
        back(fftwf_alloc_real(static_cast<std::size_t>(n))) {
    if (!points || !bins || !back) throw std::bad_alloc();
    for (int i = 0; i < n; ++i) points.get()[i] = static_cast<float>(std::rand()) / RAND_MAX - 0.5f;
  }
  Points points;
  Bins bins;
  Points back;
};

// The seconds of one forward and one inverse transform through the plans, the best of a
// few rounds in which each of two threads transforms its own arrays, as a run's do.
double transform_pair_seconds(int n, fftwf_plan forward, fftwf_plan inverse) {
  constexpr int kRounds = 3;
  const int repeats = std::max(2, 20000000 / n);
  Arrays a(n), b(n);
  double best = 1e300;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    const auto work = [&](Arrays& arrays) {
      for (int k = 0; k < repeats; ++k) {
        fftwf_execute_dft_r2c(forward, arrays.points.get(), arrays.bins.get());
        fftwf_execute_dft_c2r(inverse, arrays.bins.get(), arrays.back.get());
      }
    };
    std::thread other(work, std::ref(b));
    work(a);
    other.join();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / repeats);
  }
  return best;
}

struct Plans {
  fftwf_plan forward = nullptr;
  fftwf_plan inverse = nullptr;
  ~Plans() {
    if (forward) fftwf_destroy_plan(forward);
    if (inverse) fftwf_destroy_plan(inverse);
  }
};

void plan(int n, unsigned flags, Plans& plans) {
  Arrays arrays(n);
  plans.forward = fftwf_plan_dft_r2c_1d(n, arrays.points.get(), arrays.bins.get(), flags);
  plans.inverse = fftwf_plan_dft_c2r_1d(n, arrays.bins.get(), arrays.back.get(), flags);
  if (!plans.forward || !plans.inverse) throw std::runtime_error("FFTW cannot plan " + std::to_string(n) + " points");
}

}  // namespace

int main() {
  std::vector<std::string> kept;
  std::vector<int> kept_sizes;
  try {
    for (const int n : listed_fft_sizes()) {
      // Each size on its own: its wisdom holds its plan alone.
      fftwf_forget_wisdom();
      double estimated = 0.0, measured = 0.0;
      {
        Plans plans;
        plan(n, FFTW_ESTIMATE, plans);
        estimated = transform_pair_seconds(n, plans.forward, plans.inverse);
      }
      Plans plans;
      plan(n, FFTW_MEASURE, plans);
      measured = transform_pair_seconds(n, plans.forward, plans.inverse);
      const bool keep = measured < kKeptBelow * estimated;
      std::fprintf(stderr, "%8d points: %9.1f us estimated, %9.1f us measured%s\n", n, estimated * 1e6,
                   measured * 1e6, keep ? ", kept" : "");
      if (!keep) continue;
      char* wisdom = fftwf_export_wisdom_to_string();
      if (wisdom == nullptr) throw std::runtime_error("FFTW gave no wisdom");
      kept.emplace_back(wisdom);
      fftwf_free(wisdom);
      kept_sizes.push_back(n);
    }
  } catch (const std::exception& e) {
    std::cerr << "brenvik-fft-plans: " << e.what() << "\n";
    return 1;
  }
  fftwf_forget_wisdom();
  for (const std::string& wisdom : kept) {
    if (!fftwf_import_wisdom_from_string(wisdom.c_str())) {
      std::cerr << "brenvik-fft-plans: FFTW cannot read its own wisdom\n";
      return 1;
    }
  }
  char* wisdom = fftwf_export_wisdom_to_string();
  if (wisdom == nullptr) {
    std::cerr << "brenvik-fft-plans: FFTW gave no wisdom\n";
    return 1;
  }
  std::cout << "// Written by brenvik-fft-plans (tools/fft_plans.cpp); not to be edited by hand.\n"
               "#include \"matching/fft_plans.h\"\n\n"
               "const std::vector<int> kFftPlansListed = {";
  for (std::size_t i = 0; i < listed_fft_sizes().size(); ++i) std::cout << (i ? ", " : "") << listed_fft_sizes()[i];
  std::cout << "};\n\nconst std::vector<int> kFftPlansMeasured = {";
  for (std::size_t i = 0; i < kept_sizes.size(); ++i) std::cout << (i ? ", " : "") << kept_sizes[i];
  std::cout << "};\n\nconst char* const kMeasuredFftPlans = R\"plans(" << wisdom << ")plans\";\n";
  fftwf_free(wisdom);
  return 0;
}
