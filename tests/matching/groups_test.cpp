#include "core/entries.h"
#include "core/log.h"
#include "matching/groups.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <sstream>

namespace {

using testing_support::TempRunDir;

PairResult pair(int shorter, int longer, double offset) {
  PairResult p;
  p.shorter = shorter;
  p.longer = longer;
  p.offset = offset;
  return p;
}

// Entries named by their paths, at 25 fps and 60 s unless given.
std::vector<TimelineMember> entries(const std::vector<std::string>& paths,
                                    std::vector<float> rates = {},
                                    std::vector<float> durations = {}) {
  std::vector<TimelineMember> out(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    out[i].entry = static_cast<int>(i);
    out[i].path = paths[i];
    out[i].frame_rate = i < rates.size() ? rates[i] : 25.0f;
    out[i].duration = i < durations.size() ? durations[i] : 60.0f;
  }
  return out;
}

Timeline timeline(const std::vector<PairResult>& pairs, const std::vector<TimelineMember>& list) {
  std::ostringstream text;
  ConsoleCapture capture(text);
  return build_timeline(pairs, list);
}

// Every group as (entry, start) pairs.
std::vector<std::vector<std::pair<int, double>>> starts(const Timeline& t) {
  std::vector<std::vector<std::pair<int, double>>> out;
  for (const SyncGroup& g : t.groups) {
    out.emplace_back();
    for (const TimelineMember& m : g.members) out.back().emplace_back(m.entry, m.start);
  }
  return out;
}

}  // namespace

TEST(SyncGroups, PlacesMembersOnACommonStart) {
  TempRunDir dir;
  // File 2 (shorter) hears a sound 3 s later than file 0: file 0 starts 3 s after file 2.
  using Starts = std::vector<std::vector<std::pair<int, double>>>;
  EXPECT_EQ(starts(timeline({pair(2, 0, 3.0)}, entries({"a", "b", "c"}))),
            (Starts{{{0, 3.0}, {2, 0.0}}}));
  EXPECT_EQ(starts(timeline({pair(2, 3, 1.5), pair(1, 0, 2.0)}, entries({"a", "b", "c", "d"}))),
            (Starts{{{0, 2.0}, {1, 0.0}}, {{2, 0.0}, {3, 1.5}}}));
  // (2, 3) comes before either of its files is placed; it places file 3 on a second walk.
  // File 1 starts 1 s before file 0, file 2 4 s before file 1, file 3 2 s before file 2.
  const Timeline t =
      timeline({pair(0, 1, -1), pair(2, 3, -2), pair(1, 2, -4)}, entries({"a", "b", "c", "d"}));
  EXPECT_EQ(starts(t), (Starts{{{0, 7.0}, {1, 6.0}, {2, 2.0}, {3, 0.0}}}));
  EXPECT_TRUE(t.unsynced.empty());
}

TEST(SyncGroups, ReversedDuplicatesKeepTheEarlierPair) {
  const std::vector<PairResult> clean =
      without_reversed_duplicates({pair(0, 1, 2.5), pair(2, 1, -1.25), pair(1, 0, -2.5)});
  ASSERT_EQ(clean.size(), 2u);
  EXPECT_EQ(std::make_pair(clean[0].shorter, clean[1].shorter), std::make_pair(0, 2));
}

TEST(SyncGroups, GroupsAreTheConnectedFilesAndShareNone) {
  // (6, 5), (4, 5), (6, 3): one sweep leaves column 0 in two lists.
  Eigen::MatrixXf swept = Eigen::MatrixXf::Zero(3, 3);
  swept.topRows(2) << 6, 4, 6, 5, 5, 3;
  EXPECT_EQ(grupiraj(swept), (std::vector<std::vector<int>>{{0, 1, 2}}));
  // Random pairs against a union-find: columns share a group exactly when their files connect.
  std::mt19937 rng(9);
  for (int trial = 0; trial < 300; ++trial) {
    const int files = 3 + static_cast<int>(rng() % 8), columns = 1 + static_cast<int>(rng() % 9);
    std::vector<int> root(files);
    std::iota(root.begin(), root.end(), 0);
    const auto find = [&root](int f) {
      while (root[f] != f) f = root[f];
      return f;
    };
    Eigen::MatrixXf clean = Eigen::MatrixXf::Zero(5, columns);
    for (int c = 0; c < columns; ++c) {
      const int a = static_cast<int>(rng() % files);
      const int b = (a + 1 + static_cast<int>(rng() % (files - 1))) % files;
      clean(0, c) = static_cast<float>(a), clean(1, c) = static_cast<float>(b);
      root[find(a)] = find(b);
    }
    std::vector<int> group_of(columns, -1);
    const std::vector<std::vector<int>> groups = grupiraj(clean);
    for (size_t g = 0; g < groups.size(); ++g)
      for (int c : groups[g]) {
        ASSERT_EQ(group_of[c], -1) << "trial " << trial;
        group_of[c] = static_cast<int>(g);
      }
    for (int c = 0; c < columns; ++c)
      for (int k = 0; k < columns; ++k)
        EXPECT_EQ(find(static_cast<int>(clean(0, c))) == find(static_cast<int>(clean(0, k))),
                  group_of[c] == group_of[k])
            << "trial " << trial << " columns " << c << ", " << k;
  }
}

