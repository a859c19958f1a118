#include "fingerprint/spectrogram.h"

#include "core/log.h"
#include "tests/fingerprint/same_matrix.h"
#include "tools/signals.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using test_matrices::Same;
using testing_support::TempRunDir;
using Samples = std::vector<std::int16_t>;

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

Picture picture_of(const TempRunDir& dir, const Samples& samples, int sampleOffset = 0) {
  const std::string path = dir.file("a.wav");
  EXPECT_TRUE(test_signals::write_wav(path, samples));
  return picture_of(path, sampleOffset);
}

TEST(Spectrogram, SizeFollowsWholeBlocksPlusOne) {
  TempRunDir dir;
  const std::tuple<int, int, float> cases[] = {
      {8000, 42, 1.0f}, {768, 6, 0.0f}, {384 * 30, 62, 1.0f}, {87200, 456, 10.0f}};
  for (const auto& [samples, frames, seconds] : cases) {
    const Picture p = picture_of(dir, test_signals::noise(0.3, samples, 5));
    EXPECT_EQ(p.frames, frames) << samples << " samples";
    EXPECT_EQ(p.values.rows(), 192);
    EXPECT_EQ(p.values.cols(), frames);
    EXPECT_EQ(p.seconds, seconds) << samples << " samples";
  }
}

TEST(Spectrogram, FramesCoverTheFileUpToTheLastWholeBlock) {
  // 8000 samples make 40 audio frames, the last ending at sample 7871; that sample meets
  // the window's zero end, 7870 still counts.
  TempRunDir dir;
  const Samples base = test_signals::noise(0.3, 8000, 1);
  const Picture reference = picture_of(dir, base);
  Samples changed = base;
  for (int i = 7872; i < 8000; ++i) changed[i] = 12000;
  EXPECT_TRUE(Same(picture_of(dir, changed).values, reference.values));
  changed[7870] = static_cast<std::int16_t>(base[7870] > 0 ? -30000 : 30000);
  EXPECT_FALSE(Same(picture_of(dir, changed).values, reference.values));
}

TEST(Spectrogram, SampleOffsetPutsLeadingZerosBeforeTheSound) {
  // 7700 and 7764 samples both round up to 8064: the same 42 frames either way.
  TempRunDir dir;
  const Samples sound = test_signals::recording(7700.0 / 8000, 3);
  Samples padded(64, 0);
  padded.insert(padded.end(), sound.begin(), sound.end());
  const Picture shifted = picture_of(dir, sound, 64);
  EXPECT_TRUE(Same(shifted.values, picture_of(dir, padded, 0).values));
  EXPECT_FALSE(Same(shifted.values, picture_of(dir, sound, 0).values));
  for (int offset : {0, 32, 64}) EXPECT_EQ(picture_of(dir, sound, offset).frames, 42) << offset;
}

TEST(Spectrogram, SineAt1000HzIsLoudestInBin48AtAnyGain) {
  TempRunDir dir;
  const Picture p = picture_of(dir, test_signals::sine(1000.0, 0.5, 16000));
  ASSERT_EQ(p.frames, 84);
  for (int t = 0; t < 82; ++t) {
    Eigen::Index bin = -1;
    p.values.col(t).maxCoeff(&bin);
    EXPECT_EQ(bin, 48) << "frame " << t;
  }
  // A constant gain changes only rounding: the picture is mean-free log magnitude.
  Samples quiet = test_signals::recording(3.0, 9), loud(quiet.size());
  for (size_t i = 0; i < quiet.size(); ++i) {
    quiet[i] = static_cast<std::int16_t>(quiet[i] / 4);
    loud[i] = static_cast<std::int16_t>(quiet[i] * 2);
  }
  const Picture a = picture_of(dir, quiet), b = picture_of(dir, loud);
  ASSERT_GT(a.values.cwiseAbs().maxCoeff(), 1.0f);
  EXPECT_LT((a.values - b.values).cwiseAbs().maxCoeff(), 1e-3f);
}

TEST(Spectrogram, SoundlessFilesGiveAFlatPictureAndMissingOnesNone) {
  TempRunDir dir;
  for (const Samples& s : {Samples(8000, 0), Samples(300, 0), test_signals::noise(0.5, 300, 2)}) {
    const Picture p = picture_of(dir, s);
    EXPECT_EQ(p.values.rows(), 192);
    EXPECT_TRUE((p.values.array() == 0.0f).all()) << s.size() << " samples";
  }
  const Picture missing = picture_of(dir.file("nothing.wav"));
  EXPECT_TRUE(Same(missing.values, Eigen::MatrixXf(Eigen::MatrixXf::Zero(1, 1))));
  EXPECT_EQ(missing.frames, -1);
  EXPECT_EQ(missing.seconds, -1.0f);
  EXPECT_EQ(missing.console, "sf info FRAMES:0\nprazen spektrogram\n");
}

TEST(Spectrogram, FilterAndFloor) {
  // Binary fractions keep every step exact: y = 2x[i] + x[i-1] - 0.5y[i-1] - 0.25y[i-2].
  float a[3] = {99.0f, 0.5f, 0.25f}, b[3] = {2.0f, 1.0f, 0.0f}, x[5] = {1, 0, 0, 4, 0}, y[5];
  filter(2, a, b, 5, x, y);
  EXPECT_EQ(std::vector<float>(y, y + 5), (std::vector<float>{2.0f, 0.0f, -0.5f, 8.25f, 0.0f}));
  Eigen::MatrixXf m(1, 3), floored(1, 3);
  m << 0.5f, 1.0f, 2.0f;
  floored << 1.0f, 1.0f, 2.0f;
  EXPECT_TRUE(Same(Max(1.0f, m), floored));
}

}  // namespace
