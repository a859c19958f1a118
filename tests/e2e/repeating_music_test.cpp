// A whole run over music built of one 4 s phrase played over and over, the room a quarter
// as loud over it: every offset a phrase apart lines the music up alike, and only the
// room tells the true one. A clip and a phone that never meet hear the same phrase, and
// so does a file of another event with its own room.

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace {

const std::vector<std::string> kDevices = {
    "file=rec.wav   device=rec   start=0     duration=150 snr=25 loop=4",
    "file=cam.mov   device=cam   start=20.3  duration=60  fps=25 picture=color snr=15 reverb=on",
    "file=phone.m4a device=phone start=100.7 duration=40  filter=phone snr=10 drift=-20",
    "file=clip.wav  device=clip  start=70.2  duration=8   snr=20",
    "file=other.wav device=other event=2 start=0 duration=30 snr=20 loop=4",
};

}  // namespace

TEST(RepeatingMusic, EveryPairAtItsTrueOffsetAndNoPairOfFilesThatNeverMeet) {
  const auto run = e2e::sync_event(kDevices);
  ASSERT_EQ(run->status, 0) << run->report;
  std::set<std::set<std::string>> found;
  for (const e2e::FoundPair& p : e2e::parse_pairs(run->report)) {
    ASSERT_TRUE(run->truth.count(p.shorter) && run->truth.count(p.longer)) << run->report;
    const e2e::TrueFile& s = run->truth.at(p.shorter);
    const e2e::TrueFile& l = run->truth.at(p.longer);
    ASSERT_TRUE(s.event == l.event && e2e::overlap_s(s, l) > 0)
        << "false pair " << p.shorter << " <-> " << p.longer << "\n" << run->report;
    // A phrase off would be 4 s; refined pairs are within a millisecond.
    EXPECT_NEAR(p.offset_s, e2e::true_offset(s, l), 0.001) << p.shorter << " <-> " << p.longer;
    found.insert({p.shorter, p.longer});
  }
  const std::set<std::set<std::string>> meeting = {
      {"rec.wav", "cam.mov"}, {"rec.wav", "phone.m4a"}, {"rec.wav", "clip.wav"}, {"cam.mov", "clip.wav"}};
  EXPECT_EQ(found, meeting) << run->report;
}
