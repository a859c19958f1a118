#include "core/composeints.h"
#include "core/log.h"
#include "matching/match.h"
#include "matching/offset_decision.h"
#include "matching/refine.h"
#include "tools/synthetic_landmarks.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <sstream>

void PrintTo(const OffsetSummary& s, std::ostream* out) {
  *out << s.offset << "*" << s.sections << "*" << s.most_hit_offset << "*" << s.most_hits << "*"
       << s.hits << "*" << s.range << "*" << s.score;
}

namespace {

using testing_support::TempRunDir;

constexpr std::uint64_t kHead = 9999999;

std::uint64_t word(std::uint64_t section, std::uint64_t code, std::uint64_t longer = 0,
                   std::uint64_t shorter = 1) {
  return composeints::composeInts3(section, longer, shorter, code);
}

// A summary by its fields in finalcut's order.
OffsetSummary summary_of(float offset, int sections, float most_hit_offset, int most_hits, int hits,
                         std::uint64_t range, int score) {
  return {offset, sections, most_hit_offset, most_hits, hits, range, score};
}

// The offset summary computed the plain way: every candidate against the whole list.
OffsetSummary plain_finalcut(MatchList M) {
  std::sort(M.begin(), M.end());
  const auto code = [](std::uint64_t x) { return static_cast<int>(x % 1000000); };
  MatchList U = M;
  U.erase(std::unique(U.begin(), U.end()), U.end());
  std::vector<int> codes;
  for (std::size_t k = 0; k + 1 < U.size(); ++k) codes.push_back(code(U[k]));
  std::sort(codes.rbegin(), codes.rend());
  std::vector<int> candidates;
  for (std::size_t k = 1; k < codes.size(); ++k)
    if (codes[k] <= codes[k - 1] - 2) candidates.push_back(codes[k]);
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

  int best = 99999999, best_hits = 1, best_sections = 1, best_score = 1, most = 1, most_code = 1;
  long long best_range = 1;
  for (int c : candidates) {
    int score = 0, hits = 0;
    std::set<std::uint64_t> sections;
    for (std::size_t r = 0; r + 2 < M.size(); ++r) {
      const int d0 = std::abs(c - code(M[r])), d1 = std::abs(c - code(M[r + 1])),
                d2 = std::abs(c - code(M[r + 2]));
      const std::uint64_t s = M[r] / 1000000000000u;
      if (d0 <= 2 && d1 <= 2 && d2 <= 2) sections.insert(s), score += 200, hits += 3;
      if (d0 <= 4 && d1 <= 4 && d2 <= 4) sections.insert(s), score += 100, hits += 3;
      if (d0 <= 4 && d1 <= 4) sections.insert(s), score += 30, hits += 2;
      if (d0 <= 1) hits += 1;
      if (d0 == 0) sections.insert(s), hits += 1;
    }
    const int count = static_cast<int>(sections.size());
    const long long range =
        sections.empty() ? 0 : static_cast<long long>(*sections.rbegin() - *sections.begin());
    if (count > best_sections && score > best_score &&
        (range > best_range || (best != 99999999 && range == best_range)))
      best = c, best_hits = hits, best_sections = count, best_score = score, best_range = range;
    if (hits > most) most = hits, most_code = c;
  }
  if (best == 99999999) return OffsetSummary{};
  if (most <= 2 && best_hits < 3 * best_range) best_score = 1;
  return summary_of(static_cast<float>(best - 500000) / 100, best_sections,
                    static_cast<float>(most_code - 500000) / 100, most, best_hits,
                    static_cast<std::uint64_t>(best_range), best_score);
}

// Sections 1 to 3 hold a cluster at codes 500120/500121 (only 500121 heads it), section
// 4 a run of twenty words at 500200, section 9 one word whose code is never a candidate.
//   500121: hits 9+10+10+9+10+10+10 (T1-T4, T5 where d0 = 0) + 4 + 2 = 74, score
//           7 * 330 + 30 = 2340, sections {1, 2, 3}: the best;
//   500200: hits 18 * 10 + 4 = 184 in section 4 alone: the most hits, never the best.
MatchList worked_list() {
  MatchList list = {kHead,           word(1, 500120), word(1, 500121), word(1, 500121),
                    word(2, 500120), word(2, 500121), word(2, 500121), word(3, 500121),
                    word(3, 500121), word(3, 500121)};
  for (int k = 0; k < 20; ++k) list.push_back(word(4, 500200));
  list.push_back(word(9, 700000));
  return list;
}

// Matches and decides two files; returns the pairs in sync.
std::vector<PairResult> decided(const std::vector<LandmarkTable>& tables,
                                std::vector<float> durations) {
  std::ostringstream text;
  ConsoleCapture capture(text);
  const std::vector<PairSlot> slots = proveriall(tables, 2, durations, {}, {});
  return pairs_in_sync(judge_pairs(slots, 2, durations));
}

}  // namespace

