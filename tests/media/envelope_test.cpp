#include "media/envelope.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using testing_support::TempRunDir;

// A second of silence, then a second at half scale: the outline must show where the
// sound starts and how loud it is, point by point.
TEST(SoundEnvelope, ShowsWhereTheSoundIsAndHowLoud) {
  TempRunDir dir;
  ASSERT_EQ(testing_support::ffmpeg({"-f", "lavfi", "-i", "aevalsrc=if(lt(t\\,1)\\,0\\,0.5*sin(2*PI*400*t)):s=8000:d=2",
                                     "-c:a", "pcm_s16le", "half.wav"}),
            0);
  const std::vector<float> peaks = sound_envelope("half.wav", 40);
  ASSERT_EQ(peaks.size(), 40u);
  for (std::size_t i = 0; i < 20; ++i) EXPECT_LT(peaks[i], 0.01f) << "point " << i;
  for (std::size_t i = 20; i < 40; ++i) EXPECT_NEAR(peaks[i], 0.5f, 0.02f) << "point " << i;
}

TEST(SoundEnvelope, ShortAndUnreadableFilesGiveWhatTheyHave) {
  TempRunDir dir;
  ASSERT_EQ(testing_support::ffmpeg({"-f", "lavfi", "-i", "aevalsrc=0.25:s=8000:d=1", "-af", "atrim=end_sample=30",
                                     "-c:a", "pcm_s16le", "short.wav"}),
            0);
  const std::vector<float> peaks = sound_envelope("short.wav", 400);
  ASSERT_EQ(peaks.size(), 30u);
  EXPECT_NEAR(peaks.back(), 0.25f, 0.001f);
  testing_support::write_file("notes.wav", "not a sound");
  EXPECT_TRUE(sound_envelope("notes.wav").empty());
  EXPECT_TRUE(sound_envelope("missing.wav").empty());
}
