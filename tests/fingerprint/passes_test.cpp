#include "fingerprint/passes.h"

#include "core/log.h"
#include "fingerprint/landmarks.h"
#include "tests/fingerprint/reference_pass.h"
#include "tests/fingerprint/same_matrix.h"
#include "tools/signals.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <thread>

namespace {

using test_matrices::Same;
using testing_support::TempRunDir;
using Samples = std::vector<std::int16_t>;

constexpr int kOffsets[3] = {0, 32, 64};
const LandmarkTable kNoFingerprint = LandmarkTable::Zero(1, 2);

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

std::string write(const TempRunDir& dir, const std::string& name, const Samples& samples) {
  const std::string path = dir.file(name);
  EXPECT_TRUE(test_signals::write_wav(path, samples));
  return path;
}

TEST(FingerprintPass, MatchesThePlainModelBitForBit) {
  TempRunDir dir;
  const std::pair<Samples, float> cases[] = {
      {test_signals::recording(20.0, 1), 0.99f},
      {test_signals::recording(9.7, 2), 0.9f},
      {test_signals::recording(6.0, 3, true), 0.5f},
      // Busy enough to pass 50 peaks per second, the room the peak list once had.
      {test_signals::recording(6.0, 4, true), 0.0f},
  };
  for (const auto& [samples, decay] : cases) {
    const std::string path = write(dir, "a.wav", samples);
    for (int offset : kOffsets) {
      std::ostringstream text;
      ConsoleCapture capture(text);
      EXPECT_TRUE(Same(final_specgram(path.c_str(), nullptr, nullptr, offset),
                       reference::specgram(path.c_str(), offset)))
          << "decay " << decay << " offset " << offset;
      const LandmarkTable expected = reference::pass(path.c_str(), decay, offset);
      ASSERT_GT(expected.rows(), 100) << "decay " << decay;
      EXPECT_TRUE(Same(run_pass(path, decay, offset).table, expected))
          << "decay " << decay << " offset " << offset;
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
    for (int t = 3000; t >= 0; --t)
      for (int k = static_cast<int>(rng() % 4); k > 0; --k) kept.peaks.emplace_back(rng() % 191, t);
    kept.count = static_cast<int>(kept.peaks.size());
    for (float df : {31.0f, 4.5f})
      EXPECT_TRUE(Same(pair_landmarks(kept, df, dt), reference::landmarks(kept, df, dt)))
          << "window " << df << " x " << dt;
  }
}

TEST(FingerprintPass, PinnedLandmarkTable) {
  // Speed work must not change results unnoticed. Regenerate only for a deliberate
  // change of the fingerprint.
  TempRunDir dir;
  const std::string path = write(dir, "a.wav", test_signals::recording(30.0, 2024));
  std::uint64_t rows = 0;
  std::uint64_t checksum = 1469598103934665603u;  // FNV-1a over every value in order
  for (int offset : kOffsets) {
    const LandmarkTable table = run_pass(path, 0.99f, offset).table;
    rows += static_cast<std::uint64_t>(table.rows());
    for (Eigen::Index r = 0; r < table.rows(); ++r)
      for (int c = 0; c < 2; ++c) checksum = (checksum ^ table(r, c)) * 1099511628211u;
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

TEST(FingerprintPass, NoFingerprintForMissingSilentOrShortFiles) {
  // One zero row per pass; the preparation adds five to three passes' rows: eight.
  TempRunDir dir;
  testing_support::write_file(dir.file("text.wav"), "not a wav");
  const struct {
    std::string path;
    int offset;
    float seconds;
    const char* console;  // nullptr: not checked
  } cases[] = {
      {dir.file("missing.wav"), 0, -1.0f, ""},
      {dir.file("missing.wav"), 64, -1.0f, ""},
      {dir.file("text.wav"), 0, -1.0f, "sf info FRAMES:0\nprazen spektrogram\nposle specgram\n"},
      // Still a real file of three seconds for the timelines.
      {write(dir, "s.wav", Samples(24000, 0)), 0, 3.0f, nullptr},
      {write(dir, "t1.wav", test_signals::noise(0.5, 300, 6)), 64, 0.0f, nullptr},
      {write(dir, "t2.wav", test_signals::noise(0.5, 1535, 6)), 64, 0.0f, nullptr},
      {write(dir, "t3.wav", test_signals::noise(0.5, 1535, 6)), 0, 0.0f, nullptr},
  };
  for (const auto& c : cases) {
    const Pass p = run_pass(c.path, 0.0f, c.offset);
    EXPECT_TRUE(Same(p.table, kNoFingerprint)) << c.path << " offset " << c.offset;
    EXPECT_EQ(p.seconds, c.seconds) << c.path;
    if (c.console) EXPECT_EQ(p.console, c.console) << c.path;
  }
  // 1536 samples make ten frames, the fewest the picker takes.
  const Pass ten = run_pass(write(dir, "u.wav", test_signals::noise(0.5, 1536, 6)), 0.0f, 0);
  EXPECT_NE(ten.console.find("-- 10\n"), std::string::npos) << ten.console;
  EXPECT_FALSE(Same(ten.table, kNoFingerprint));
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

namespace {

TEST(FingerprintPass, ASharedPictureLeavesNothingBehindForTheNextFile) {
  TempRunDir dir;
  // Same length after a louder file, a silent file between, then a missing one: each
  // must come out as from a fresh picture.
  const std::string paths[] = {
      write(dir, "loud.wav", test_signals::recording(8.0, 7, true)),
      write(dir, "same.wav", test_signals::recording(8.0, 8)),
      write(dir, "silent.wav", Samples(8 * 8000, 0)),
      write(dir, "short.wav", test_signals::recording(3.0, 9)),
      dir.file("missing.wav"),
      write(dir, "again.wav", test_signals::recording(8.0, 8)),
  };
  Eigen::MatrixXf picture;
  for (const std::string& path : paths) {
    for (int offset : kOffsets) {
      const LandmarkTable fresh = run_pass(path, 0.98f, offset).table;
      std::ostringstream text;
      ConsoleCapture capture(text);
      float seconds = 0.0f;
      const LandmarkTable shared =
          final_sredi(path.c_str(), 3, &seconds, 0.98f, 31.0f, 63.0f, offset, picture);
      EXPECT_TRUE(Same(shared, fresh)) << path << " offset " << offset;
    }
  }
}

}  // namespace
