#include "engine/synco.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

using testing_support::TempRunDir;

// An entry whose passes report no duration must not inherit the entry before it: its
// clip in the unsynced timeline would claim the other file's length.
TEST(SyncoDurations, UnreadableEntryGetsZeroSecondsNotItsNeighbours) {
  TempRunDir dir;
  ASSERT_TRUE(testing_support::make_media(
      dir.file("long.wav"),
      "anoisesrc=seed=11:sample_rate=48000:c=pink,tremolo=f=2.5:d=0.9", 20));
  ASSERT_EQ(testing_support::ffmpeg({"-i", dir.file("long.wav"), "-ss", "4", "-t", "12",
                                     dir.file("cut.wav")}),
            0);
  std::ostringstream sink;
  SyncOptions options;
  options.console = &sink;
  options.open_output = false;
  const std::string result =
      synco({dir.file("long.wav"), dir.file("gone.wav"), dir.file("cut.wav")}, 0.99, 1920, 1080,
            25.0f, 0, options);
  ASSERT_EQ(result, "mavo") << dir.log_text();
  const std::string unsynced = testing_support::read_file("Brenvik.app/SYNCED/UNSYNCED_fcp.XML");
  EXPECT_NE(unsynced.find("<name>" + dir.file("gone.wav") + "</name><duration>0</duration>"),
            std::string::npos)
      << unsynced;
}
