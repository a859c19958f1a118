#include "matching/refine.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 8000;
constexpr double kLongerSec = 120.0;
constexpr double kShorterSec = 90.0;  // overlap 90 s: six windows of 15 s
constexpr double kTrueOffsetSec = -20.0;

void write_wav(const std::string& path, const std::vector<float>& x) {
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) throw std::runtime_error("cannot write " + path);
  sf_write_float(f, x.data(), static_cast<sf_count_t>(x.size()));
  sf_close(f);
}

// A noise pair written once and removed at exit: the cost under test is the reading and
// the correlation, which do not depend on what the sound is.
struct PairOnDisk {
  std::string folder, shorter, longer;
  PairOnDisk() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brenvik-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    folder = pattern;
    std::uint64_t state = 12345;
    std::vector<float> l(static_cast<size_t>(kLongerSec * kRate));
    for (float& v : l) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      v = 0.3f * (static_cast<float>(state >> 40) / 16777216.0f - 0.5f);
    }
    const auto start = static_cast<size_t>(-kTrueOffsetSec * kRate);
    std::vector<float> s(l.begin() + start, l.begin() + start + static_cast<size_t>(kShorterSec * kRate));
    shorter = folder + "/shorter.wav";
    longer = folder + "/longer.wav";
    write_wav(shorter, s);
    write_wav(longer, l);
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
