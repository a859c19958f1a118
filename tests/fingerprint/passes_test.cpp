#include "fingerprint/passes.h"

#include "engine/log.h"
#include "fingerprint/landmarks.h"
#include "tests/fingerprint/reference_pass.h"
#include "tests/fingerprint/same_matrix.h"
#include "tests/fingerprint/signals.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <thread>

namespace {

using test_matrices::Same;
using testing_support::TempRunDir;

constexpr int kOffsets[3] = {0, 32, 64};

struct Pass {
  LandmarkTable table;
  float seconds = -1.0f;
  std::string console;
};

Pass run_pass(const std::string& path, float decay, int offset) {
  Pass p;
  std::ostringstream text;
  ConsoleCapture capture(text);
  p.table = final_sredi(path.c_str(), 3, &p.seconds, decay, 31.0f, 63.0f, offset);
  p.console = text.str();
  return p;
}

std::string write(const TempRunDir& dir, const std::string& name,
                  const std::vector<std::int16_t>& samples) {
  const std::string path = dir.file(name);
  EXPECT_TRUE(test_signals::write_wav(path, samples));
  return path;
}

TEST(FingerprintPass, SpectrogramMatchesThePlainModelBitForBit) {
  TempRunDir dir;
  const std::string path = write(dir, "a.wav", test_signals::recording(7.3, 11));
  for (int offset : kOffsets) {
    int frames = 0;
    float seconds = 0.0f;
    std::ostringstream text;
    ConsoleCapture capture(text);
    const Eigen::MatrixXf fast = final_specgram(path.c_str(), &frames, &seconds, offset);
    EXPECT_TRUE(Same(fast, reference::specgram(path.c_str(), offset))) << "offset " << offset;
  }
}

TEST(FingerprintPass, LandmarksMatchThePlainModelBitForBit) {
  TempRunDir dir;
  struct Case {
    std::vector<std::int16_t> samples;
    float decay;
  } cases[] = {
      {test_signals::recording(20.0, 1), 0.99f},
      {test_signals::recording(9.7, 2), 0.9f},
      {test_signals::recording(6.0, 3, true), 0.5f},
      // Busy enough to pass 50 peaks per second, the room the peak list once had.
      {test_signals::recording(6.0, 4, true), 0.0f},
  };
  for (const Case& c : cases) {
    const std::string path = write(dir, "a.wav", c.samples);
    for (int offset : kOffsets) {
      const LandmarkTable expected = reference::pass(path.c_str(), c.decay, offset);
      const Pass fast = run_pass(path, c.decay, offset);
      ASSERT_GT(expected.rows(), 100) << "decay " << c.decay;
      EXPECT_TRUE(Same(fast.table, expected)) << "decay " << c.decay << " offset " << offset;
    }
  }
  std::ostringstream text;
  ConsoleCapture capture(text);
  const Eigen::MatrixXf busy = final_specgram(dir.file("a.wav").c_str(), nullptr, nullptr, 0);
  EXPECT_GT(pick_peaks(busy, 0.0f, 300).count, 50 * 6);
}

TEST(FingerprintPass, PairingMatchesComparingEveryPeakWithEveryOther) {
  std::mt19937 rng(8);
  for (float dt : {63.0f, 10.5f, 1.0f}) {
    KeptPeaks kept;
    for (int t = 3000; t >= 0; --t) {
      for (int k = static_cast<int>(rng() % 4); k > 0; --k) kept.peaks.emplace_back(rng() % 191, t);
    }
    kept.count = static_cast<int>(kept.peaks.size());
    EXPECT_TRUE(Same(pair_landmarks(kept, 31.0f, dt), reference::landmarks(kept, 31.0f, dt)))
        << "window " << dt;
    EXPECT_TRUE(Same(pair_landmarks(kept, 4.5f, dt), reference::landmarks(kept, 4.5f, dt)))
        << "window " << dt;
  }
}

TEST(FingerprintPass, PinnedLandmarkTable) {
  // Pins one generated recording's tables so that speed work cannot change results
  // unnoticed. Regenerate only for a deliberate change of the fingerprint.
  TempRunDir dir;
  const std::string path = write(dir, "a.wav", test_signals::recording(30.0, 2024));
  std::uint64_t rows = 0;
  std::uint64_t checksum = 1469598103934665603u;  // FNV-1a over every value in order
  for (int offset : kOffsets) {
    const LandmarkTable table = run_pass(path, 0.99f, offset).table;
    rows += static_cast<std::uint64_t>(table.rows());
    for (Eigen::Index r = 0; r < table.rows(); ++r) {
      for (int c = 0; c < 2; ++c) {
        checksum = (checksum ^ table(r, c)) * 1099511628211u;
      }
    }
  }
  EXPECT_EQ(rows, 2368u);
  EXPECT_EQ(checksum, 7738921495701518365u);
}

TEST(FingerprintPass, ConsoleTraceOfAPass) {
  TempRunDir dir;
  const std::string path = write(dir, "a.wav", test_signals::recording(1.0, 5));
  const Pass p = run_pass(path, 0.99f, 0);
  EXPECT_EQ(p.console.rfind("sf info FRAMES:8000\nspecgram 832\nspecgram 837\nspecgram 892\n"
                            "posle specgram\nfilename:" + path +
                                "b=1.42857e-05  duration:1  A_DEC=:0.99 ----specrgram:192  -- 42\n",
                            0),
            0u)
      << p.console;
  EXPECT_EQ(p.seconds, 1.0f);
  EXPECT_GT(p.table.rows(), 1);
  EXPECT_TRUE(Same(final_sredi(path.c_str(), 0, nullptr, 0.99f, 31.0f, 63.0f, 0), p.table));
}

TEST(FingerprintPass, MissingFileHasNoFingerprintInAnyOfTheThreePasses) {
  // Three single zero rows, to which the preparation adds five: eight zero rows.
  TempRunDir dir;
  for (int offset : kOffsets) {
    const Pass p = run_pass(dir.file("missing.wav"), 0.99f, offset);
    EXPECT_TRUE(Same(p.table, LandmarkTable(LandmarkTable::Zero(1, 2))));
    EXPECT_EQ(p.seconds, -1.0f);
    EXPECT_EQ(p.console, "");
  }
  const std::string not_audio = dir.file("text.wav");
  testing_support::write_file(not_audio, "not a wav");
  const Pass p = run_pass(not_audio, 0.99f, 0);
  EXPECT_TRUE(Same(p.table, LandmarkTable(LandmarkTable::Zero(1, 2))));
  EXPECT_EQ(p.seconds, -1.0f);
  EXPECT_EQ(p.console, "sf info FRAMES:0\nprazen spektrogram\nposle specgram\n");
}

TEST(FingerprintPass, SilentOrTooShortFileHasNoFingerprint) {
  TempRunDir dir;
  const Pass silent = run_pass(write(dir, "s.wav", std::vector<std::int16_t>(24000, 0)), 0.99f, 0);
  EXPECT_TRUE(Same(silent.table, LandmarkTable(LandmarkTable::Zero(1, 2))));
  EXPECT_EQ(silent.seconds, 3.0f);  // still a real file of three seconds for the timelines
  for (int samples : {300, 1000, 1535}) {
    const Pass tiny = run_pass(write(dir, "t.wav", test_signals::noise(0.5, samples, 6)), 0.0f, 64);
    EXPECT_TRUE(Same(tiny.table, LandmarkTable(LandmarkTable::Zero(1, 2)))) << samples << " samples";
  }
  const Pass ten_frames = run_pass(write(dir, "u.wav", test_signals::noise(0.5, 1536, 6)), 0.0f, 0);
  EXPECT_TRUE(ten_frames.console.find("-- 10\n") != std::string::npos) << ten_frames.console;
}

TEST(FingerprintPass, ConcurrentPassesGiveTheSameTables) {
  TempRunDir dir;
  const std::string path = write(dir, "a.wav", test_signals::recording(8.0, 6));
  const LandmarkTable expected = run_pass(path, 0.95f, 32).table;
  LandmarkTable results[2];
  std::thread a([&] { results[0] = run_pass(path, 0.95f, 32).table; });
  std::thread b([&] { results[1] = run_pass(path, 0.95f, 32).table; });
  a.join();
  b.join();
  EXPECT_TRUE(Same(results[0], expected));
  EXPECT_TRUE(Same(results[1], expected));
}

}  // namespace
