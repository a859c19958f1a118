// Runs that are handed files with nothing to hear in them: they must complete, leave
// those files unsynced and still line up the recordings that can be heard.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/synco.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

using testing_support::TempRunDir;

namespace {

constexpr double kOffsetTolerance_s = 0.1;
constexpr double kFps = 25.0;
constexpr const char* kAnalysisSuffix = "_temporary_file_to_be_deleted.wav";

std::string document(const TempRunDir& dir, const std::string& name) {
  return testing_support::read_file(dir.file("Brenvik.app/SYNCED/" + name));
}

// Checks that the synced document holds exactly `heard`, in one sequence, each at
// its true start after the earliest, and that the unsynced one names every file of
// `unheard` (by its full path, as picked) and none of `heard`.
void expect_sorted_out(const TempRunDir& dir, const std::string& event_dir,
                       const std::map<std::string, e2e::TrueFile>& truth,
                       const std::vector<std::string>& heard,
                       const std::vector<std::string>& unheard) {
  const e2e::Timeline synced = e2e::parse_timeline(document(dir, "SYNCED_fcp.XML"));
  const auto sequences = e2e::member_starts(synced, kFps);
  ASSERT_EQ(sequences.size(), 1u) << "the heard recordings form one group";
  const auto& starts = sequences[0];
  ASSERT_EQ(starts.size(), heard.size());
  double earliest_s = 1e9;
  for (const std::string& name : heard) earliest_s = std::min(earliest_s, truth.at(name).start_s);
  for (const std::string& name : heard) {
    ASSERT_TRUE(starts.count(name)) << name << " is not on the timeline";
    EXPECT_NEAR(starts.at(name), truth.at(name).start_s - earliest_s, kOffsetTolerance_s) << name;
  }

  const e2e::Timeline unsynced = e2e::parse_timeline(document(dir, "UNSYNCED_fcp.XML"));
  std::set<std::string> names;
  for (const e2e::MasterClip& c : unsynced.clips) names.insert(c.name);
  EXPECT_EQ(names.size(), unheard.size());
  for (const std::string& name : unheard) EXPECT_TRUE(names.count(event_dir + "/" + name)) << name;
  for (const std::string& name : heard) EXPECT_FALSE(names.count(event_dir + "/" + name)) << name;

  for (const char* doc : {"SYNCED_fcp.XML", "UNSYNCED_fcp.XML", "SYNCED_premierePro.XML",
                          "UNSYNCED_premierePro.XML"}) {
    EXPECT_TRUE(e2e::well_formed(dir.file(std::string("Brenvik.app/SYNCED/") + doc))) << doc;
  }
  for (const std::string& name : e2e::folder_listing(event_dir)) {
    EXPECT_EQ(name.find(kAnalysisSuffix), std::string::npos) << name << " was left behind";
  }
}

}  // namespace

TEST(OddFiles, RunCompletesWithSilentAndUnreadableFilesUnsynced) {
  TempRunDir dir;
  const std::string event_dir = dir.file("event");
  ASSERT_EQ(e2e::make_event(
                event_dir,
                {"file=hall.wav device=hall start=0 duration=60 snr=25",
                 "file=cam.mov device=cam start=12.5 duration=40 fps=25 filter=lowpass:7000 "
                 "snr=15 reverb=on drift=20",
                 "file=phone.mp3 device=phone start=30 duration=30 filter=phone snr=12 gain=-6",
                 "file=picture.mov kind=noaudio duration=5", "file=notes.mov kind=text",
                 "file=blip.wav start=20 duration=0.1", "file=hush.wav kind=silence duration=20"}),
            0);
  const auto truth = e2e::read_manifest(event_dir);
  // The odd ones among the heard ones, so that every position of the list matters.
  const std::vector<std::string> picked = {"picture.mov", "hall.wav", "notes.mov", "cam.mov",
                                           "blip.wav",    "hush.wav", "phone.mp3"};
  std::vector<std::string> argv = {BRENVIK_SYNC_EXE, "--quiet", "--no-open"};
  for (const std::string& name : picked) argv.push_back(event_dir + "/" + name);
  const int status = e2e::run_capturing(argv, dir.file("report.txt"));
  const std::string report = testing_support::read_file(dir.file("report.txt"));
  ASSERT_EQ(status, 0) << report;

  for (const e2e::FoundPair& p : e2e::parse_pairs(report)) {
    ASSERT_TRUE(truth.count(p.shorter) && truth.count(p.longer))
        << p.shorter << " <-> " << p.longer;
    const e2e::TrueFile& s = truth.at(p.shorter);
    const e2e::TrueFile& l = truth.at(p.longer);
    EXPECT_NEAR(p.offset_s, e2e::true_offset(s, l), kOffsetTolerance_s)
        << p.shorter << " <-> " << p.longer;
  }
  expect_sorted_out(dir, event_dir, truth, {"hall.wav", "cam.mov", "phone.mp3"},
                    {"picture.mov", "notes.mov", "blip.wav", "hush.wav"});
}

TEST(OddFiles, FileDeletedAfterPickingIsUnsynced) {
  TempRunDir dir;
  const std::string event_dir = dir.file("event");
  ASSERT_EQ(e2e::make_event(event_dir, {"file=hall.wav start=0 duration=45 snr=25",
                                        "file=gone.wav start=5 duration=20 snr=25",
                                        "file=phone.mp3 start=10 duration=30 filter=phone snr=15"}),
            0);
  const auto truth = e2e::read_manifest(event_dir);
  const std::string gone = event_dir + "/gone.wav";
  ASSERT_EQ(std::remove(gone.c_str()), 0);

  std::ostringstream console;
  RunResult run;
  SyncOptions options;
  options.console = &console;
  options.open_output = false;
  options.result = &run;
  const std::string result = synco({event_dir + "/hall.wav", gone, event_dir + "/phone.mp3"}, 0.99,
                                   1920, 1080, static_cast<float>(kFps), 0, options);
  EXPECT_EQ(result, "mavo");
  ASSERT_EQ(run.pairs.size(), 1u);
  EXPECT_EQ(run.pairs[0].shorter, 2);
  EXPECT_NEAR(run.pairs[0].offset, -10.0, kOffsetTolerance_s);
  EXPECT_FALSE(testing_support::file_exists(gone)) << "the run made a file under the deleted name";
  expect_sorted_out(dir, event_dir, truth, {"hall.wav", "phone.mp3"}, {"gone.wav"});
}
