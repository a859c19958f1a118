#include "fingerprint/passes.h"

#include "core/log.h"
#include "fingerprint/landmarks.h"
#include "tests/fingerprint/reference_pass.h"
#include "tests/fingerprint/same_matrix.h"
#include "tools/signals.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <thread>

namespace {

using test_matrices::Same;
using testing_support::TempRunDir;
using Samples = std::vector<std::int16_t>;

// One zero row per pass; the preparation adds five to three passes' rows: eight.
const LandmarkTable kNoFingerprint = LandmarkTable::Zero(1, 2);

LandmarkTable run_pass(const std::string& path, float decay, int offset, float* seconds = nullptr) {
  std::ostringstream quiet;
  ConsoleCapture capture(quiet);
  return final_sredi(path.c_str(), 3, seconds, decay, kTargetDf, kTargetDt, offset);
}

std::string write(const TempRunDir& dir, const std::string& name, const Samples& samples) {
  const std::string path = dir.file(name);
  EXPECT_TRUE(test_signals::write_wav(path, samples));
  return path;
}

TEST(FingerprintPass, MatchesThePlainModelBitForBitWithAFreshOrASharedPicture) {
  // One picture goes through the files in this order, as through the passes of a run:
  // after a longer file, a file of the same length, silence and a missing file, each
  // must come out as from a fresh picture.
  TempRunDir dir;
  testing_support::write_file(dir.file("text.wav"), "not a wav");
  const struct {
    std::string path;
    float decay;
    float seconds;  // -1: never written
    bool heard;
  } cases[] = {
      {write(dir, "a.wav", test_signals::recording(20.0, 1)), 0.99f, 20.0f, true},
      {write(dir, "b.wav", test_signals::recording(9.7, 2)), 0.9f, 9.0f, true},
      {write(dir, "c.wav", test_signals::recording(6.0, 3, true)), 0.5f, 6.0f, true},
      // Busy enough to pass 50 peaks per second, the room the peak list is first given:
      // the list must grow as the plain model's does.
      {write(dir, "d.wav", test_signals::recording(6.0, 4, true)), 0.0f, 6.0f, true},
      // Still a real file of six seconds for the timelines.
      {write(dir, "silent.wav", Samples(6 * 8000, 0)), 0.98f, 6.0f, false},
      {dir.file("missing.wav"), 0.98f, -1.0f, false},
      {dir.file("text.wav"), 0.98f, -1.0f, false},
      {write(dir, "e.wav", test_signals::recording(9.7, 5)), 0.98f, 9.0f, true},
      // 1536 samples make ten frames, the fewest the picker takes.
      {write(dir, "t1.wav", test_signals::noise(0.5, 300, 6)), 0.0f, 0.0f, false},
      {write(dir, "t2.wav", test_signals::noise(0.5, 1535, 6)), 0.0f, 0.0f, false},
      {write(dir, "t3.wav", test_signals::noise(0.5, 1536, 6)), 0.0f, 0.0f, true},
  };
  Eigen::MatrixXf picture;
  for (const auto& c : cases) {
    for (int offset : kPassOffsets) {
      SCOPED_TRACE(c.path + " offset " + std::to_string(offset));
      std::ostringstream quiet;
      ConsoleCapture capture(quiet);
      EXPECT_TRUE(Same(final_specgram(c.path.c_str(), nullptr, nullptr, offset),
                       reference::specgram(c.path.c_str(), offset)));
      const LandmarkTable expected = reference::pass(c.path.c_str(), c.decay, offset);
      // Else the comparisons below could pass on two empty tables.
      ASSERT_NE(static_cast<bool>(Same(expected, kNoFingerprint)), c.heard);
      float seconds = -1.0f;
      EXPECT_TRUE(Same(run_pass(c.path, c.decay, offset, &seconds), expected));
      EXPECT_EQ(seconds, c.seconds);
      EXPECT_TRUE(Same(final_sredi(c.path.c_str(), 0, nullptr, c.decay, kTargetDf, kTargetDt, offset,
                                   picture),
                       expected));
    }
  }
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
  // change of the fingerprint. Each pass is pinned per block of rows, so a failure says
  // which pass and rows changed; the whole is pinned by one checksum over every value.
  TempRunDir dir;
  const std::string path = write(dir, "a.wav", test_signals::recording(30.0, 2024));
  constexpr Eigen::Index kBlockRows = 128;
  const std::vector<std::uint64_t> kBlocks[3] = {
      {9070735338600232995u, 15650570176243589317u, 200407184774403754u, 7853822239271171368u,
       6389922076312704573u, 3047253237396618941u, 18364834617685744940u},
      {17149079768780972879u, 6149855128228385405u, 10771530863558216001u, 1581898440655383987u,
       9406904896682156351u, 9313343447952210786u},
      {1323680052619399703u, 7998341673954706900u, 10958228848261190946u, 4640016570284658119u,
       9415128823742153292u, 18001033269227184067u, 18347657668819123498u}};
  constexpr std::uint64_t kFnvStart = 1469598103934665603u;  // FNV-1a over every value in order
  const auto fnv = [](std::uint64_t hash, std::uint64_t value) { return (hash ^ value) * 1099511628211u; };
  std::uint64_t rows = 0;
  std::uint64_t checksum = kFnvStart;
  for (std::size_t pass = 0; pass < 3; ++pass) {
    const int offset = kPassOffsets[pass];
    const LandmarkTable table = run_pass(path, 0.99f, offset);
    rows += static_cast<std::uint64_t>(table.rows());
    std::vector<std::uint64_t> blocks;
    for (Eigen::Index first = 0; first < table.rows(); first += kBlockRows) {
      std::uint64_t block = kFnvStart;
      for (Eigen::Index r = first; r < std::min(first + kBlockRows, table.rows()); ++r)
        for (int c = 0; c < 2; ++c) {
          block = fnv(block, table(r, c));
          checksum = fnv(checksum, table(r, c));
        }
      blocks.push_back(block);
    }
    EXPECT_EQ(blocks.size(), kBlocks[pass].size()) << "pass at offset " << offset << ": rows " << table.rows();
    for (std::size_t b = 0; b < std::min(blocks.size(), kBlocks[pass].size()); ++b)
      if (blocks[b] != kBlocks[pass][b]) {
        ADD_FAILURE() << "pass at offset " << offset << ": first change in rows "
                      << static_cast<Eigen::Index>(b) * kBlockRows << " to "
                      << std::min((static_cast<Eigen::Index>(b) + 1) * kBlockRows, table.rows()) - 1
                      << ", which begin with (" << table(static_cast<Eigen::Index>(b) * kBlockRows, 0)
                      << ", " << table(static_cast<Eigen::Index>(b) * kBlockRows, 1) << ")";
        break;
      }
  }
  EXPECT_EQ(rows, 2368u);
  EXPECT_EQ(checksum, 7738921495701518365u);
}

TEST(FingerprintPass, ConcurrentPassesGiveTheSameTables) {
  TempRunDir dir;
  const std::string path = write(dir, "a.wav", test_signals::recording(8.0, 6));
  const LandmarkTable expected = run_pass(path, 0.95f, 32);
  LandmarkTable results[2];
  {
    std::jthread a([&] { results[0] = run_pass(path, 0.95f, 32); });
    std::jthread b([&] { results[1] = run_pass(path, 0.95f, 32); });
  }
  for (const LandmarkTable& r : results) EXPECT_TRUE(Same(r, expected));
}

}  // namespace
