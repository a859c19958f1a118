// One whole run of brenvik-sync over a generated event whose true starts are known:
// recordings from 3 s to 10 minutes, clean and noisy, loud and quiet, one with two
// files from one device, a recording from another event, and files with nothing to hear
// (no sound track, not media at all, 0.1 s, digital silence) among them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "media/media.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

using e2e::TrueFile;

namespace {

constexpr double kOffsetTolerance_s = 0.1;
constexpr double kFoundShare = 0.85;          // of the truly overlapping pairs
constexpr double kMeaningfulOverlap_s = 3.0;  // less is not demanded to be found
constexpr const char* kMainEvent = "1";

// Files that share a device label were recorded one after another on one device.
const std::vector<std::string> kDevices = {
    "file=rec.wav    device=rec   start=0       duration=600 snr=30",
    "file=cam_a.mov  device=cam_a start=95.37   duration=180 fps=25 filter=lowpass:7000 snr=20 "
    "reverb=on drift=15",
    "file=phone.mp3  device=phone start=140.25  duration=60  filter=phone snr=10 drift=-30 gain=-4",
    "file=cam_b.mov  device=cam_b start=250.8   duration=20  fps=29.97 snr=10 reverb=on",
    "file=tiny.wav   device=tiny  start=262.125 duration=3   snr=25",
    "file=zoom_1.wav device=zoom  start=150.5   duration=40  rate=44100 filter=highpass:150 snr=20 "
    "drift=35 gain=-24",
    "file=zoom_2.wav device=zoom  start=205     duration=70  rate=44100 filter=highpass:150 snr=20 "
    "drift=35 gain=-24",
    "file=other.wav  device=other event=2 start=10 duration=45 snr=25",
    "file=picture.mov kind=noaudio duration=5",
    "file=notes.mov   kind=text",
    "file=blip.wav    event=3 start=20 duration=0.1",
    "file=hush.wav    kind=silence duration=20",
};
// The file list as picked: the zoom's two files bracketed as one device.
const std::vector<std::string> kPicked = {
    "picture.mov", "rec.wav",  "cam_a.mov", "notes.mov",  "phone.mp3", "cam_b.mov", "blip.wav",
    "tiny.wav",    "--device", "zoom_1.wav", "zoom_2.wav", "--end",    "other.wav", "hush.wav"};

struct SyncRun {
  testing_support::TempRunDir dir;
  std::string event_dir;
  std::map<std::string, TrueFile> truth;
  std::map<std::string, e2e::Fingerprint> before, after;  // the event folder
  int status = -1;
  std::string report;
  std::vector<e2e::FoundPair> pairs;

  e2e::Timeline document(const char* name) const {
    return e2e::parse_timeline(testing_support::read_file(e2e::document_path(dir.path(), name)));
  }
};

// Files without sound have no event ("-" in the manifest).
bool truly_overlapping(const TrueFile& a, const TrueFile& b) {
  return a.event != "-" && a.event == b.event && a.device != b.device && e2e::overlap_s(a, b) >= kMeaningfulOverlap_s;
}

}  // namespace

class EventSync : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    run_ = std::make_unique<SyncRun>();
    SyncRun& r = *run_;
    r.event_dir = r.dir.file("event");
    ASSERT_EQ(e2e::make_event(r.event_dir, kDevices), 0);
    r.truth = e2e::read_manifest(r.event_dir);
    r.before = e2e::folder_snapshot(r.event_dir);

    std::vector<std::string> argv = {BRENVIK_SYNC_EXE, "--quiet", "--no-open"};
    for (const std::string& p : kPicked)
      argv.push_back(p.rfind("--", 0) == 0 ? p : r.event_dir + "/" + p);
    r.status = e2e::run_capturing(argv, r.dir.file("report.txt"));
    r.report = testing_support::read_file(r.dir.file("report.txt"));
    r.pairs = e2e::parse_pairs(r.report);

    r.after = e2e::folder_snapshot(r.event_dir);
  }

  static void TearDownTestSuite() { run_.reset(); }

  void SetUp() override {
    ASSERT_EQ(run_->truth.size(), kDevices.size()) << "the event was not generated";
  }

  static inline std::unique_ptr<SyncRun> run_;
};

TEST_F(EventSync, FindsOverlappingPairsAtTheirTrueOffsetsAndNoOthers) {
  const SyncRun& r = *run_;
  EXPECT_EQ(r.status, 0) << r.report;
  std::set<std::set<std::string>> found;
  int found_right = 0;
  for (const e2e::FoundPair& p : r.pairs) {
    const std::string pair = p.shorter + " <-> " + p.longer;
    ASSERT_TRUE(r.truth.count(p.shorter) && r.truth.count(p.longer)) << "unknown file in " << pair;
    EXPECT_TRUE(found.insert({p.shorter, p.longer}).second) << pair << " reported twice";
    const TrueFile& s = r.truth.at(p.shorter);
    const TrueFile& l = r.truth.at(p.longer);
    // A pair that only brushes (under 3 s in common) need not be found, but if it is,
    // its offset must be right; anything else is a false find.
    EXPECT_TRUE(s.event == l.event && s.device != l.device && e2e::overlap_s(s, l) > 0)
        << "false pair " << pair << ": events " << s.event << "/" << l.event << ", devices "
        << s.device << "/" << l.device << ", " << e2e::overlap_s(s, l) << " s in common";
    const double error_s = std::fabs(p.offset_s - e2e::true_offset(s, l));
    EXPECT_LE(error_s, kOffsetTolerance_s) << pair << ": offset " << p.offset_s << " s";
    found_right += truly_overlapping(s, l) && error_s <= kOffsetTolerance_s;
  }
  int overlapping = 0;
  for (auto a = r.truth.begin(); a != r.truth.end(); ++a)
    for (auto b = std::next(a); b != r.truth.end(); ++b) overlapping += truly_overlapping(a->second, b->second);
  // The ruler itself: the event is built so that there is something to find.
  ASSERT_EQ(overlapping, 15);
  EXPECT_GE(found_right, kFoundShare * overlapping) << r.report;
}

