#include "matching/refine.h"
#include "tools/refine_pairs.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using testing_support::TempRunDir;

namespace {

using namespace pairgen;

// 98765.5 samples: half a sample off the lag grid.
constexpr double kHalfSampleOffset = -12.3456875;

// The decision's output: on the 10 ms grid and early by `early_ms`.
double decided_from(double truth, double early_ms) { return std::round((truth - early_ms / 1000) * 100) / 100; }

// Makes the pair and refines it from a decision `early_ms` early.
Refinement refined(const PairRecipe& p, std::uint64_t seed, double early_ms) {
  std::string s, l;
  make_pair(p, seed, s, l);
  return refine_offset(s, l, decided_from(p.offset, early_ms));
}

}  // namespace

TEST(Refine, RecoversKnownOffsetsToTheSubMillisecond) {
  TempRunDir dir;
  // Most truths lie half a sample between lags, where the nearest lag alone misses by
  // 62.5 µs and a misread parabola by a whole sample; a quarter sample tells them apart.
  // Shorter overlaps get three windows, then one, and a looser bound.
  const double quarter_sample_ms = 0.25 * 1000.0 / kRate;
  const struct {
    PairRecipe pair;
    double early_ms;
    int windows;
    double bound_ms;
  } cases[] = {
      {{"bursts", Material::NoiseBursts, kHalfSampleOffset}, 34, 6, quarter_sample_ms},
      {{"speech_before", Material::SpeechLike, 4.5678125, 0, 55, 75, true, true}, 95, 6, quarter_sample_ms},
      {{"music_echo", Material::MusicLike, -31.0049375, 0, 55, 90, true, false, 15}, 10, 6, quarter_sample_ms},
      {{"speech_noisy", Material::SpeechLike, -0.4321, 0, 55, 75, false, true, 3}, 60, 6, quarter_sample_ms},
      {{"twenty", Material::SpeechLike, -7.891, 0, 20, 40}, 34, 3, 2.0},
      {{"five", Material::NoiseBursts, -3.0303, 0, 5, 40}, 34, 1, 2.0},
      // 42 s of shorter file, of which only the last 8 s meet the longer file.
      {{"tail", Material::MusicLike, 34.0077, 0, 42, 60}, 34, 1, 2.0},
  };
  std::uint64_t seed = 11;
  for (const auto& c : cases) {
    const Refinement r = refined(c.pair, ++seed, c.early_ms);
    EXPECT_TRUE(r.refined) << c.pair.name << ": " << refinement_log_line(r);
    EXPECT_EQ(r.windows, c.windows) << c.pair.name;
    EXPECT_LT(std::abs(r.offset - c.pair.offset) * 1000, c.bound_ms) << c.pair.name;
    if (c.windows == 6) {
      EXPECT_LT(std::abs(r.drift_ppm), 1.0) << c.pair.name;
    }
  }
}

TEST(Refine, MeasuresDriftAndPlacesByTheShorterFileStart) {
  TempRunDir dir;
  const PairRecipe cases[] = {
      {"fast", Material::NoiseBursts, kHalfSampleOffset, 20.0},
      {"slow_before", Material::SpeechLike, 4.56789, -20.0, 55, 75, true},
  };
  std::uint64_t seed = 21;
  for (const auto& p : cases) {
    const Refinement r = refined(p, ++seed, 34);
    EXPECT_TRUE(r.refined) << p.name << ": " << refinement_log_line(r);
    EXPECT_NEAR(r.drift_ppm, p.drift_ppm, 1.0) << p.name;
    // 20 ppm moves the windows' own offsets 0.15 to 0.95 ms away from the start's, so a
    // median, or a line timed by window starts instead of centres, misses this bound.
    EXPECT_NEAR(r.offset, p.offset, 0.05e-3) << p.name;
  }
}