TEST(Finalcut, SummarisesTheWorkedListAndFallsBackToTheNeutralSummary) {
  std::ostringstream text;
  ConsoleCapture capture(text);
  EXPECT_EQ(finalcut(worked_list()), summary_of(1.21f, 3, 2.0f, 184, 74, 2, 2340));
  const OffsetSummary none;
  // A cluster supported only in section 0 never beats the initial section count of 1.
  MatchList section_zero(13, word(0, 500300));
  section_zero.front() = kHead;
  section_zero.push_back(word(5, 600000));
  EXPECT_EQ(finalcut(section_zero), none);
  EXPECT_EQ(finalcut({kHead, word(3, 500000)}), none);
  EXPECT_EQ(finalcut({}), none);
}

TEST(Finalcut, AChanceCandidateSpanningTheRecordingDoesNotBlockTheTrueOne) {
  // Three sections far apart at -100 s, then every section 0 to 30 at +5 s: both span 30.
  MatchList list = {kHead};
  for (std::uint64_t s : {0u, 15u, 30u})
    for (int k = 0; k < 3; ++k) list.push_back(word(s, 490000));
  for (std::uint64_t s = 0; s <= 30; ++s)
    for (int k = 0; k < 3; ++k) list.push_back(word(s, 500500));
  const OffsetSummary F = finalcut(list);
  EXPECT_FLOAT_EQ(F.offset, 5.0f);
  EXPECT_EQ(F.sections, 31);
  EXPECT_EQ(F.range, 30u);
}

TEST(Finalcut, WindowedScoringMatchesThePlainWalk) {
  // Clusters in random sections around a few offsets, with jitter and chance words: many
  // candidates whose windows overlap.
  std::ostringstream text;
  ConsoleCapture capture(text);
  std::mt19937_64 rng(5);
  int with_best = 0;
  for (int trial = 0; trial < 200; ++trial) {
    MatchList list = {kHead};
    const int size = trial == 0 ? 20000 : 10 + static_cast<int>(rng() % (trial < 180 ? 400 : 6000));
    const int centre = 480000 + static_cast<int>(rng() % 40000);
    for (int k = 0; k < size; ++k) {
      const std::uint64_t section = rng() % 40;
      const int spread = (rng() % 3 == 0) ? 20000 : 1 + static_cast<int>(rng() % 12);
      const int code = centre + static_cast<int>(rng() % (2 * spread)) - spread +
                       static_cast<int>(rng() % 3) * 37;
      list.push_back(word(section, static_cast<std::uint64_t>(code)));
    }
    const OffsetSummary summary = finalcut(list);
    ASSERT_EQ(summary, plain_finalcut(list)) << "trial " << trial;
    with_best += summary.offset != OffsetSummary::kNoOffset;
  }
  EXPECT_GT(with_best, 150);
}

TEST(Decision, OverlapOfTheAlignedRecordings) {
  const auto overlap = [](float offset, float longer, float shorter) {
    const PairOverlap o = pair_overlap(summary_of(offset, 4, 0, 0, 0, 0, 0), longer, shorter);
    return std::vector<float>{o.presek, o.traenje_small, o.sekcii_vo_presek, o.confidence};
  };
  // A later start in the shorter file eats into it; an earlier one is capped by both ends.
  EXPECT_EQ(overlap(12.5f, 100, 60),
            (std::vector<float>{47.5f, 60, 47.5f / 2.875f, 47.5f / 2.875f / 5}));
  EXPECT_EQ(overlap(-30, 120, 60)[0], 60);
  EXPECT_EQ(overlap(-100, 120, 60)[0], 20);
  EXPECT_EQ(overlap(-1, 0, 0), (std::vector<float>{-1, 1, -1 / 1.03125f, -1 / 1.03125f / 5}));
}

