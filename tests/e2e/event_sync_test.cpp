// One whole run of brenvik-sync over a generated event whose true starts are known:
// recordings from 3 s to 10 minutes, clean and noisy, loud and quiet, one with two
// files from one device, and a recording from another event.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "media/devicegroups.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

using e2e::TrueFile;

namespace {

constexpr double kOffsetTolerance_s = 0.1;
constexpr double kFoundShare = 0.85;          // of the truly overlapping pairs
constexpr double kMeaningfulOverlap_s = 3.0;  // less is not demanded to be found
constexpr double kFps = 25.0;                 // brenvik-sync's default frame rate
constexpr const char* kAnalysisSuffix = "_temporary_file_to_be_deleted.wav";
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
};
// The file list as picked: the zoom's two files bracketed as one device.
const std::vector<std::string> kPicked = {"rec.wav",  "cam_a.mov", "phone.mp3",  "cam_b.mov",
                                          "tiny.wav", "--device",  "zoom_1.wav", "zoom_2.wav",
                                          "--end",    "other.wav"};

const char* const kDocuments[] = {"SYNCED_fcp.XML", "UNSYNCED_fcp.XML", "SYNCED_premierePro.XML",
                                  "UNSYNCED_premierePro.XML"};

struct SyncRun {
  testing_support::TempRunDir dir;
  std::string event_dir;
  std::map<std::string, TrueFile> truth;
  std::map<std::string, e2e::Fingerprint> before, after;
  std::vector<std::string> listing_before, listing_after;
  int status = -1;
  std::string report;
  std::vector<e2e::FoundPair> pairs;

  std::string document(const char* name) const {
    return testing_support::read_file(dir.file(std::string("Brenvik.app/SYNCED/") + name));
  }
};

bool truly_overlapping(const TrueFile& a, const TrueFile& b) {
  return a.event == b.event && a.device != b.device && e2e::overlap_s(a, b) >= kMeaningfulOverlap_s;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

class EventSync : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    run_ = new SyncRun;
    SyncRun& r = *run_;
    r.event_dir = r.dir.file("event");
    ASSERT_EQ(e2e::make_event(r.event_dir, kDevices), 0);
    r.truth = e2e::read_manifest(r.event_dir);
    ASSERT_EQ(r.truth.size(), kDevices.size());
    for (const auto& [name, f] : r.truth)
      r.before[name] = e2e::file_fingerprint(r.event_dir + "/" + name);
    r.listing_before = e2e::folder_listing(r.event_dir);

    std::vector<std::string> argv = {BRENVIK_SYNC_EXE, "--quiet", "--no-open"};
    for (const std::string& p : kPicked)
      argv.push_back(p.rfind("--", 0) == 0 ? p : r.event_dir + "/" + p);
    r.status = e2e::run_capturing(argv, r.dir.file("report.txt"));
    r.report = testing_support::read_file(r.dir.file("report.txt"));
    r.pairs = e2e::parse_pairs(r.report);

    for (const auto& [name, f] : r.truth)
      r.after[name] = e2e::file_fingerprint(r.event_dir + "/" + name);
    r.listing_after = e2e::folder_listing(r.event_dir);
  }

  static void TearDownTestSuite() {
    delete run_;
    run_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(run_, nullptr);
    ASSERT_EQ(run_->truth.size(), kDevices.size()) << "the event was not generated";
  }

  static SyncRun* run_;
};

SyncRun* EventSync::run_ = nullptr;

