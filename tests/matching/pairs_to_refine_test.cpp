#include "matching/pairs_to_refine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

// An event whose files start at `starts` (seconds) and last `lengths`; every pair given
// is in sync at its true offset plus the decision's early `error`.
struct Event {
  std::vector<double> starts;
  std::vector<float> lengths;
  std::vector<PairVerdict> verdicts;
  std::vector<bool> tried;

  double truth(int shorter, int longer) const {
    return starts[static_cast<std::size_t>(longer)] - starts[static_cast<std::size_t>(shorter)];
  }
  void pair(int shorter, int longer, double error = -0.04) {
    PairVerdict v;
    v.shorter = v.result.shorter = shorter;
    v.longer = v.result.longer = longer;
    v.judged = v.in_sync = true;
    v.result.offset = truth(shorter, longer) + error;
    verdicts.push_back(v);
    tried.push_back(false);
  }
  // Refines what pairs_to_refine asks for: each lands on its truth unless it is in `fail`.
  std::vector<std::size_t> refine_round(const std::set<std::size_t>& fail = {}) {
    const std::vector<std::size_t> next = pairs_to_refine(verdicts, lengths, tried);
    for (std::size_t k : next) {
      tried[k] = true;
      PairResult& r = verdicts[k].result;
      r.refined = !fail.count(k);
      if (r.refined) r.offset = truth(r.shorter, r.longer);
    }
    return next;
  }
  int refined_pairs_of(int file) const {
    int n = 0;
    for (const PairVerdict& v : verdicts) n += v.result.refined && (v.shorter == file || v.longer == file);
    return n;
  }
};

// A recorder over the whole event and `phones` clips of 100 s that all film the same minutes.
Event crowd(int phones) {
  Event e;
  e.starts = {0.0};
  e.lengths = {3600.0f};
  for (int p = 1; p <= phones; ++p) {
    e.starts.push_back(600.0 + 7.0 * p);
    e.lengths.push_back(100.0f);
  }
  for (int p = 1; p <= phones; ++p) {
    e.pair(p, 0);
    for (int q = p + 1; q <= phones; ++q) e.pair(q, p);
  }
  return e;
}

}  // namespace

TEST(PairsToRefine, EveryPairOfASmallEventIsRefined) {
  Event e = crowd(3);  // no file has more than three partners
  EXPECT_EQ(e.refine_round().size(), e.verdicts.size());
  EXPECT_TRUE(e.refine_round().empty());
  mark_implied(e.verdicts, e.lengths.size(), e.tried);
  for (const PairVerdict& v : e.verdicts) EXPECT_FALSE(v.result.implied);
}

// Twelve phones that meet each other and the recorder: each file gets its few refined
// pairs, those sharing the most sound, and the rest are implied by them.
TEST(PairsToRefine, ACrowdOfClipsRefinesAFewPairsPerFileAndImpliesTheRest) {
  Event e = crowd(12);
  const std::vector<std::size_t> first = e.refine_round();
  EXPECT_LT(first.size(), e.verdicts.size() / 2);
  EXPECT_TRUE(e.refine_round().empty()) << "all placed, all within reach";
  for (int f = 0; f <= 12; ++f) EXPECT_GE(e.refined_pairs_of(f), kRefinedPairsPerFile) << "file " << f;
  // The recorder shares a phone's whole 100 s, its neighbours less: it is among each one's.
  for (std::size_t k = 0; k < e.verdicts.size(); ++k) {
    if (e.verdicts[k].longer == 0) {
      EXPECT_TRUE(e.tried[k]) << e.verdicts[k].shorter;
    }
  }
  mark_implied(e.verdicts, e.lengths.size(), e.tried);
  int implied = 0;
  for (const PairVerdict& v : e.verdicts) {
    EXPECT_NE(v.result.implied, v.result.refined);
    if (!v.result.implied) continue;
    ++implied;
    EXPECT_EQ(v.refinement.rfind("not refined: refined pairs place its files -40.0 ms from offset ", 0), 0u)
        << v.refinement;
  }
  EXPECT_EQ(implied, static_cast<int>(e.verdicts.size() - first.size()));
}

// What the refined pairs cannot vouch for is refined as well: a pair they place a second
// away from its decided offset, the next best pairs of a file whose first ones failed, and
// the best pair between two crowds that nothing else joins.
TEST(PairsToRefine, WhatTheRefinedPairsCannotVouchForIsRefinedToo) {
  Event e = crowd(12);
  std::size_t far = 0;
  for (std::size_t k = 0; k < e.verdicts.size(); ++k)
    if (e.verdicts[k].shorter == 12 && e.verdicts[k].longer == 1) far = k;
  e.verdicts[far].result.offset += 1.0;
  // Phone 5's pairs all fail at first.
  std::set<std::size_t> fail;
  for (std::size_t k = 0; k < e.verdicts.size(); ++k)
    if (e.verdicts[k].shorter == 5 || e.verdicts[k].longer == 5) fail.insert(k);
  const std::vector<std::size_t> first = e.refine_round(fail);
  ASSERT_EQ(std::count(first.begin(), first.end(), far), 0) << "not among the first";
  const std::vector<std::size_t> second = e.refine_round();
  EXPECT_EQ(std::count(second.begin(), second.end(), far), 1);
  EXPECT_TRUE(e.refine_round().empty());
  EXPECT_GE(e.refined_pairs_of(5), kRefinedPairsPerFile);

  // Two crowds of five, one after the other, that meet for 8 s (files 4 and 5) and 4 s
  // (files 3 and 6): the longer meeting is refined with the first pairs, and the other
  // only if that one fails.
  for (const bool first_fails : {false, true}) {
    Event two;
    for (int f = 0; f < 10; ++f) {
      two.starts.push_back(f < 5 ? 100.0 + 2 * f : 150.0 + 2 * f);
      two.lengths.push_back(60.0f);
    }
    for (int a = 0; a < 10; ++a)
      for (int b = a + 1; b < 10; ++b)
        if ((a < 5) == (b < 5)) two.pair(b, a);
    two.pair(5, 4);
    two.pair(6, 3);
    const std::size_t best = two.verdicts.size() - 2, other = best + 1;
    const std::vector<std::size_t> first = two.refine_round(first_fails ? std::set<std::size_t>{best} : std::set<std::size_t>{});
    EXPECT_EQ(std::count(first.begin(), first.end(), best), 1);
    EXPECT_EQ(std::count(first.begin(), first.end(), other), 0);
    EXPECT_EQ(two.refine_round(), first_fails ? std::vector<std::size_t>{other} : std::vector<std::size_t>{});
    EXPECT_TRUE(two.refine_round().empty());
  }
}
