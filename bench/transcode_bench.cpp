// Wall time of the transcoding stage: eight ten-minute camera-like files (48 kHz stereo
// AAC) turned into analysis WAVs, one transcoder at a time against one per core.
#include "core/files.h"
#include "core/log.h"
#include "core/process.h"
#include "media/media.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 8;
constexpr const char* kSecondsPerFile = "600";  // ten minutes

// A run folder with Brenvik.app/ffmpeg and the sources, made once for all benchmarks
// and removed when the program ends.
class TranscodeInputs {
 public:
  TranscodeInputs() {
    previous_cwd_ = fs::current_path().string();
    std::string pattern = (fs::temp_directory_path() / "brenvik-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    root_ = pattern;
    fs::create_directories(root_ + "/Brenvik.app/LOG");
    fs::create_symlink(BRENVIK_FFMPEG, root_ + "/Brenvik.app/ffmpeg");
    fs::current_path(root_);
    for (int i = 0; i < kFiles; ++i) {
      const std::string path = root_ + "/camera " + std::to_string(i) + ".m4a";
      const std::string noise = "anoisesrc=color=pink:sample_rate=48000:amplitude=0.3:seed=" +
                                std::to_string(i + 1);
      const int status =
          run_program({BRENVIK_FFMPEG, "-nostdin", "-y", "-loglevel", "error", "-f", "lavfi", "-i",
                       noise, "-t", kSecondsPerFile, "-ac", "2", "-c:a", "aac", "-b:a", "192k", path});
      if (status != 0) return;
      files_.push_back(path);
    }
  }
  ~TranscodeInputs() {
    std::error_code ec;
    fs::current_path(previous_cwd_, ec);
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  bool ready() const { return static_cast<int>(files_.size()) == kFiles; }
  const std::vector<std::string>& files() const { return files_; }
  const std::string& work() const { return work_.path(); }

 private:
  std::string root_;
  std::string previous_cwd_;
  WorkFolder work_;
  std::vector<std::string> files_;
};

TranscodeInputs& inputs() {
  static TranscodeInputs made;
  return made;
}

// Argument: transcoders at once (0: one per core).
void BM_Resemplirajgi8000(benchmark::State& state) {
  TranscodeInputs& in = inputs();
  if (!in.ready()) {
    state.SkipWithError("could not generate the sources");
    return;
  }
  set_console(&null_stream());
  const int transcoders = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const std::vector<std::string> names =
        resemplirajgi8000(in.files(), analysis_names(in.files(), in.work()), {}, transcoders);
    state.PauseTiming();
    for (const std::string& name : names) {
      if (!fs::exists(name)) state.SkipWithError(("no analysis WAV: " + name).c_str());
      std::remove(name.c_str());
    }
    state.ResumeTiming();
  }
  set_console(nullptr);
  state.counters["transcoders"] = transcoders > 0 ? transcoders : worker_count();
}

BENCHMARK(BM_Resemplirajgi8000)
    ->ArgName("transcoders")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseRealTime();

}  // namespace