TEST_F(EventSync, FindsOverlappingPairsAtTheirTrueOffsetsAndNoOthers) {
  const SyncRun& r = *run_;
  EXPECT_EQ(r.status, 0) << r.report;

  std::set<std::set<std::string>> found;
  double worst_error_s = 0;
  for (const e2e::FoundPair& p : r.pairs) {
    const std::string pair = p.shorter + " <-> " + p.longer;
    ASSERT_TRUE(r.truth.count(p.shorter) && r.truth.count(p.longer)) << "unknown file in " << pair;
    EXPECT_TRUE(found.insert({p.shorter, p.longer}).second) << pair << " reported twice";
    const TrueFile& s = r.truth.at(p.shorter);
    const TrueFile& l = r.truth.at(p.longer);
    // A pair that only brushes (under 3 s in common) need not be found, but if it is,
    // its offset must be right; anything else is a false find.
    if (s.event != l.event || s.device == l.device || e2e::overlap_s(s, l) <= 0) {
      ADD_FAILURE() << "false pair " << pair << " at offset " << p.offset_s << " s: events "
                    << s.event << "/" << l.event << ", devices " << s.device << "/" << l.device
                    << ", " << e2e::overlap_s(s, l) << " s in common";
      continue;
    }
    const double error_s = p.offset_s - e2e::true_offset(s, l);
    worst_error_s = std::max(worst_error_s, std::fabs(error_s));
    EXPECT_LE(std::fabs(error_s), kOffsetTolerance_s)
        << pair << ": offset " << p.offset_s << " s, truly " << e2e::true_offset(s, l) << " s";
  }

  int overlapping = 0, found_right = 0;
  for (auto a = r.truth.begin(); a != r.truth.end(); ++a) {
    for (auto b = std::next(a); b != r.truth.end(); ++b) {
      if (!truly_overlapping(a->second, b->second)) continue;
      ++overlapping;
      const auto hit = std::find_if(r.pairs.begin(), r.pairs.end(), [&](const e2e::FoundPair& p) {
        return std::set<std::string>{p.shorter, p.longer} ==
               std::set<std::string>{a->first, b->first};
      });
      if (hit == r.pairs.end()) continue;
      const TrueFile& s = r.truth.at(hit->shorter);
      const TrueFile& l = r.truth.at(hit->longer);
      if (std::fabs(hit->offset_s - e2e::true_offset(s, l)) <= kOffsetTolerance_s) ++found_right;
    }
  }
  // The ruler itself: the event is built so that there is something to find.
  ASSERT_EQ(overlapping, 15);
  EXPECT_GE(found_right, kFoundShare * overlapping) << r.report;
  std::cout << "found " << found_right << " of " << overlapping << " truly overlapping pairs, "
            << r.pairs.size() << " pairs in all; largest offset error " << worst_error_s << " s\n";
}

TEST_F(EventSync, DocumentsAreWellFormedAndPlaceEveryMemberAtItsTrueStart) {
  const SyncRun& r = *run_;
  for (const char* doc : kDocuments) {
    EXPECT_TRUE(e2e::well_formed(r.dir.file(std::string("Brenvik.app/SYNCED/") + doc))) << doc;
  }

  // Every file of a pair found in sync must be on a timeline.
  std::set<std::string> paired;
  for (const e2e::FoundPair& p : r.pairs) paired.insert({p.shorter, p.longer});

  for (const char* doc : {"SYNCED_fcp.XML", "SYNCED_premierePro.XML"}) {
    SCOPED_TRACE(doc);
    const e2e::Timeline t = e2e::parse_timeline(r.document(doc));
    ASSERT_FALSE(t.sequences.empty());
    for (const e2e::Sequence& seq : t.sequences) {
      // A picture must sit where its own sound sits.
      for (const e2e::ClipItem& v : seq.video) {
        EXPECT_TRUE(std::any_of(
            seq.audio.begin(), seq.audio.end(),
            [&](const e2e::ClipItem& a) { return a.file_id == v.file_id && a.start == v.start; }))
            << "video of " << t.path_of(v.file_id) << " at frame " << v.start;
      }
    }
    const auto sequences = e2e::member_starts(t, kFps);
    std::set<std::string> members;
    double worst_error_s = 0;
    for (size_t q = 0; q < sequences.size(); ++q) {
      ASSERT_EQ(sequences[q].size(), t.sequences[q].audio.size())
          << "a file twice in sequence " << q;
      const TrueFile* first = nullptr;  // the earliest member that belongs to the event
      for (const auto& [name, at] : sequences[q]) {
        ASSERT_TRUE(r.truth.count(name))
            << "sequence " << q << " places an unknown file \"" << name << "\"";
        EXPECT_TRUE(members.insert(name).second) << name << " placed twice";
        const TrueFile& f = r.truth.at(name);
        if (f.event != kMainEvent) {
          ADD_FAILURE() << name << " from event " << f.event << " is placed in sequence " << q
                        << " at " << at << " s";
        } else if (!first || at < sequences[q].at(first->name)) {
          first = &f;
        }
      }
      if (!first) continue;
      for (const auto& [name, at] : sequences[q]) {
        const TrueFile& f = r.truth.at(name);
        if (f.event != kMainEvent) continue;
        const double placed_s = at - sequences[q].at(first->name);
        const double error_s = placed_s - (f.start_s - first->start_s);
        worst_error_s = std::max(worst_error_s, std::fabs(error_s));
        EXPECT_LE(std::fabs(error_s), kOffsetTolerance_s)
            << name << " placed " << placed_s << " s after " << first->name << ", truly "
            << f.start_s - first->start_s << " s";
      }
    }
    for (const std::string& name : paired)
      EXPECT_TRUE(members.count(name)) << name << " is paired but not placed";
    std::cout << doc << ": " << members.size() << " members in " << t.sequences.size()
              << " sequence(s), largest placement error " << worst_error_s << " s\n";
  }

  // The recording of another event belongs to no group.
  for (const char* doc : {"UNSYNCED_fcp.XML", "UNSYNCED_premierePro.XML"}) {
    EXPECT_TRUE(e2e::parse_timeline(r.document(doc)).names_file("other.wav")) << doc;
  }
  for (const char* doc : {"SYNCED_fcp.XML", "SYNCED_premierePro.XML"}) {
    EXPECT_FALSE(e2e::parse_timeline(r.document(doc)).names_file("other.wav")) << doc;
  }
  // The Final Cut Pro clip names are the full paths as picked.
  const e2e::Timeline unsynced = e2e::parse_timeline(r.document("UNSYNCED_fcp.XML"));
  for (const e2e::MasterClip& c : unsynced.clips) EXPECT_EQ(c.name, c.path);
}

