// Runs that are handed files with nothing to hear in them, or one deleted after it was
// picked: they must complete, leave those files unsynced and still line up the
// recordings that can be heard.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "core/log.h"
#include "engine/synco.h"
#include "media/media.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

TEST(OddFiles, RunsCompleteWithSilentUnreadableAndDeletedFilesUnsynced) {
  constexpr double kOffsetTolerance_s = 0.1;
  testing_support::TempRunDir dir;
  const std::string event_dir = dir.file("event");
  ASSERT_EQ(e2e::make_event(
                event_dir,
                {"file=hall.wav device=hall start=0 duration=60 snr=25",
                 "file=cam.mov device=cam start=12.5 duration=40 fps=25 filter=lowpass:7000 "
                 "snr=15 reverb=on drift=20",
                 "file=phone.mp3 device=phone start=30 duration=30 filter=phone snr=12 gain=-6",
                 "file=gone.wav device=gone start=5 duration=20 snr=25",
                 "file=picture.mov kind=noaudio duration=5", "file=notes.mov kind=text",
                 "file=blip.wav start=20 duration=0.1", "file=hush.wav kind=silence duration=20"}),
            0);
  const auto truth = e2e::read_manifest(event_dir);
  const std::vector<std::string> heard = {"hall.wav", "cam.mov", "phone.mp3"};
  const std::vector<std::string> unheard = {"picture.mov", "notes.mov", "blip.wav", "hush.wav"};
  // The odd ones among the heard ones, so that every position of the list matters.
  std::vector<std::string> argv = {BRENVIK_SYNC_EXE, "--quiet", "--no-open"};
  for (const char* name : {"picture.mov", "hall.wav", "notes.mov", "cam.mov", "blip.wav",
                           "hush.wav", "phone.mp3"})
    argv.push_back(event_dir + "/" + name);
  const int status = e2e::run_capturing(argv, dir.file("report.txt"));
  const std::string report = testing_support::read_file(dir.file("report.txt"));
  ASSERT_EQ(status, 0) << report;

  for (const e2e::FoundPair& p : e2e::parse_pairs(report)) {
    ASSERT_TRUE(truth.count(p.shorter) && truth.count(p.longer)) << p.shorter << " <-> " << p.longer;
    EXPECT_NEAR(p.offset_s, e2e::true_offset(truth.at(p.shorter), truth.at(p.longer)),
                kOffsetTolerance_s)
        << p.shorter << " <-> " << p.longer;
  }
  // The synced document holds exactly the heard ones, in one sequence, each at its true
  // start after hall.wav, the earliest.
  const auto document = [&](const char* name) {
    return e2e::parse_timeline(testing_support::read_file(e2e::document_path(dir.path(), name)));
  };
  const e2e::Timeline synced = document("SYNCED_fcp.XML");
  const auto sequences = e2e::member_starts(synced, 25.0);
  ASSERT_EQ(sequences.size(), 1u) << "the heard recordings form one group";
  const auto& starts = sequences[0];
  ASSERT_EQ(starts.size(), heard.size());
  for (const std::string& name : heard) {
    ASSERT_TRUE(starts.count(name)) << name << " is not on the timeline";
    EXPECT_NEAR(starts.at(name) - starts.at("hall.wav"), truth.at(name).start_s, kOffsetTolerance_s)
        << name;
  }
  // The unsynced one names every unheard file by its full path, as picked.
  std::set<std::string> names;
  for (const e2e::MasterClip& c : document("UNSYNCED_fcp.XML").clips) names.insert(c.name);
  std::set<std::string> expected;
  for (const std::string& name : unheard) expected.insert(event_dir + "/" + name);
  EXPECT_EQ(names, expected);

  for (const char* doc : e2e::kDocuments)
    EXPECT_TRUE(e2e::well_formed(e2e::document_path(dir.path(), doc))) << doc;
  for (const std::string& name : e2e::folder_listing(event_dir))
    EXPECT_EQ(name.find(kAnalysisSuffix), std::string::npos) << name;

  // The command line refuses a missing file, but a window's list can outlive one.
  const std::string gone = event_dir + "/gone.wav";
  ASSERT_EQ(std::remove(gone.c_str()), 0);
  RunResult run;
  SyncOptions options;
  options.console = &null_stream();
  options.open_output = false;
  options.result = &run;
  EXPECT_EQ(synco({event_dir + "/hall.wav", gone, event_dir + "/phone.mp3"}, 0.99, 1920, 1080,
                  25.0f, 0, options),
            "mavo");
  ASSERT_EQ(run.pairs.size(), 1u);
  EXPECT_NEAR(run.pairs[0].offset, -30.0, kOffsetTolerance_s) << run.pairs[0].shorter;
  const auto unsynced = document("UNSYNCED_fcp.XML").clips;
  ASSERT_EQ(unsynced.size(), 1u);
  EXPECT_EQ(unsynced[0].name, gone);
  EXPECT_FALSE(testing_support::file_exists(gone)) << "the run made a file under the deleted name";
}
