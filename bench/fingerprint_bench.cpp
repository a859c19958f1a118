// Fingerprinting an hour-long recording: the three passes of one file, the spectrogram
// alone, and the peak memory of one pass against the size of its spectrogram; and the
// sound outline the window keeps of it, read beside them.

#include "core/log.h"
#include "fingerprint/passes.h"
#include "fingerprint/spectrogram.h"
#include "media/envelope.h"
#include "tools/signals.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr double kRecordingSeconds = 3600.0;
constexpr float kDecay = 0.99f;

// Generated once per process into the temp folder and removed at exit.
const std::string& hour_wav() {
  static const std::string path = [] {
    const std::string p = (std::filesystem::temp_directory_path() /
                           ("brenvik-bench-hour-" + std::to_string(getpid()) + ".wav"))
                              .string();
    test_signals::write_wav(p, test_signals::recording(kRecordingSeconds, 60));
    std::atexit([] { std::remove(hour_wav().c_str()); });
    return p;
  }();
  return path;
}

// A "Vm...:" figure of /proc/self/status in bytes; -1 when unreadable.
double status_bytes(const std::string& key) {
  std::ifstream in("/proc/self/status");
  std::string name;
  double kb = 0;
  while (in >> name) {
    if (name == key + ":" && in >> kb) return kb * 1024.0;
    in.ignore(1 << 12, '\n');
  }
  return -1.0;
}

class QuietConsole {
 public:
  QuietConsole() { set_console(&null_stream()); }
  ~QuietConsole() { set_console(nullptr); }
};

void BM_ThreePassesOfAnHour(benchmark::State& state) {
  const std::string& path = hour_wav();
  QuietConsole quiet;
  double rows = 0;
  double elapsed = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    Eigen::MatrixXf picture;  // shared by the passes, as the engine does
    for (int offset : kPassOffsets) {
      float seconds = 0.0f;
      const LandmarkTable table =
          final_sredi(path.c_str(), 0, &seconds, kDecay, kTargetDf, kTargetDt, offset, picture);
      rows += static_cast<double>(table.rows());
      benchmark::DoNotOptimize(table.data());
    }
    elapsed += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["x_realtime"] = kRecordingSeconds * iterations / elapsed;
  state.counters["landmarks_per_pass"] = rows / (3.0 * iterations);
}
BENCHMARK(BM_ThreePassesOfAnHour)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

void BM_FinalSpecgramOfAnHour(benchmark::State& state) {
  const std::string& path = hour_wav();
  QuietConsole quiet;
  for (auto _ : state) {
    int frames = 0;
    float seconds = 0.0f;
    const Eigen::MatrixXf s = final_specgram(path.c_str(), &frames, &seconds, 0);
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_FinalSpecgramOfAnHour)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

// One more reading of the analysis WAV at the end of a run, against the spectrogram's.
void BM_SoundEnvelopeOfAnHour(benchmark::State& state) {
  const std::string& path = hour_wav();
  for (auto _ : state) benchmark::DoNotOptimize(sound_envelope(path).data());
}
BENCHMARK(BM_SoundEnvelopeOfAnHour)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Peak resident memory of one pass above what the process held before it: the kernel's
// high-water mark is reset first (clear_refs 5), so earlier work does not count.
void BM_OnePassPeakMemory(benchmark::State& state) {
  const std::string& path = hour_wav();
  QuietConsole quiet;
  double peak = 0;
  for (auto _ : state) {
    std::ofstream("/proc/self/clear_refs") << "5";
    const double before = status_bytes("VmRSS");
    float seconds = 0.0f;
    const LandmarkTable table = final_sredi(path.c_str(), 0, &seconds, kDecay, kTargetDf, kTargetDt, 0);
    benchmark::DoNotOptimize(table.data());
    peak = std::max(peak, status_bytes("VmHWM") - before);
  }
  SF_INFO info{};
  if (SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info)) sf_close(file);
  const long frames = 2 * (static_cast<long>(info.frames) / kFrameSamples) + 2;
  const double spectrogram = 1.0 * kSpectrogramBins * frames * sizeof(float);
  state.counters["peak_MB"] = peak / 1e6;
  state.counters["spectrogram_MB"] = spectrogram / 1e6;
  state.counters["peak_over_spectrogram"] = peak / spectrogram;
}
BENCHMARK(BM_OnePassPeakMemory)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