TEST_F(EventSync, LeavesSourcesUntouchedAndLogsItsStagesInOrder) {
  const SyncRun& r = *run_;
  EXPECT_EQ(r.status, 0);
  for (const auto& [name, f] : r.before) {
    EXPECT_TRUE(f == r.after.at(name))
        << name << " changed: " << f.size << " bytes before, " << r.after.at(name).size << " after";
  }
  // No analysis WAV remains, next to the sources or anywhere else in the run folder.
  EXPECT_EQ(r.listing_after, r.listing_before);
  for (const std::string& dir : {r.event_dir, r.dir.path()}) {
    for (const std::string& name : e2e::folder_listing(dir)) {
      EXPECT_EQ(name.find(kAnalysisSuffix), std::string::npos) << dir << "/" << name;
    }
  }

  const std::vector<std::string> log = lines_of(r.dir.log_text());
  auto positions = [&](const std::string& text) {
    std::vector<size_t> at;
    for (size_t i = 0; i < log.size(); ++i)
      if (log[i] == text) at.push_back(i);
    return at;
  };
  const std::vector<std::string> stages = {
      "pocetok na sync c kernel....",
      "pred ffmpeg..",
      "posle ffmpeg..",
      "fahlovite se resemplirani vo 8000hz -------------------------",
      "PRED PROVERI ALL MNOGU BITNO!!!!!!!!!!!!!!!  -------------------------",
      "POSLE PROVERI ALL MNOGU BITNO!!!!!!!!!!!!!!!  -------------------------",
      "posle csvwrite...",
      "pred polnenje na indeksi...",
  };
  std::map<std::string, size_t> at;
  for (const std::string& s : stages) {
    const std::vector<size_t> found = positions(s);
    ASSERT_EQ(found.size(), 1u) << "\"" << s << "\" in the log " << found.size() << " times";
    at[s] = found[0];
  }
  for (size_t i = 1; i < stages.size(); ++i) {
    EXPECT_LT(at[stages[i - 1]], at[stages[i]])
        << "\"" << stages[i - 1] << "\" after \"" << stages[i] << "\"";
  }

  // The analysis names, in the order picked, markers included, right after their heading.
  const size_t heading = at[stages[3]];
  ASSERT_GT(log.size(), heading + kPicked.size());
  for (size_t i = 0; i < kPicked.size(); ++i) {
    const std::string entry = kPicked[i] == "--device" ? kBeginMarker
                              : kPicked[i] == "--end"  ? kEndMarker
                                                       : r.event_dir + "/" + kPicked[i];
    EXPECT_EQ(log[heading + 1 + i], entry + kAnalysisSuffix);
  }
  // One fingerprint stage line per entry, all between the transcoding and the matching.
  const std::vector<size_t> fingerprinted = positions("687");
  ASSERT_EQ(fingerprinted.size(), kPicked.size());
  EXPECT_GT(fingerprinted.front(), heading);
  EXPECT_LT(fingerprinted.back(), at[stages[4]]);
}
