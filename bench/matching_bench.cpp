// Preparation and pairwise matching of six generated one-hour recordings of one event, and
// the matching of a big shoot: a few long recordings and many short clips of one day.

#include "core/log.h"
#include "fingerprint/prepare.h"
#include "matching/match.h"
#include "matching/offset_decision.h"
#include "tests/matching/plain_proveriall.h"
#include "tools/synthetic_landmarks.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kFiles = 6;
constexpr double kFileSeconds = 3600.0;
constexpr double kStartStep = 120.0;  // each device starts recording 2 minutes after the last
// Per pass: about 35 event landmarks a second heard, 15 of the device's own.
constexpr double kEventPerSecond = 50.0;
constexpr double kHeard = 0.7;
constexpr double kOwnPerSecond = 15.0;

struct Recordings {
  std::vector<std::vector<LandmarkTable>> passes;  // file, pass: rows latest first
  std::vector<float> durations;
};

const Recordings& recordings() {
  static const Recordings made = [] {
    Recordings r;
    const double event_seconds = kFileSeconds + kStartStep * kFiles;
    const synthetic::Event event = synthetic::make_event(event_seconds, kEventPerSecond, 1);
    for (int f = 0; f < kFiles; ++f) {
      std::vector<LandmarkTable> passes;
      for (int p = 0; p < 3; ++p) {
        const LandmarkTable t =
            synthetic::record(event, kStartStep * f, kFileSeconds, kHeard, kOwnPerSecond,
                              static_cast<std::uint64_t>(100 * f + p));
        passes.push_back(t.colwise().reverse());
      }
      r.passes.push_back(std::move(passes));
      r.durations.push_back(static_cast<float>(kFileSeconds));
    }
    return r;
  }();
  return made;
}

// Console traces and the debug dump go nowhere near the measurement's output.
class QuietRun {
 public:
  QuietRun() : previous_(std::filesystem::current_path()) {
    folder_ = std::filesystem::temp_directory_path() / "brenvik-matching-bench";
    std::filesystem::create_directories(folder_);
    std::filesystem::current_path(folder_);
    set_console(&null_stream());
  }
  ~QuietRun() {
    set_console(nullptr);
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(folder_);
  }

 private:
  std::filesystem::path previous_;
  std::filesystem::path folder_;
};

std::vector<LandmarkTable> prepare_all(const Recordings& r) {
  std::vector<LandmarkTable> tables;
  for (const auto& passes : r.passes)
    tables.push_back(prepare_landmarks(passes[0], passes[1], passes[2]));
  return tables;
}

void BM_PrepareLandmarks(benchmark::State& state) {
  const Recordings& r = recordings();
  QuietRun quiet;
  for (auto _ : state) benchmark::DoNotOptimize(prepare_all(r));
}
BENCHMARK(BM_PrepareLandmarks)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Proveriall(benchmark::State& state) {
  const Recordings& r = recordings();
  QuietRun quiet;
  const std::vector<LandmarkTable> tables = prepare_all(r);
  std::size_t values = 0;
  for (auto _ : state) {
    const std::vector<PairSlot> slots = proveriall(tables, kFiles, r.durations, {}, {});
    values = 0;
    for (const PairSlot& slot : slots) values += slot.list.size();
  }
  state.counters["values"] = static_cast<double>(values);
}
BENCHMARK(BM_Proveriall)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole matching stage as a run does it: six files prepared, fifteen pairs matched.
void BM_PrepareAndMatch(benchmark::State& state) {
  const Recordings& r = recordings();
  QuietRun quiet;
  for (auto _ : state) {
    const std::vector<LandmarkTable> tables = prepare_all(r);
    benchmark::DoNotOptimize(proveriall(tables, kFiles, r.durations, {}, {}));
  }
}
BENCHMARK(BM_PrepareAndMatch)->Unit(benchmark::kMillisecond)->UseRealTime();

// Summaries of every pair's list, as the decision reads them.
void BM_FinalcutPairs(benchmark::State& state) {
  const Recordings& r = recordings();
  QuietRun quiet;
  const std::vector<LandmarkTable> tables = prepare_all(r);
  const std::vector<PairSlot> slots = proveriall(tables, kFiles, r.durations, {}, {});
  for (auto _ : state)
    for (const PairSlot& slot : slots)
      if (slot.list.size() >= 10) benchmark::DoNotOptimize(finalcut(slot.list));
}
BENCHMARK(BM_FinalcutPairs)->Unit(benchmark::kMillisecond)->UseRealTime();

// A day of 3 hours recorded by 4 devices for 45 minutes each and by 236 clips of 5 to
// 150 s (most of them under a minute) at random moments: most pairs of clips never hear
// the same moment. Tables take about 300 rows a second, as prepared tables of real
// recordings do.
constexpr int kShootFiles = 240;
constexpr int kShootLong = 4;
constexpr double kShootSeconds = 3.0 * 3600.0;
constexpr double kShootLongSeconds = 45.0 * 60.0;
constexpr double kShootEventPerSecond = 300.0;
constexpr double kShootHeard = 0.7;
constexpr double kShootOwnPerSecond = 90.0;

struct Shoot {
  std::vector<LandmarkTable> tables;
  std::vector<float> durations;
  std::size_t rows = 0;
};

const Shoot& shoot() {
  static const Shoot made = [] {
    Shoot s;
    const synthetic::Event day = synthetic::make_event(kShootSeconds, kShootEventPerSecond, 7);
    std::mt19937_64 rng(8);
    std::uniform_real_distribution<double> when(0.0, kShootSeconds - 150.0);
    std::exponential_distribution<double> clip(1.0 / 40.0);
    for (int f = 0; f < kShootFiles; ++f) {
      const bool long_one = f < kShootLong;
      const double seconds = long_one ? kShootLongSeconds : std::clamp(5.0 + clip(rng), 5.0, 150.0);
      const double start = long_one ? f * (kShootSeconds - kShootLongSeconds) / (kShootLong - 1) : when(rng);
      s.tables.push_back(synthetic::record(day, start, seconds, kShootHeard, kShootOwnPerSecond,
                                           static_cast<std::uint64_t>(1000 + f)));
      s.durations.push_back(static_cast<float>(seconds));
      s.rows += static_cast<std::size_t>(s.tables.back().rows());
    }
    return s;
  }();
  return made;
}

// The shoot matched by `matcher`; reports the values every pair's list got together.
template <class Matcher>
void match_shoot(benchmark::State& state, Matcher matcher) {
  const Shoot& s = shoot();
  QuietRun quiet;
  std::size_t values = 0;
  for (auto _ : state) {
    const std::vector<PairSlot> slots = matcher(s.tables, kShootFiles, s.durations);
    values = 0;
    for (const PairSlot& slot : slots) values += slot.list.size();
  }
  state.counters["rows"] = static_cast<double>(s.rows);
  state.counters["values"] = static_cast<double>(values);
}

// Pair by pair: the shorter file's rows looked up in the longer file's index, per pair.
void BM_ProveriallShootPerPair(benchmark::State& state) {
  match_shoot(state, [](const std::vector<LandmarkTable>& t, int n, const std::vector<float>& d) {
    return plain::plain_proveriall(t, n, d, {});
  });
}
BENCHMARK(BM_ProveriallShootPerPair)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_ProveriallShoot(benchmark::State& state) {
  match_shoot(state, [](const std::vector<LandmarkTable>& t, int n, const std::vector<float>& d) {
    return proveriall(t, n, d, {}, {});
  });
}
BENCHMARK(BM_ProveriallShoot)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
