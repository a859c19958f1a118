#include "matching/second_look.h"
#include "tools/refine_pairs.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace pairgen;

// A verdict the decision turned down: its most-hit candidate and its chosen one, which
// has `chosen_hits` against the most-hit one's 80.
PairVerdict turned_down(int shorter, int longer, double most_hit, double chosen,
                        int chosen_hits = 4) {
  PairVerdict v;
  v.shorter = shorter;
  v.longer = longer;
  v.judged = true;
  v.summary.most_hit_offset = static_cast<float>(most_hit);
  v.summary.most_hits = 80;
  v.summary.offset = static_cast<float>(chosen);
  v.summary.hits = chosen_hits;
  return v;
}

// A pair in sync, refined where the refinement found 3 good windows.
PairVerdict in_sync(int shorter, int longer, double offset, int windows_good = 3) {
  PairVerdict v = turned_down(shorter, longer, offset, offset);
  v.in_sync = true;
  v.result.shorter = shorter;
  v.result.longer = longer;
  v.result.offset = offset;
  v.result.refined = windows_good >= 3;
  v.result.good_windows = windows_good;
  return v;
}

// Whole seconds of audio of each file, as the engine knows them: 20 s and 75 s files.
std::vector<float> lengths(int files) {
  std::vector<float> out(static_cast<std::size_t>(files), 75.0f);
  out[0] = 20.0f;
  return out;
}

double grid(double seconds) { return std::round(seconds * 100) / 100; }

// A 20 s file that shares 6 s of sound with a 75 s one (it starts 14 s before it).
PairRecipe short_overlap(const char* name, Material material, double snr_db) {
  PairRecipe p{name, material, 14.0123};
  p.shorter_sec = 20.0;
  p.snr_db = snr_db;
  return p;
}

}  // namespace

TEST(SecondLook, FindsAShortOverlapAtItsMostHitCandidateAndNothingAwayFromTheTruth) {
  testing_support::TempRunDir dir;
  std::uint64_t seed = 70;
  for (const PairRecipe& p : {short_overlap("speech", Material::SpeechLike, 12.0),
                              short_overlap("music", Material::MusicLike, 6.0),
                              short_overlap("bursts", Material::NoiseBursts, 12.0)}) {
    std::string s, l;
    make_pair(p, ++seed, s, l);
    // The decision chose a chance candidate; the most-hit one is the truth.
    std::vector<PairVerdict> found = {turned_down(0, 1, grid(p.offset), -41.27)};
    second_look(found, {s, l}, lengths(2), true);
    ASSERT_TRUE(found[0].in_sync) << p.name << ":\n" << found[0].second_look;
    EXPECT_TRUE(found[0].result.second_look && found[0].result.refined);
    EXPECT_NEAR(found[0].result.offset, p.offset, 0.0002) << p.name;
    EXPECT_NE(found[0].second_look.find("found in sync"), std::string::npos);

    // Null checks: every candidate half a second or more from the truth.
    for (double miss : {-3.0, -0.5, 0.5, 0.77, 2.0}) {
      std::vector<PairVerdict> null = {turned_down(0, 1, grid(p.offset + miss), grid(p.offset - miss))};
      second_look(null, {s, l}, lengths(2), true);
      EXPECT_FALSE(null[0].in_sync) << p.name << " " << miss << " s away:\n" << null[0].second_look;
    }
  }
}