TEST(Refine, NeverAcceptsAWrongCentreOrUnrelatedFiles) {
  TempRunDir dir;
  const PairRecipe cases[] = {
      {"bursts", Material::NoiseBursts, kHalfSampleOffset},
      {"speech", Material::SpeechLike, 4.56789},
      {"music", Material::MusicLike, -31.0049},
  };
  std::uint64_t seed = 31;
  std::vector<std::string> shorts, longs;
  for (const auto& p : cases) {
    std::string s, l;
    make_pair(p, ++seed, s, l);
    // A candidate that holds is measured over the same windows as a pair in sync.
    const Refinement whole = refine_offset(s, l, decided_from(p.offset, 0));
    const Refinement candidate =
        refine_offset(s, l, decided_from(p.offset, 0), RefineScope::kWhileItCanRefine);
    EXPECT_TRUE(whole.refined && candidate.refined) << p.name;
    EXPECT_EQ(candidate.offset, whole.offset) << p.name;
    EXPECT_EQ(candidate.good_windows, whole.good_windows) << p.name;
    for (double miss : {-0.5, 0.5}) {
      const double decided = decided_from(p.offset + miss, 0);
      const Refinement r = refine_offset(s, l, decided);
      EXPECT_FALSE(r.refined) << p.name << " centred " << miss << " s away: " << refinement_log_line(r);
      EXPECT_EQ(r.offset, decided) << p.name;
    }
    shorts.push_back(s);
    longs.push_back(l);
  }
  // The true peak half a sample beyond either end of the searched lags leaves a strong
  // shoulder on the last lag, which is no measurement of the offset.
  for (double beyond : {-1.0, 1.0}) {
    const double decided = cases[0].offset + beyond * (0.25 + 0.5 / kRate);
    const Refinement r = refine_offset(shorts[0], longs[0], decided);
    EXPECT_FALSE(r.refined) << "peak beyond the " << (beyond < 0 ? "first" : "last") << " lag: " << refinement_log_line(r);
  }
  for (size_t i = 0; i < shorts.size(); ++i) {
    const std::string& other = longs[(i + 1) % longs.size()];
    const Refinement r = refine_offset(shorts[i], other, -10.0);
    EXPECT_FALSE(r.refined) << shorts[i] << " against " << other << ": " << refinement_log_line(r);
    EXPECT_EQ(r.windows, 6);
    // As a candidate it stops once three good windows are out of reach: after four.
    const Refinement candidate = refine_offset(shorts[i], other, -10.0, RefineScope::kWhileItCanRefine);
    EXPECT_FALSE(candidate.refined);
    EXPECT_EQ(candidate.windows, 4) << refinement_log_line(candidate);
  }
}

TEST(Refine, WindowsThatDisagreeKeepTheDecidedOffset) {
  TempRunDir dir;
  // A recorder that dropped 40 ms halfway: every window is sharp, but no single offset
  // (or drift line) holds the pair together.
  PairRecipe p{"dropout", Material::SpeechLike, -5.4321};
  p.jump_at_sec = 27.0;
  p.jump_sec = 0.040;
  const Refinement r = refined(p, 61, 34);
  EXPECT_FALSE(r.refined) << refinement_log_line(r);
  EXPECT_EQ(r.good_windows, 6);
  EXPECT_GT(r.spread_ms, 5.0);
  EXPECT_EQ(r.offset, decided_from(p.offset, 34));
}

TEST(Refine, WindowsWithTwoEqualPeaksDoNotTiltTheLine) {
  TempRunDir dir;
  // For its first 20 s the shorter file hears every sound twice, 1.25 ms apart and as
  // loud: the first two windows hold two equal peaks and noise picks one. Taken into the
  // line, they tilt it by ppm and move the start's offset by up to a millisecond.
  for (Material m : {Material::NoiseBursts, Material::MusicLike}) {
    PairRecipe p{"twin", m, -6.54321};
    p.twin_ms = 1.25;
    p.twin_until_sec = 20.0;
    const Refinement r = refined(p, 71 + static_cast<int>(m), 34);
    EXPECT_TRUE(r.refined) << refinement_log_line(r);
    EXPECT_LT(r.good_windows, 6) << "a window with two peaks kept: " << refinement_log_line(r);
    EXPECT_LT(std::abs(r.offset - p.offset) * 1000, 0.25 * 1000.0 / kRate) << refinement_log_line(r);
    EXPECT_LT(std::abs(r.drift_ppm), 1.0) << refinement_log_line(r);
  }
}

TEST(Refine, UnreadableFilesOrNoOverlapKeepTheDecidedOffset) {
  TempRunDir dir;
  std::string s, l;
  make_pair({"ok", Material::NoiseBursts, -1.0, 0, 5, 10}, 51, s, l);
  testing_support::write_file("text.wav", "not a sound file");
  const struct {
    std::string shorter, longer;
    double decided;
  } cases[] = {
      {"missing.wav", l, -1.0}, {s, "text.wav", -1.0}, {s, l, 100000000.0}, {s, l, -10.5}, {s, l, NAN},
  };
  for (const auto& c : cases) {
    const Refinement r = refine_offset(c.shorter, c.longer, c.decided);
    EXPECT_FALSE(r.refined) << c.shorter << " " << c.longer << " " << c.decided;
    EXPECT_EQ(r.windows, 0) << c.shorter << " " << c.longer << " " << c.decided;
    if (!std::isnan(c.decided)) {
      EXPECT_EQ(r.offset, c.decided);
    }
  }
}

TEST(Refine, LogLineStatesVerdictOffsetDriftAndWindows) {
  Refinement r;
  r.refined = true;
  r.offset = -12.3456789;
  r.drift_ppm = 19.876;
  r.good_windows = 5;
  r.windows = 6;
  // The accuracy tools read this line back, to the microsecond.
  EXPECT_EQ(refinement_log_line(r), "refined offset -12345.679 ms, drift 19.88 ppm, 5 of 6 windows good");
  r.refined = false;
  r.drift_ppm = -0.001;  // must not print as "-0.00"
  EXPECT_EQ(refinement_log_line(r), "unrefined offset -12345.679 ms, drift 0.00 ppm, 5 of 6 windows good");
}