TEST_F(EventSync, DocumentsAreWellFormedAndPlaceEveryMemberAtItsTrueStart) {
  const SyncRun& r = *run_;
  for (const char* doc : e2e::kDocuments)
    EXPECT_TRUE(e2e::well_formed(e2e::document_path(r.dir.path(), doc))) << doc;
  // Every file of a pair found in sync must be on a timeline.
  std::set<std::string> paired;
  for (const e2e::FoundPair& p : r.pairs) paired.insert({p.shorter, p.longer});

  for (const char* doc : {"SYNCED_fcp.XML", "SYNCED_premierePro.XML"}) {
    SCOPED_TRACE(doc);
    const e2e::Timeline t = r.document(doc);
    ASSERT_FALSE(t.sequences.empty());
    const auto sequences = e2e::member_starts(t, 25.0);  // brenvik-sync's default frame rate
    std::set<std::string> members;
    for (size_t q = 0; q < sequences.size(); ++q) {
      const e2e::Sequence& seq = t.sequences[q];
      ASSERT_EQ(sequences[q].size(), seq.audio.size()) << "a file twice in sequence " << q;
      // A picture must sit where its own sound sits.
      for (const e2e::ClipItem& v : seq.video) {
        EXPECT_TRUE(std::any_of(
            seq.audio.begin(), seq.audio.end(),
            [&](const e2e::ClipItem& a) { return a.file_id == v.file_id && a.start == v.start; }))
            << "video of " << t.path_of(v.file_id) << " at frame " << v.start;
      }
      const TrueFile* first = nullptr;  // the earliest member that belongs to the event
      for (const auto& [name, at] : sequences[q]) {
        ASSERT_TRUE(r.truth.count(name)) << "sequence " << q << " places unknown \"" << name << "\"";
        EXPECT_TRUE(members.insert(name).second) << name << " placed twice";
        const TrueFile& f = r.truth.at(name);
        EXPECT_EQ(f.event, kMainEvent) << name << " is placed in sequence " << q << " at " << at;
        if (f.event == kMainEvent && (!first || at < sequences[q].at(first->name))) first = &f;
      }
      for (const auto& [name, at] : sequences[q]) {
        const TrueFile& f = r.truth.at(name);
        if (f.event != kMainEvent) continue;
        EXPECT_NEAR(at - sequences[q].at(first->name), f.start_s - first->start_s,
                    kOffsetTolerance_s)
            << name << " placed against " << first->name;
      }
    }
    for (const std::string& name : paired)
      EXPECT_TRUE(members.count(name)) << name << " is paired but not placed";
  }
  // The recording of another event and the files with nothing to hear belong to no group.
  for (const char* doc : e2e::kDocuments) {
    const bool unsynced = std::string(doc).rfind("UNSYNCED", 0) == 0;
    for (const auto& [name, f] : r.truth) {
      if (f.event == kMainEvent) continue;
      EXPECT_EQ(r.document(doc).names_file(name), unsynced) << doc << " " << name;
    }
  }
  // The Final Cut Pro clip names are the full paths as picked.
  for (const e2e::MasterClip& c : r.document("UNSYNCED_fcp.XML").clips)
    EXPECT_EQ(c.name, c.path);
}

// Where they place the event's files is measured on a cleaner event (timeline placement);
// here: every file lands in the right one of the two, once.
TEST_F(EventSync, NewerTimelinesAreValidAndKeepOtherEventsOut) {
  const SyncRun& r = *run_;
  const auto path = [&](const char* name) { return e2e::document_path(r.dir.path(), name); };
  for (const char* doc : {"SYNCED.mlt", "UNSYNCED.mlt", "SYNCED.fcpxml", "UNSYNCED.fcpxml"})
    EXPECT_TRUE(e2e::well_formed(path(doc))) << doc;
  std::map<std::string, std::string> where;  // sound of a file → the document it is in
  for (const char* doc : {"SYNCED.otio", "UNSYNCED.otio"}) {
    std::vector<std::vector<e2e::PlacedClip>> timelines;
    ASSERT_NO_THROW(timelines = e2e::otio_placements(testing_support::read_file(path(doc))));
    for (const auto& timeline : timelines)
      for (const e2e::PlacedClip& c : timeline)
        EXPECT_TRUE(c.video || where.emplace(c.file, doc).second) << c.file << " twice";
  }
  std::set<std::string> paired;
  for (const e2e::FoundPair& p : r.pairs) paired.insert({p.shorter, p.longer});
  for (const auto& [name, f] : r.truth) {
    const bool elsewhere = f.event != kMainEvent && f.event != "-";
    if (elsewhere || paired.count(name)) {
      EXPECT_EQ(where[name], elsewhere ? "UNSYNCED.otio" : "SYNCED.otio") << name;
    }
  }
}

TEST_F(EventSync, LeavesSourcesUntouchedAndNoAnalysisWavBehind) {
  const SyncRun& r = *run_;
  // Nothing changed, removed or added next to the sources.
  for (const auto& [name, f] : r.before) {
    EXPECT_TRUE(r.after.count(name) && f == r.after.at(name)) << name << " changed or gone";
  }
  EXPECT_EQ(r.after.size(), r.before.size());
  for (const std::string& name : e2e::folder_listing(r.dir.path()))
    EXPECT_EQ(name.find(kAnalysisSuffix), std::string::npos) << name;
}