TEST(SecondLook, NeverPairsFilesOfDifferentEventsOrGoesAgainstAGroup) {
  testing_support::TempRunDir dir;
  std::string s1, l1, s2, l2;
  make_pair(short_overlap("one", Material::SpeechLike, 20.0), 90, s1, l1);
  PairRecipe other = short_overlap("two", Material::MusicLike, 20.0);
  make_pair(other, 91, s2, l2);
  std::vector<PairVerdict> unrelated;
  for (double candidate : {14.01, 0.0, -20.0, 40.5})
    unrelated.push_back(turned_down(0, 1, candidate, candidate));
  second_look(unrelated, {s1, l2}, lengths(2), true);
  for (const PairVerdict& v : unrelated) EXPECT_FALSE(v.in_sync) << v.second_look;
  // In sync on hits alone, without a good window: the pair of two events goes, its sound
  // lining up best elsewhere; the true pair, decided 60 ms early, stays.
  std::vector<PairVerdict> alone = {in_sync(0, 1, 14.01, 0), in_sync(0, 2, 14.0123 - 0.06, 0)};
  second_look(alone, {s1, l2, l1}, lengths(3), true);
  EXPECT_FALSE(alone[0].in_sync);
  EXPECT_NE(alone[0].second_look.find("lines up best at"), std::string::npos) << alone[0].second_look;
  EXPECT_TRUE(alone[1].in_sync) << alone[1].second_look;

  // Files 0 and 1 are the pair above; file 2 is file 1 again. Where measured pairs in sync
  // place 0 against 2 already, their pair is not looked at again: it could place nothing.
  const double truth = 14.0123;
  std::vector<PairVerdict> verdicts = {in_sync(0, 1, truth), in_sync(2, 1, 0.0),
                                       turned_down(0, 2, grid(truth), grid(truth))};
  second_look(verdicts, {s1, l1, l1}, lengths(3), true);
  EXPECT_FALSE(verdicts[2].in_sync);
  EXPECT_EQ(verdicts[2].second_look, "");
  // Placed by a pair on hits alone 30 ms from the truth, (0, 2) is checked; at its truth it
  // contradicts the group and stays out.
  verdicts = {in_sync(0, 1, truth), in_sync(2, 1, 0.030, 0), turned_down(0, 2, grid(truth), grid(truth))};
  second_look(verdicts, {s1, l1, l1}, lengths(3), true);
  EXPECT_FALSE(verdicts[2].in_sync);
  EXPECT_NE(verdicts[2].second_look.find("contradicts its group by"), std::string::npos)
      << verdicts[2].second_look;
  // Where the group agrees, the pair is added.
  verdicts = {in_sync(0, 1, truth), in_sync(2, 1, 0.0, 0), turned_down(0, 2, grid(truth), grid(truth))};
  second_look(verdicts, {s1, l1, l1}, lengths(3), true);
  EXPECT_TRUE(verdicts[2].in_sync) << verdicts[2].second_look;
}

TEST(SecondLook, AnUnrefinedPairGoesOnlyWhereItGoesAgainstItsGroup) {
  // Files 0-1 and 1-2 measured; 0-2 and 3-1 rest on hits alone. 0-2 says 3 s where the
  // group says 1 s; 3-1 is the only pair of file 3, and 0-2 at 1.2 s is within the
  // decision's error (up to 0.1 s early) of its group.
  std::vector<PairVerdict> verdicts = {in_sync(0, 1, 5.0), in_sync(1, 2, -4.0),
                                       in_sync(0, 2, 3.0, 0), in_sync(3, 1, 7.0, 0)};
  second_look(verdicts, {"a.wav", "b.wav", "c.wav", "d.wav"}, lengths(4), true);
  EXPECT_FALSE(verdicts[2].in_sync);
  EXPECT_NE(verdicts[2].second_look.find("no good window"), std::string::npos);
  EXPECT_TRUE(verdicts[3].in_sync);
  // One good window of three leaves the pair on its hits just the same.
  verdicts = {in_sync(0, 1, 5.0), in_sync(1, 2, -4.0), in_sync(0, 2, 3.0, 1)};
  second_look(verdicts, {"a.wav", "b.wav", "c.wav"}, lengths(3), true);
  EXPECT_FALSE(verdicts[2].in_sync);
  EXPECT_NE(verdicts[2].second_look.find("too few good windows"), std::string::npos);
  verdicts = {in_sync(0, 1, 5.0), in_sync(1, 2, -4.0), in_sync(0, 2, 1.2, 0)};
  second_look(verdicts, {"a.wav", "b.wav", "c.wav"}, lengths(3), true);
  EXPECT_TRUE(verdicts[2].in_sync) << verdicts[2].second_look;
  // Without any refinement, no pair is measured, and none goes.
  verdicts = {in_sync(0, 1, 5.0), in_sync(1, 2, -4.0), in_sync(0, 2, 3.0, 0)};
  second_look(verdicts, {"a.wav", "b.wav", "c.wav"}, lengths(3), false);
  EXPECT_TRUE(verdicts[2].in_sync);
}

