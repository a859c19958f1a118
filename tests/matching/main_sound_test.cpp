#include "matching/main_sound.h"

#include "tests/export/layout_fixture.h"
#include "tests/support/test_support.h"

#include <filesystem>

TEST(MainSound, TakesTheAudioOnlyDeviceCoveringMostOfTheCamerasThenTheCleanerOne) {
  // Cameras 0..100 s; the recorder's two takes cover 0..30 and 40..80 (70 s), the phone
  // 10..95 (85 s); a camera's own sound does not count.
  Timeline t = group({member(0, 0, "/m/cam.mov", 0.0, 100.0, 25.0f), member(1, 1, "/m/rec1.wav", 0.0, 30.0, 999.0f),
                      member(2, 1, "/m/rec2.wav", 40.0, 40.0, 999.0f), member(3, 3, "/m/phone.m4a", 10.0, 85.0, 999.0f),
                      member(4, 4, "/m/cam2.mov", 0.0, 100.0, 25.0f)});
  const std::vector<double> snr = {0, 30, 30, 10, 0};
  EXPECT_EQ(choose_main_sounds(t, snr, ""), "");
  EXPECT_EQ(t.groups[0].main_sound, 3);
  // Chosen: any file of the device, a camera too; a file in no group is said.
  EXPECT_EQ(choose_main_sounds(t, snr, "/m/rec2.wav"), "");
  EXPECT_EQ(t.groups[0].main_sound, 1);
  EXPECT_EQ(choose_main_sounds(t, snr, "/m/elsewhere.wav"),
            "the main sound /m/elsewhere.wav synced with no other file; each group takes its own");
  EXPECT_EQ(t.groups[0].main_sound, 3);
  // Covering the same time, the higher SNR; nothing covering a camera: none.
  t.groups[0].members[3] = member(3, 3, "/m/phone.m4a", 0.0, 100.0, 999.0f);
  t.groups[0].members[2] = member(2, 1, "/m/rec2.wav", 30.0, 70.0, 999.0f);
  choose_main_sounds(t, {0, 30, 30, 10, 0}, "");
  EXPECT_EQ(t.groups[0].main_sound, 1);
  choose_main_sounds(t, {0, 9, 9, 10, 0}, "");
  EXPECT_EQ(t.groups[0].main_sound, 3);
  Timeline apart = group({member(0, 0, "/m/c.mov", 0.0, 10.0, 25.0f), member(1, 1, "/m/b.wav", 20.0, 9.0, 999.0f)});
  choose_main_sounds(apart, {}, "");
  EXPECT_EQ(apart.groups[0].main_sound, -1);
}

TEST(MainSound, SignalToNoiseIsTheLoudStretchesAgainstTheQuietOnes) {
  // Half of every second at 0.5, half at 0.005 of full scale: 40 dB apart.
  const std::string wav = std::filesystem::temp_directory_path() / "brenvik_snr_test.wav";
  ASSERT_TRUE(testing_support::make_media(wav, "aevalsrc='if(lt(mod(t,1),0.5),0.5,0.005)*sin(2*PI*440*t)':s=8000", 6));
  EXPECT_NEAR(signal_to_noise_db(wav), 40.0, 0.5);
  std::filesystem::remove(wav);
  EXPECT_EQ(signal_to_noise_db(wav), 0.0);
}
