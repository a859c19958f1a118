#include "matching/device_clocks.h"
#include "matching/groups.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// One recording of a generated event: where it starts in event time, how long, and how
// fast its device's clock runs.
struct Truth {
  int device;
  double start;
  double duration;  // event seconds
  double ppm;
  bool video;
};

// A reference recorder, a drifting camera, a second camera in two files, a phone.
const std::vector<Truth> kEvent = {
    {0, 0.0, 2400.0, 0.0, false},      {1, 120.25, 2100.0, 100.0, true},
    {2, 60.5, 1200.0, -60.0, true},    {2, 1290.75, 1080.0, -60.0, true},
    {4, 900.5, 1200.0, -100.0, false},
};

SyncGroup group_of(const std::vector<Truth>& event) {
  SyncGroup g;
  for (std::size_t i = 0; i < event.size(); ++i) {
    TimelineMember m;
    m.entry = static_cast<int>(i);
    m.path = "/media/file" + std::to_string(i);
    m.device = event[i].device;
    m.frame_rate = event[i].video ? 25.0f : 999.0f;
    m.length = event[i].duration * (1.0 + event[i].ppm * 1e-6);
    g.members.push_back(m);
  }
  return g;
}

// Every pair of files of different devices that share sound, measured as the refinement
// measures it: six windows over the overlap, each a little noisy.
std::vector<PairResult> measured_pairs(const std::vector<Truth>& event) {
  std::mt19937 noise_source(7);
  std::normal_distribution<double> noise(0.0, 0.00005);
  std::vector<PairResult> pairs;
  for (std::size_t a = 0; a < event.size(); ++a) {
    for (std::size_t b = a + 1; b < event.size(); ++b) {
      const Truth& s = event[a];
      const Truth& l = event[b];
      const double from = std::max(s.start, l.start);
      const double to = std::min(s.start + s.duration, l.start + l.duration);
      if (s.device == l.device || to - from < 60.0) continue;
      PairResult p;
      p.shorter = static_cast<int>(a);
      p.longer = static_cast<int>(b);
      p.refined = true;
      for (int k = 0; k < 6; ++k) {
        const double e = from + 7.5 + k * (to - from - 15.0) / 5.0;
        const double ts = (e - s.start) * (1.0 + s.ppm * 1e-6);
        const double tl = (e - l.start) * (1.0 + l.ppm * 1e-6);
        p.windows.push_back({ts, ts - tl + noise(noise_source)});
      }
      p.offset = p.windows.front().offset;
      pairs.push_back(p);
    }
  }
  return pairs;
}

// The timeline runs on the reference device's clock: event time scaled by its rate.
void expect_placed_by_truth(const SyncGroup& g, const std::vector<Truth>& event, double reference_ppm) {
  for (const TimelineMember& m : g.members) {
    const Truth& t = event[static_cast<std::size_t>(m.entry)];
    EXPECT_NEAR(m.exact_start, t.start * (1.0 + reference_ppm * 1e-6), 0.0001) << m.path;
    EXPECT_NEAR(m.rate_ppm, ((1.0 + t.ppm * 1e-6) / (1.0 + reference_ppm * 1e-6) - 1.0) * 1e6, 0.05)
        << m.path;
  }
}

TEST(DeviceClocks, EveryDeviceGetsOneRateAgainstTheCameraWithTheMostVideo) {
  SyncGroup g = group_of(kEvent);
  const std::vector<PairResult> pairs = measured_pairs(kEvent);
  ASSERT_TRUE(solve_device_clocks(g, pairs));

  // The camera in two files has more video than the other one; both its files share it.
  ASSERT_EQ(g.clocks.size(), 4u);
  for (const DeviceClock& c : g.clocks) EXPECT_EQ(c.reference, c.device == 2);
  EXPECT_TRUE(g.members[2].reference_clock && g.members[3].reference_clock);
  EXPECT_FALSE(g.members[0].reference_clock);
  expect_placed_by_truth(g, kEvent, -60.0);
  EXPECT_TRUE(g.dropped.empty());
  for (const DeviceClock& c : g.clocks) {
    EXPECT_LT(c.residual_ms, 0.2);
    EXPECT_GT(c.pairs, 0);
  }
  const std::vector<std::string> log = clock_log_lines(g);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_NE(log[2].find("(reference)"), std::string::npos) << log[2];

  // Without video the longest recording leads.
  std::vector<Truth> sound_only = kEvent;
  for (Truth& t : sound_only) t.video = false;
  SyncGroup h = group_of(sound_only);
  ASSERT_TRUE(solve_device_clocks(h, measured_pairs(sound_only)));
  expect_placed_by_truth(h, sound_only, 0.0);
}