TEST(Decision, EachTestRejectsOnItsOwn) {
  struct Case {
    const char* what;
    // offset, sections, most-hit offset, most hits, best hits, range, score
    std::vector<float> f;
    float longer, shorter;
    bool in_sync;
  };
  const std::vector<float> base = {2, 5, 2, 40, 40, 4, 1000};
  auto with = [&base](int index, float value) {
    std::vector<float> s = base;
    s[static_cast<std::size_t>(index)] = value;
    return s;
  };
  auto summary = [](const std::vector<float>& f) {
    return summary_of(f[0], static_cast<int>(f[1]), f[2], static_cast<int>(f[3]),
                      static_cast<int>(f[4]), static_cast<std::uint64_t>(f[5]), static_cast<int>(f[6]));
  };
  const std::vector<Case> cases = {
      {"all six hold", base, 20, 10, true},
      {"1: 6.1 sections of overlap over a range of 2", with(5, 2), 20, 10, false},
      {"1: range 9 widened to 11 when 9 sections", {2, 9, 2, 700, 700, 9, 8000}, 400, 200, true},
      {"1: no widening below the sections", {2, 10, 2, 700, 700, 9, 8000}, 400, 200, false},
      {"2: 40 hits for 25 s", {17, 5, 17, 40, 40, 4, 1000}, 40, 25, false},
      {"3: score only 10 times the hits", with(6, 400), 20, 10, false},
      {"4: two sections", with(1, 2), 20, 10, false},
      {"5: best and most-hit offsets 1 s apart", with(2, 3), 20, 10, false},
      {"5: their absolute values agree", with(2, -2.5f), 20, 10, true},
      {"6: 22 hits for 8 s of overlap", {2, 5, 2, 22, 22, 4, 1000}, 20, 10, false},
      {"2, 6: the most-hit count is read, not the best's", {2, 5, 2, 40, 5, 4, 1000}, 20, 10, true},
      {"6: 22 most hits for 8 s of overlap", {2, 5, 2, 22, 40, 4, 1000}, 20, 10, false},
      {"2: 40 most hits for 25 s", {17, 5, 17, 40, 60, 4, 1000}, 40, 25, false},
      {"aligned recordings that do not overlap", {-59.02f, 3, -59, 232, 138, 3, 5340}, 59, 3, false},
      {"3 sections of the 16 the overlap spans", {3, 3, 2.97f, 170, 105, 7, 2700}, 45, 40, false},
      {"5 sections of the 16 the overlap spans", {3, 5, 2.97f, 170, 105, 7, 2700}, 45, 40, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pair_in_sync(summary(c.f), pair_overlap(summary(c.f), c.longer, c.shorter)), c.in_sync)
        << c.what;
}

TEST(Decision, JudgesTheWalkedSlotsAndLogsThePairsFoundForTheTools) {
  TempRunDir dir;
  // Three files walk the first 4 * 5 / 2 = 10 slots; a list of nine values is dismissed.
  MatchList nine = {kHead};
  for (int k = 0; k < 8; ++k) nine.push_back(word(static_cast<std::uint64_t>(k + 1), 500100));
  std::vector<PairSlot> slots(16);
  slots[0] = {worked_list(), 0, 1};
  slots[1] = {nine, 2, 0};
  std::ostringstream text;
  ConsoleCapture capture(text);
  std::vector<PairVerdict> verdicts = judge_pairs(slots, 3, {40, 5, 30});
  ASSERT_EQ(verdicts.size(), 10u);
  EXPECT_TRUE(verdicts[0].in_sync);
  EXPECT_FALSE(verdicts[1].judged);
  verdicts[0].refinement = "refined offset 1210.000 ms, drift 0.00 ppm, 6 of 6 windows good";
  log_verdicts(verdicts, {"a.wav", "b.wav", "c.wav"});

  // presek 5 - 1.21 = 3.79 s, that is 3.79 / (1 + 5/32) sections shared among 3 + 1
  // supporting sections.
  const std::vector<PairResult> pairs = pairs_in_sync(verdicts);
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(std::tie(pairs[0].shorter, pairs[0].longer, pairs[0].sections, pairs[0].hits),
            std::make_tuple(1, 0, 3, 184));
  EXPECT_FLOAT_EQ(static_cast<float>(pairs[0].offset), 1.21f);
  EXPECT_FLOAT_EQ(pairs[0].confidence, 3.79f / 1.15625f / 4);
  // The accuracy tools read the pair from its found line and the refined offset from the
  // line after it.
  const std::string log = dir.log_text();
  const std::size_t found = log.find(
      "NAJDEN SYNC MEGJU b.wav  i a.wav  so ofset:1.21 sekundi vo 3regioni");
  ASSERT_NE(found, std::string::npos) << log;
  EXPECT_NE(log.find("\nrefined offset 1210.000 ms", found), std::string::npos);
  // Eight lines for the pair in sync with its refinement, one for each other slot walked.
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8 + 9);
}

TEST(Decision, VerdictDoesNotDependOnWhichFileWasPickedFirst) {
  // The longer recording covers event seconds 10-130, the shorter 5-65: a sound comes 5 s
  // later in the shorter file, and both files hear the longer file's first seconds, so
  // with the longer file at position 0 the list starts with section-0 words below 10^8.
  const synthetic::Event event = synthetic::make_event(140.0, 20.0, 21);
  const LandmarkTable longer = synthetic::record(event, 10.0, 120.0, 0.7, 5.0, 1);
  const LandmarkTable shorter = synthetic::record(event, 5.0, 60.0, 0.7, 5.0, 2);
  for (int longer_at : {0, 1}) {
    TempRunDir dir;
    const std::vector<PairResult> pairs = longer_at == 0 ? decided({longer, shorter}, {120, 60})
                                                         : decided({shorter, longer}, {60, 120});
    ASSERT_EQ(pairs.size(), 1u) << "longer file at " << longer_at;
    EXPECT_EQ(pairs[0].shorter, 1 - longer_at);
    EXPECT_EQ(pairs[0].longer, longer_at);
    EXPECT_NEAR(pairs[0].offset, 5.0, 0.03);
  }
}
