#include "core/entries.h"
#include "engine/synco.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <tuple>

using testing_support::file_exists;
using testing_support::TempRunDir;

namespace {

SyncOptions into(std::ostream& sink, RunResult* result, ProgressFn progress = {}) {
  SyncOptions o;
  o.console = &sink;
  o.open_output = false;
  o.result = result;
  o.progress = std::move(progress);
  return o;
}

}  // namespace

TEST(Synco, RunThatFindsNothingWritesNothingAndLeavesNoAnalysisWav) {
  TempRunDir dir;
  ASSERT_TRUE(testing_support::make_media(dir.file("tone.wav"), "sine=frequency=440:sample_rate=48000", 2));
  ASSERT_TRUE(testing_support::make_media(dir.file("noise.wav"), "anoisesrc=seed=5:sample_rate=48000", 2));
  const std::vector<std::string> files = {dir.file("tone.wav"), kBeginMarker, dir.file("noise.wav"),
                                          dir.file("missing.mov"), kEndMarker};
  std::ostringstream sink;
  // Markers are no files: three of three, whatever stands between the files.
  std::vector<std::tuple<std::string, int, int>> counted;
  const auto progress = [&](std::string_view stage, int i, int n) {
    if (stage == kStageFingerprint || stage == kStageTranscode) counted.emplace_back(stage, i, n);
  };
  RunResult result;
  const std::string work = dir.file("work");
  std::filesystem::create_directory(work);
  setenv("BRENVIK_WORK_DIR", work.c_str(), 1);
  EXPECT_EQ(synco(files, 0.99, 1920, 1080, 25.0f, 0, into(sink, &result, progress)), "nema");
  unsetenv("BRENVIK_WORK_DIR");
  EXPECT_TRUE(std::filesystem::is_empty(work)) << "the run's work folder is left";
  EXPECT_TRUE(file_exists(dir.file("tone.wav")));
  ASSERT_EQ(result.unreadable.size(), 1u);
  EXPECT_EQ(result.unreadable[0].entry, 3);
  const std::vector<std::tuple<std::string, int, int>> expected = {
      {"transcode", 1, 3},   {"transcode", 2, 3},   {"transcode", 3, 3},
      {"fingerprint", 1, 3}, {"fingerprint", 2, 3}, {"fingerprint", 3, 3}};
  EXPECT_EQ(counted, expected);
  EXPECT_EQ(result.entries, files);
  EXPECT_TRUE(result.pairs.empty());
  EXPECT_FALSE(file_exists("csvtabela.csv"));
  EXPECT_FALSE(file_exists("Brenvik.app/SYNCED/SYNCED_fcp.XML"));
}

// A cut of a recording, and an entry that cannot be read between them: the pair comes back
// with its offset and the timeline places both, while the unreadable entry is unsynced
// with no duration of its own (never its neighbour's).
TEST(Synco, ResultHoldsThePairAndTheTimelineTheDocumentsShow) {
  TempRunDir dir;
  ASSERT_TRUE(testing_support::make_media(
      dir.file("long.wav"), "anoisesrc=seed=11:sample_rate=48000:c=pink,tremolo=f=2.5:d=0.9", 20));
  ASSERT_EQ(testing_support::ffmpeg({"-i", dir.file("long.wav"), "-ss", "4", "-t", "12",
                                     dir.file("cut.wav")}),
            0);
  std::ostringstream sink;
  RunResult result;
  SyncOptions options = into(sink, &result);
  options.output_folder = dir.file("elsewhere");  // a second event's documents need not replace the first's
  std::filesystem::create_directory(options.output_folder);
  const std::string answer = synco({dir.file("long.wav"), dir.file("gone.wav"), dir.file("cut.wav")},
                                   0.99, 1920, 1080, 25.0f, 0, options);
  ASSERT_EQ(answer, "mavo") << dir.log_text();

  ASSERT_EQ(result.pairs.size(), 1u);
  EXPECT_EQ(std::make_pair(result.pairs[0].shorter, result.pairs[0].longer), std::make_pair(2, 0));
  EXPECT_NEAR(result.pairs[0].offset, -4.0, 0.001);
  EXPECT_TRUE(result.pairs[0].refined);
  ASSERT_EQ(result.timeline.groups.size(), 1u);
  const std::vector<TimelineMember>& members = result.timeline.groups[0].members;
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].start, 0.0);
  EXPECT_NEAR(members[1].start, 4.0, 0.001);
  EXPECT_TRUE(members[1].audio_only());
  ASSERT_EQ(result.timeline.unsynced.size(), 1u);
  EXPECT_EQ(result.timeline.unsynced[0].duration, 0.0f);
  EXPECT_FALSE(file_exists(dir.file("gone.wav"))) << "the run made a file under the missing name";

  EXPECT_FALSE(file_exists("Brenvik.app/SYNCED/UNSYNCED_fcp.XML"));
  const std::string unsynced = testing_support::read_file(dir.file("elsewhere/UNSYNCED_fcp.XML"));
  EXPECT_NE(unsynced.find("<name>" + dir.file("gone.wav") + "</name><duration>0</duration>"),
            std::string::npos)
      << unsynced;
}