TEST(SyncGroups, UnsyncedAreTheMediaEntriesInNoGroup) {
  TempRunDir dir;
  const Timeline t = timeline({pair(2, 0, 1.0)},
                              entries({"a.mov", kBeginMarker, "b.mov", "c.wav", kEndMarker, "d.mov"},
                                      {25, 0, 29.97f, 999, 0, 24}, {10, 0, 20, 30, 0, 40}));
  ASSERT_EQ(t.unsynced.size(), 2u);
  EXPECT_EQ(std::make_tuple(t.unsynced[0].path, t.unsynced[0].frame_rate, t.unsynced[0].duration),
            std::make_tuple(std::string("c.wav"), 999.0f, 30.0f));
  EXPECT_EQ(t.unsynced[1].entry, 5);
  EXPECT_TRUE(t.unsynced[0].audio_only());
  EXPECT_EQ(t.groups[0].members[1].path, "b.mov");
}

TEST(SyncGroups, ExactStartsFollowThePairsInDoublePrecision) {
  TempRunDir dir;
  // Offsets far beyond single precision's reach at these magnitudes (an ulp of 2000 s
  // is 0.12 ms), and a decided third pair that contradicts the two refined ones by 3 ms:
  // the exact placement follows the refined pairs' windows.
  PairResult a = pair(1, 0, -2000.000123);
  a.refined = true;
  a.drift_ppm = 4.5;
  a.windows = {{10.0, -2000.000123}};
  PairResult b = pair(2, 1, 1.000031);
  b.refined = true;
  b.windows = {{5.0, 1.000031}};
  const PairResult contradicting = pair(2, 0, -1999.003);
  const Timeline t = timeline({a, b, contradicting}, entries({"long", "mid", "short"}));
  ASSERT_EQ(t.groups.size(), 1u);
  const std::vector<TimelineMember>& m = t.groups[0].members;
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].exact_start, 0.0);
  EXPECT_NEAR(m[1].exact_start, 2000.000123, 1e-5);
  EXPECT_NEAR(m[2].exact_start, 2000.000123 - 1.000031, 1e-5);
  for (const TimelineMember& member : m) EXPECT_NEAR(member.exact_start, member.start, 0.001);

  // Each member names the pair that placed it, its drift seen from its own side.
  EXPECT_EQ(m[1].placed_by, 0);
  EXPECT_DOUBLE_EQ(m[1].drift_ppm, 4.5);
  EXPECT_TRUE(m[1].refined);
  EXPECT_EQ(m[2].placed_by, 1);
  EXPECT_TRUE(m[2].refined);
  EXPECT_EQ(m[0].placed_by, 1);
  EXPECT_DOUBLE_EQ(m[0].drift_ppm, -4.5);
}

// A pair implied by the refined ones places a member only where no refined pair reaches
// it, so that the member is placed, and reported, as measured.
TEST(SyncGroups, ImpliedPairsGiveWayToRefinedOnes) {
  TempRunDir dir;
  PairResult a = pair(1, 0, -2000.000123);
  a.refined = true;
  a.windows = {{10.0, -2000.000123}};
  PairResult b = pair(2, 1, 1.000031);
  b.refined = true;
  b.windows = {{5.0, 1.000031}};
  for (const bool implied : {false, true}) {
    PairResult c = pair(2, 0, -1999.0);
    c.implied = implied;
    const Timeline t = timeline({a, c, b}, entries({"long", "mid", "short"}));
    ASSERT_EQ(t.groups.size(), 1u);
    const TimelineMember& placed = t.groups[0].members[2];
    EXPECT_EQ(placed.placed_by, implied ? 1 : 0);
    EXPECT_EQ(placed.refined, implied);
  }
}