TEST(SecondLook, SoundThatRepeatsIsNotTrustedOnEitherCandidate) {
  testing_support::TempRunDir dir;
  // A phrase played twice, and 10 s of it: -10 s and -40 s are both perfect offsets.
  const std::vector<float> phrase = make_source(Material::MusicLike, 30.0, 17);
  std::vector<float> twice = phrase;
  twice.insert(twice.end(), phrase.begin(), phrase.end());
  write_wav("twice.wav", twice);
  write_wav("piece.wav", std::vector<float>(phrase.begin() + 10 * kRate, phrase.begin() + 20 * kRate));
  std::vector<PairVerdict> both = {turned_down(0, 1, -10.0, -40.0)};
  second_look(both, {"piece.wav", "twice.wav"}, lengths(2), true);
  EXPECT_FALSE(both[0].in_sync);
  EXPECT_NE(both[0].second_look.find("two offsets hold"), std::string::npos) << both[0].second_look;

  // Hits alike at two offsets of sound that does not repeat: the sound says which.
  std::string s, l;
  make_pair(short_overlap("speech", Material::SpeechLike, 20.0), 44, s, l);
  std::vector<PairVerdict> rival = {turned_down(0, 1, 61.5, grid(14.0123), 60)};
  second_look(rival, {s, l}, lengths(2), true);
  ASSERT_TRUE(rival[0].in_sync) << rival[0].second_look;
  EXPECT_NEAR(rival[0].result.offset, 14.0123, 0.0002);
}

TEST(SecondLook, MusicOfOnePhrasePlaysAtTheOffsetWhereTheRoomLinesUpToo) {
  testing_support::TempRunDir dir;
  // A 4 s phrase over and over for a minute, a room a quarter as loud over it. The
  // shorter file hears 24 s of it from 20.3 s on; its twin hears the same phrase under
  // another room, so no offset of it is true.
  const std::vector<float> phrase = make_source(Material::MusicLike, 4.0, 5);
  const auto event = [&](std::uint64_t room_seed) {
    std::vector<float> room = make_source(Material::SpeechLike, 60.0, room_seed);
    for (std::size_t i = 0; i < room.size(); ++i) room[i] = phrase[i % phrase.size()] + 0.25f * room[i];
    return room;
  };
  const std::vector<float> longer = event(6), elsewhere = event(7);
  Rng rng{8};
  for (const auto& [name, source] : {std::pair{"short.wav", &longer}, std::pair{"twin.wav", &elsewhere}}) {
    std::vector<float> piece(source->begin() + 20.3 * kRate, source->begin() + 44.3 * kRate);
    add_noise(piece, 20.0, rng);
    write_wav(name, piece);
  }
  write_wav("long.wav", longer);
  const double truth = -20.3;

  // In sync two phrases off, or turned down with hits alike a phrase either side.
  for (const PairVerdict& verdict : {in_sync(0, 1, truth + 8.0), turned_down(0, 1, truth + 4.0, truth - 4.0, 70)}) {
    std::vector<PairVerdict> verdicts = {verdict};
    second_look(verdicts, {"short.wav", "long.wav"}, lengths(2), true);
    const PairVerdict& v = verdicts[0];
    ASSERT_TRUE(v.in_sync) << v.second_look;
    EXPECT_TRUE(v.result.second_look && v.result.refined);
    EXPECT_NEAR(v.result.offset, truth, 0.0002) << v.second_look;
    EXPECT_NE(v.second_look.find("repeats every 4.00 s"), std::string::npos) << v.second_look;
    if (verdict.in_sync) {
      EXPECT_NE(v.second_look.find("moved from -12.300 s to -20.300 s"), std::string::npos);
    }

    // The twin lines up with every phrase alike: in sync or turned down, it is no pair.
    verdicts = {verdict};
    second_look(verdicts, {"twin.wav", "long.wav"}, lengths(2), true);
    EXPECT_FALSE(verdicts[0].in_sync) << verdicts[0].second_look;
    if (verdict.in_sync) {
      EXPECT_NE(verdicts[0].second_look.find("no offset stands out"), std::string::npos);
    }
  }
}

