#include "matching/refine.h"
#include "matching/repeats.h"
#include "tools/refine_pairs.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

constexpr double kTrueOffsetSec = -20.0;

// A speech-like pair with 90 s of overlap (six windows of 15 s), written once and removed
// at exit; with a drift, every window is measured a second time along it.
struct PairOnDisk {
  std::string folder, shorter, longer;
  explicit PairOnDisk(double drift_ppm) {
    std::string pattern = (std::filesystem::temp_directory_path() / "brenvik-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    folder = pattern;
    const pairgen::PairRecipe recipe{"speech", pairgen::Material::SpeechLike, kTrueOffsetSec, drift_ppm,
                                     90.0, 120.0};
    pairgen::make_pair(recipe, 7, shorter, longer, folder + "/");
  }
  ~PairOnDisk() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
};

void refine_six_windows(benchmark::State& state, const PairOnDisk& pair) {
  for (auto _ : state) {
    Refinement r = refine_offset(pair.shorter, pair.longer, kTrueOffsetSec - 0.034);
    if (!r.refined || r.windows != 6) state.SkipWithError("pair was not refined over six windows");
    benchmark::DoNotOptimize(r);
  }
}

void BM_RefineOffsetSixWindows(benchmark::State& state) {
  static const PairOnDisk pair(0.0);
  refine_six_windows(state, pair);
}
BENCHMARK(BM_RefineOffsetSixWindows)->Unit(benchmark::kMillisecond);

// Phones and cameras run 10 to 50 ppm apart: the windows are read again along the drift.
void BM_RefineOffsetAlongDrift(benchmark::State& state) {
  static const PairOnDisk pair(30.0);
  refine_six_windows(state, pair);
}
BENCHMARK(BM_RefineOffsetAlongDrift)->Unit(benchmark::kMillisecond);

// The check every pair in sync sharing up to three minutes gets: 15 s of the shorter file
// against 55 s of the longer; sound that does not repeat ends there.
void BM_CheckRepeatsFirstLook(benchmark::State& state) {
  static const PairOnDisk pair(0.0);
  for (auto _ : state) {
    const RepeatCheck check = check_repeats(pair.shorter, pair.longer, kTrueOffsetSec, kTrueOffsetSec, kTrueOffsetSec);
    if (!check.measured || check.repeats()) state.SkipWithError("the speech was not measured as not repeating");
    benchmark::DoNotOptimize(check);
  }
}
BENCHMARK(BM_CheckRepeatsFirstLook)->Unit(benchmark::kMillisecond);

}  // namespace
