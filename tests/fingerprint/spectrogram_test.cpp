// The picture is compared bit for bit with the plain model, silent, short and missing
// files included, in passes_test.cpp; these worked examples hold the model itself to
// the sound.

#include "fingerprint/spectrogram.h"

#include "core/log.h"
#include "tools/signals.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using testing_support::TempRunDir;

Eigen::MatrixXf picture_of(const TempRunDir& dir, const std::vector<std::int16_t>& samples,
                           int* frames = nullptr, float* seconds = nullptr) {
  const std::string path = dir.file("a.wav");
  EXPECT_TRUE(test_signals::write_wav(path, samples));
  std::ostringstream quiet;
  ConsoleCapture capture(quiet);
  return final_specgram(path.c_str(), frames, seconds, 0);
}

TEST(Spectrogram, SizeFollowsWholeBlocksPlusOne) {
  TempRunDir dir;
  const std::tuple<int, int, float> cases[] = {{8000, 42, 1.0f},   {768, 6, 0.0f},
                                               {1536, 10, 0.0f},   {384 * 30, 62, 1.0f},
                                               {87200, 456, 10.0f}};
  for (const auto& [samples, frames, seconds] : cases) {
    int f = -1;
    float s = -1.0f;
    const Eigen::MatrixXf p = picture_of(dir, test_signals::noise(0.3, samples, 5), &f, &s);
    EXPECT_EQ(f, frames) << samples << " samples";
    EXPECT_EQ(p.cols(), frames);
    EXPECT_EQ(s, seconds) << samples << " samples";
  }
}

TEST(Spectrogram, SineAt1000HzIsLoudestInBin48) {
  TempRunDir dir;
  const Eigen::MatrixXf p = picture_of(dir, test_signals::sine(1000.0, 0.5, 16000));
  ASSERT_EQ(p.cols(), 84);
  for (int t = 0; t < 82; ++t) {
    Eigen::Index bin = -1;
    p.col(t).maxCoeff(&bin);
    EXPECT_EQ(bin, 48) << "frame " << t;
  }
}

}  // namespace
