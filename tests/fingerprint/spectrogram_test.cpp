#include "fingerprint/spectrogram.h"

#include "engine/log.h"
#include "tests/fingerprint/same_matrix.h"
#include "tests/fingerprint/signals.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

using test_matrices::Same;
using testing_support::TempRunDir;

struct Picture {
  Eigen::MatrixXf values;
  int frames = -1;
  float seconds = -1.0f;
  std::string console;
};

Picture picture_of(const std::string& path, int sampleOffset = 0) {
  Picture p;
  std::ostringstream text;
  ConsoleCapture capture(text);
  p.values = final_specgram(path.c_str(), &p.frames, &p.seconds, sampleOffset);
  p.console = text.str();
  return p;
}

Picture picture_of(const TempRunDir& dir, const std::vector<std::int16_t>& samples,
                   int sampleOffset = 0) {
  const std::string path = dir.file("a.wav");
  EXPECT_TRUE(test_signals::write_wav(path, samples));
  return picture_of(path, sampleOffset);
}

TEST(Spectrogram, SizeFollowsWholeBlocksPlusOne) {
  TempRunDir dir;
  struct Case {
    int samples, frames;
    float seconds;
  } cases[] = {{8000, 42, 1.0f}, {768, 6, 0.0f}, {384 * 30, 62, 1.0f}, {87200, 456, 10.0f}};
  for (const Case& c : cases) {
    const Picture p = picture_of(dir, test_signals::noise(0.3, c.samples, 5));
    EXPECT_EQ(p.frames, c.frames) << c.samples << " samples";
    EXPECT_EQ(p.values.rows(), 192);
    EXPECT_EQ(p.values.cols(), c.frames);
    EXPECT_EQ(p.seconds, c.seconds) << c.samples << " samples";
  }
  const Picture one = picture_of(dir, test_signals::noise(0.3, 8000, 5));
  EXPECT_EQ(one.console, "sf info FRAMES:8000\nspecgram 832\nspecgram 837\nspecgram 892\n");
}

TEST(Spectrogram, FramesCoverTheFileUpToTheLastWholeBlock) {
  // 8000 samples make 40 audio frames, the last ending at sample 7871.
  TempRunDir dir;
  std::vector<std::int16_t> base = test_signals::noise(0.3, 8000, 1);
  const Picture reference = picture_of(dir, base);

  std::vector<std::int16_t> tail_changed = base;
  for (int i = 7872; i < 8000; ++i) tail_changed[i] = 12000;
  EXPECT_TRUE(Same(picture_of(dir, tail_changed).values, reference.values));

  // Sample 7871 ends frame 39 but meets the window's zero end; 7870 still counts.
  std::vector<std::int16_t> last_covered = base;
  last_covered[7870] = static_cast<std::int16_t>(base[7870] > 0 ? -30000 : 30000);
  EXPECT_FALSE(Same(picture_of(dir, last_covered).values, reference.values));
}

TEST(Spectrogram, SampleOffsetPutsLeadingZerosBeforeTheSound) {
  // 7700 and 7764 samples both round up to 8064: the same 42 frames either way.
  TempRunDir dir;
  const std::vector<std::int16_t> sound = test_signals::recording(7700.0 / 8000, 3);
  std::vector<std::int16_t> padded(64, 0);
  padded.insert(padded.end(), sound.begin(), sound.end());

  const Picture shifted = picture_of(dir, sound, 64);
  EXPECT_TRUE(Same(shifted.values, picture_of(dir, padded, 0).values));
  EXPECT_EQ(shifted.frames, 42);
  EXPECT_EQ(picture_of(dir, sound, 0).frames, 42);
  EXPECT_EQ(picture_of(dir, sound, 32).frames, 42);
  EXPECT_FALSE(Same(picture_of(dir, sound, 0).values, shifted.values));
}

TEST(Spectrogram, SineAt1000HzIsLoudestInBin48) {
  TempRunDir dir;
  const Picture p = picture_of(dir, test_signals::sine(1000.0, 0.5, 16000));
  ASSERT_EQ(p.frames, 84);
  for (int t = 0; t < 82; ++t) {
    Eigen::Index bin = -1;
    p.values.col(t).maxCoeff(&bin);
    EXPECT_EQ(bin, 48) << "frame " << t;
  }
}

TEST(Spectrogram, ConstantGainChangesOnlyRounding) {
  TempRunDir dir;
  std::vector<std::int16_t> quiet = test_signals::recording(3.0, 9);
  std::vector<std::int16_t> loud(quiet.size());
  for (size_t i = 0; i < quiet.size(); ++i) {
    quiet[i] = static_cast<std::int16_t>(quiet[i] / 4);
    loud[i] = static_cast<std::int16_t>(quiet[i] * 2);
  }
  const Picture a = picture_of(dir, quiet);
  const Picture b = picture_of(dir, loud);
  ASSERT_GT(a.values.cwiseAbs().maxCoeff(), 1.0f);
  EXPECT_LT((a.values - b.values).cwiseAbs().maxCoeff(), 1e-3f);
}

TEST(Spectrogram, SoundlessFilesGiveAFlatPictureAndMissingOnesNone) {
  TempRunDir dir;
  for (int samples : {8000, 300}) {
    const Picture p = picture_of(dir, std::vector<std::int16_t>(samples, 0));
    EXPECT_EQ(p.values.rows(), 192);
    EXPECT_TRUE((p.values.array() == 0.0f).all()) << samples << " samples";
  }
  const Picture tiny = picture_of(dir, test_signals::noise(0.5, 300, 2));
  EXPECT_EQ(tiny.frames, 2);
  EXPECT_TRUE((tiny.values.array() == 0.0f).all());

  const Picture missing = picture_of(dir.file("nothing.wav"));
  EXPECT_TRUE(Same(missing.values, Eigen::MatrixXf(Eigen::MatrixXf::Zero(1, 1))));
  EXPECT_EQ(missing.frames, -1);
  EXPECT_EQ(missing.seconds, -1.0f);
  EXPECT_EQ(missing.console, "sf info FRAMES:0\nprazen spektrogram\n");
}

TEST(Spectrogram, FilterAndFloor) {
  // Binary fractions keep every step exact: y = 2x[i] + x[i-1] - 0.5y[i-1] - 0.25y[i-2].
  float a[3] = {99.0f, 0.5f, 0.25f};
  float b[3] = {2.0f, 1.0f, 0.0f};
  float x[5] = {1, 0, 0, 4, 0};
  float y[5];
  filter(2, a, b, 5, x, y);
  const float expected[5] = {2.0f, 0.0f, -0.5f, 8.25f, 0.0f};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(y[i], expected[i]) << "sample " << i;

  Eigen::MatrixXf m(1, 3);
  m << 0.5f, 1.0f, 2.0f;
  const Eigen::MatrixXf floored = Max(1.0f, m);
  EXPECT_EQ(floored(0, 0), 1.0f);
  EXPECT_EQ(floored(0, 1), 1.0f);
  EXPECT_EQ(floored(0, 2), 2.0f);
}

}  // namespace
