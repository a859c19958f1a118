#include "matching/refine.h"
#include "tools/refine_pairs.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

constexpr double kTrueOffsetSec = -20.0;

// A speech-like pair with 90 s of overlap (six windows of 15 s), written once and removed
// at exit.
struct PairOnDisk {
  std::string folder, shorter, longer;
  PairOnDisk() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brenvik-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    folder = pattern;
    const pairgen::PairRecipe recipe{"speech", pairgen::Material::SpeechLike, kTrueOffsetSec, 0.0,
                                     90.0, 120.0};
    pairgen::make_pair(recipe, 7, shorter, longer, folder + "/");
  }
  ~PairOnDisk() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
};

const PairOnDisk& pair_on_disk() {
  static const PairOnDisk pair;
  return pair;
}

void BM_RefineOffsetSixWindows(benchmark::State& state) {
  const PairOnDisk& pair = pair_on_disk();
  for (auto _ : state) {
    Refinement r = refine_offset(pair.shorter, pair.longer, kTrueOffsetSec - 0.034);
    if (!r.refined || r.windows != 6) state.SkipWithError("pair was not refined over six windows");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_RefineOffsetSixWindows)->Unit(benchmark::kMillisecond);

}  // namespace