TEST(DeviceClocks, APairThatContradictsTheOthersIsLeftOutUnlessItAloneLinksAFile) {
  SyncGroup g = group_of(kEvent);
  std::vector<PairResult> pairs = measured_pairs(kEvent);
  // The camera against the phone, 40 ms out everywhere.
  const auto wrong = std::find_if(pairs.begin(), pairs.end(),
                                  [](const PairResult& p) { return p.shorter == 1 && p.longer == 4; });
  ASSERT_NE(wrong, pairs.end());
  for (OffsetSample& w : wrong->windows) w.offset += 0.040;
  ASSERT_TRUE(solve_device_clocks(g, pairs));
  ASSERT_EQ(g.dropped.size(), 1u);
  EXPECT_EQ(g.dropped[0].shorter, 1);
  EXPECT_EQ(g.dropped[0].longer, 4);
  EXPECT_NEAR(g.dropped[0].disagreement_ms, 40.0, 1.0);
  expect_placed_by_truth(g, kEvent, -60.0);
  const std::vector<std::string> log = clock_log_lines(g);
  EXPECT_NE(log.back().find("file1 <-> file4 left out"), std::string::npos) << log.back();

  // A file linked by that pair alone is placed by it: nothing contradicts it.
  std::vector<Truth> event = {kEvent[0], kEvent[1], kEvent[4]};
  std::vector<PairResult> chain = measured_pairs(event);
  chain.erase(std::remove_if(chain.begin(), chain.end(),
                             [](const PairResult& p) { return p.shorter == 0 && p.longer == 2; }),
              chain.end());
  for (PairResult& p : chain)
    if (p.longer == 2)
      for (OffsetSample& w : p.windows) w.offset += 0.040;
  SyncGroup h = group_of(event);
  ASSERT_TRUE(solve_device_clocks(h, chain));
  EXPECT_TRUE(h.dropped.empty());
  EXPECT_NEAR(h.members[2].exact_start - h.members[1].exact_start,
              (event[2].start - event[1].start) * (1.0 + event[1].ppm * 1e-6) + 0.040, 0.0002);
}

}  // namespace

// The documents that place by links take a member that only a left-out pair linked where
// the clocks put it; the others keep their linked start.
TEST(DeviceClocks, AMemberLinkedByAPairLeftOutStartsWhereTheClocksPutIt) {
  std::vector<PairResult> pairs = measured_pairs(kEvent);
  const auto wrong = std::find_if(pairs.begin(), pairs.end(),
                                  [](const PairResult& p) { return p.shorter == 1 && p.longer == 4; });
  ASSERT_NE(wrong, pairs.end());
  for (OffsetSample& w : wrong->windows) w.offset += 20.0;  // music that came back 20 s later
  wrong->offset += 20.0;
  std::rotate(pairs.begin(), wrong, wrong + 1);  // linked first, so it places the phone
  Timeline t = build_timeline(pairs, group_of(kEvent).members);
  ASSERT_EQ(t.groups.size(), 1u);
  const auto start_of = [&](int entry) {
    for (const TimelineMember& m : t.groups[0].members)
      if (m.entry == entry) return m.start;
    return -1.0;
  };
  const double linked_camera = start_of(1) - start_of(0);
  EXPECT_GT(std::abs(start_of(4) - start_of(0) - kEvent[4].start), 10.0);
  solve_clocks(t, pairs);
  ASSERT_EQ(t.groups[0].dropped.size(), 1u);
  EXPECT_NEAR(start_of(4) - start_of(0), kEvent[4].start, 0.1);  // the clocks' rates aside
  EXPECT_EQ(start_of(1) - start_of(0), linked_camera);
}