// Over sound that repeats, a pair in sync is checked unless pairs whose own check passed
// (or that share more than the check covers) place its files within a rung of its offset;
// one a phrase off never agrees with them, so it is always checked.
TEST(SecondLook, RepeatingSoundIsCheckedUnlessCheckedPairsVouchForThePair) {
  testing_support::TempRunDir dir;
  const std::vector<float> phrase = make_source(Material::MusicLike, 4.0, 5);
  std::vector<float> longer = make_source(Material::SpeechLike, 60.0, 6);
  for (std::size_t i = 0; i < longer.size(); ++i) longer[i] = phrase[i % phrase.size()] + 0.25f * longer[i];
  Rng rng{8};
  for (const auto& [name, from] : {std::pair{"a.wav", 20.3}, std::pair{"b.wav", 14.3}}) {
    std::vector<float> piece(longer.begin() + static_cast<long>(from * kRate),
                             longer.begin() + static_cast<long>((from + 24.0) * kRate));
    add_noise(piece, 20.0, rng);
    write_wav(name, piece);
  }
  write_wav("long.wav", longer);
  const std::vector<std::string> wavs = {"a.wav", "b.wav", "long.wav"};
  const std::vector<float> seconds = {24.0f, 24.0f, 60.0f};
  // All three at their truth: the two that place b and a are checked, and vouch for the third.
  std::vector<PairVerdict> verdicts = {in_sync(0, 2, -20.3), in_sync(1, 2, -14.3), in_sync(0, 1, -6.0)};
  second_look(verdicts, wavs, seconds, true);
  EXPECT_NE(verdicts[0].second_look, "");
  EXPECT_NE(verdicts[1].second_look, "");
  EXPECT_EQ(verdicts[2].second_look, "");
  for (const PairVerdict& v : verdicts) EXPECT_TRUE(v.in_sync) << v.second_look;
  // b against long a phrase off, where the other two place it: it is checked and moves,
  // measured there, also when the refinement had passed it over as implied.
  for (const bool implied : {false, true}) {
    verdicts = {in_sync(0, 2, -20.3), in_sync(1, 2, -14.3 + 4.0), in_sync(0, 1, -6.0)};
    verdicts[1].result.implied = implied;
    second_look(verdicts, wavs, seconds, true);
    ASSERT_TRUE(verdicts[1].in_sync) << verdicts[1].second_look;
    EXPECT_NEAR(verdicts[1].result.offset, -14.3, 0.0002) << verdicts[1].second_look;
    EXPECT_TRUE(verdicts[1].result.refined && !verdicts[1].result.implied);
  }
  // A pair the refinement passed over as implied by the others is vouched for the same
  // way, at its decided offset, and keeps it; one a phrase off is checked.
  for (const double off : {-0.04, 4.0}) {
    verdicts = {in_sync(0, 2, -20.3), in_sync(1, 2, -14.3), in_sync(0, 1, -6.0 + off, 0)};
    verdicts[2].result.implied = true;
    second_look(verdicts, wavs, seconds, true);
    EXPECT_EQ(verdicts[2].second_look.empty(), off < 1.0) << verdicts[2].second_look;
  }
  EXPECT_TRUE(verdicts[2].in_sync);
}
