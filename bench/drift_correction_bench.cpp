// Wall time of one clock-corrected copy: an hour of 48 kHz stereo 24-bit WAV moved 37 ppm
// onto the reference clock, read, resampled on one thread and written whole.
#include "core/process.h"
#include "media/drift_correction.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kSeconds = "3600";
constexpr double kDevicePpm = 37.0;

// The hour-long source in a folder of its own, made once and removed when the program ends.
class HourLongSource {
 public:
  HourLongSource() {
    std::string pattern = (fs::temp_directory_path() / "brenvik-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    root_ = pattern;
    const std::string path = root_ + "/recorder.wav";
    const int status = run_program({BRENVIK_FFMPEG, "-nostdin", "-y", "-loglevel", "error", "-f",
                                    "lavfi", "-i", "anoisesrc=color=pink:sample_rate=48000:amplitude=0.3",
                                    "-t", kSeconds, "-ac", "2", "-c:a", "pcm_s24le", path});
    if (status == 0) source_ = path;
  }
  ~HourLongSource() {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  const std::string& source() const { return source_; }
  std::string copy() const { return root_ + "/corrected.wav"; }

 private:
  std::string root_;
  std::string source_;
};

void BM_WriteClockCorrected(benchmark::State& state) {
  static HourLongSource hour;
  if (hour.source().empty()) {
    state.SkipWithError("could not generate the source");
    return;
  }
  for (auto _ : state) {
    const std::string why = write_clock_corrected(BRENVIK_FFMPEG, hour.source(), kDevicePpm, hour.copy());
    if (!why.empty()) state.SkipWithError(why.c_str());
    state.PauseTiming();
    std::remove(hour.copy().c_str());
    state.ResumeTiming();
  }
  state.counters["audio_s_per_s"] = benchmark::Counter(3600.0, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_WriteClockCorrected)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(2)->UseRealTime();

}  // namespace
