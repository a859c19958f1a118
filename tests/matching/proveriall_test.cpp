#include "core/composeints.h"
#include "core/log.h"
#include "matching/match.h"
#include "tests/matching/plain_proveriall.h"
#include "tests/support/test_support.h"
#include "tools/synthetic_landmarks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using testing_support::TempRunDir;

// Everything a matching run leaves behind.
struct Outcome {
  std::vector<PairSlot> slots;
  std::string console;
  std::vector<std::pair<int, int>> reports;
  std::string dump;
};

template <class Matcher>
Outcome run(Matcher matcher, const std::vector<LandmarkTable>& tables, int n,
            const std::vector<float>& durations, const DeviceGroups& groups) {
  TempRunDir dir;
  Outcome outcome;
  std::ostringstream text;
  {
    ConsoleCapture capture(text);
    outcome.slots = matcher(tables, n, durations, groups, [&](std::string_view stage, int i, int k) {
      EXPECT_EQ(stage, "match");
      outcome.reports.push_back({i, k});
    });
  }
  outcome.console = text.str();
  outcome.dump = testing_support::read_file("debagmatLONG1.txt");
  return outcome;
}

// Compares the two on every slot, the console, the progress reports and the dump; returns
// what the plain loop gave.
Outcome expect_same_as_plain(const std::vector<LandmarkTable>& tables, int n,
                             const std::vector<float>& durations, const DeviceGroups& groups,
                             const KeptLists& kept = {}) {
  const Outcome plain = run(plain::plain_proveriall, tables, n, durations, groups);
  const Outcome fast =
      run([&kept](const std::vector<LandmarkTable>& t, int m, std::vector<float> d, DeviceGroups g,
                  const ProgressFn& progress) {
        return proveriall(t, m, std::move(d), std::move(g), progress, kept);
      },
          tables, n, durations, groups);
  EXPECT_EQ(fast.slots.size(), plain.slots.size());
  if (fast.slots.size() != plain.slots.size()) return plain;
  for (std::size_t s = 0; s < plain.slots.size(); ++s) {
    const PairSlot& want = plain.slots[s];
    const PairSlot& got = fast.slots[s];
    EXPECT_EQ(std::make_pair(got.longer, got.shorter), std::make_pair(want.longer, want.shorter))
        << "slot " << s;
    EXPECT_TRUE(got.list == want.list)
        << "slot " << s << " (" << want.longer << ", " << want.shorter << "): " << got.list.size()
        << " values for " << want.list.size() << ", first difference at "
        << std::mismatch(got.list.begin(), got.list.end(), want.list.begin(), want.list.end()).first -
               got.list.begin();
  }
  EXPECT_EQ(fast.console, plain.console);
  EXPECT_EQ(fast.reports, plain.reports);
  EXPECT_TRUE(fast.dump == plain.dump)
      << "dump of " << fast.dump.size() << " bytes for " << plain.dump.size() << ", first difference at "
      << std::mismatch(fast.dump.begin(), fast.dump.end(), plain.dump.begin(), plain.dump.end()).first -
             fast.dump.begin();
  return plain;
}

std::size_t longest_list(const Outcome& outcome) {
  std::size_t longest = 0;
  for (const PairSlot& slot : outcome.slots) longest = std::max(longest, slot.list.size());
  return longest;
}

std::uint64_t word(std::uint64_t section, std::uint64_t longer, std::uint64_t shorter,
                   std::uint64_t code) {
  return composeints::composeInts3(section, longer, shorter, code);
}

LandmarkTable table_of(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& rows) {
  LandmarkTable t(static_cast<Eigen::Index>(rows.size()), 2);
  for (std::size_t r = 0; r < rows.size(); ++r) t.row(static_cast<Eigen::Index>(r)) << rows[r].first, rows[r].second;
  return t;
}

// Rows at random frames below `frames`, hashes 1..`hashes`: few hashes, found many times.
LandmarkTable crowded(Eigen::Index rows, std::uint64_t frames, std::uint64_t hashes, std::uint32_t seed) {
  std::mt19937 rng(seed);
  LandmarkTable t(rows, 2);
  for (Eigen::Index r = 0; r < rows; ++r) t.row(r) << rng() % frames, 1 + rng() % hashes;
  return t;
}

// Two long recordings (one pair of equal length), clips of one event cut at their own
// starts, and clips of another event.
void generated_shoot(std::vector<LandmarkTable>& tables, std::vector<float>& durations) {
  const synthetic::Event wedding = synthetic::make_event(400.0, 30.0, 5);
  const synthetic::Event other = synthetic::make_event(100.0, 30.0, 6);
  auto add = [&](const synthetic::Event& event, double start, double seconds) {
    tables.push_back(synthetic::record(event, start, seconds, 0.6, 5.0, 50 + tables.size()));
    durations.push_back(static_cast<float>(seconds));
  };
  add(wedding, 0.0, 300.0);
  add(wedding, 60.0, 300.0);
  add(wedding, 20.0, 40.0);
  add(other, 10.0, 60.0);
  add(wedding, 100.0, 5.0);
  add(wedding, 150.0, 75.0);
  add(other, 0.0, 12.0);
  add(wedding, 230.0, 75.0);
  add(wedding, 310.0, 8.0);
}

}  // namespace

TEST(Proveriall, GivesThePerPairListsOnAGeneratedShoot) {
  // One device's clips are in a group.
  std::vector<LandmarkTable> tables;
  std::vector<float> durations;
  generated_shoot(tables, durations);
  const Outcome plain =
      expect_same_as_plain(tables, static_cast<int>(tables.size()), durations, {{5, 7}, {2, 8}});
  EXPECT_EQ(plain.reports.size(), 34u);
}

TEST(Proveriall, GivesThePerPairListsAtTheEdges) {
  std::vector<LandmarkTable> tables;
  std::vector<float> durations;
  // Tables that share a few hashes thousands of times: every pair stops on its budget,
  // the 40 s ones on 4000 values, the 150 s ones on 6000.
  tables.push_back(crowded(3000, 5000, 40, 1));
  durations.push_back(120.0f);
  tables.push_back(crowded(400, 2000, 60, 2));
  durations.push_back(40.0f);
  tables.push_back(crowded(500, 6000, 50, 3));
  durations.push_back(150.0f);
  tables.push_back(crowded(2500, 6000, 45, 4));
  durations.push_back(150.0f);
  // One row and no row (matched by scanning), a hash repeated on consecutive rows and
  // frames, a frame far out that fills no six-digit code, and durations of 0 s and of no
  // number.
  tables.push_back(table_of({{70, 7}}));
  durations.push_back(3.0f);
  tables.push_back(LandmarkTable(0, 2));
  durations.push_back(20.0f);
  tables.push_back(table_of({{5, 7}, {5, 7}, {6, 7}, {6, 7}, {9, 12}, {416667, 7}, {0, 0}}));
  durations.push_back(0.0f);
  tables.push_back(table_of({{1, 7}, {2, 12}, {3, 12}, {4, 7}, {0, 0}}));
  durations.push_back(std::nanf(""));
  // A table past n and a duration past the tables are not matched.
  tables.push_back(crowded(100, 100, 5, 9));
  durations.push_back(120.0f);
  durations.push_back(10.0f);
  const int n = 8;
  EXPECT_GE(longest_list(expect_same_as_plain(tables, n, durations, {})), 6000u);
  expect_same_as_plain(tables, n, durations, {{0, 3}, {4, 6, 7}});
  expect_same_as_plain(tables, 1, durations, {});
  expect_same_as_plain(tables, n, {}, {});
  // Frames past 32 bits, in a longer file (entry 6) and the file it is matched with.
  tables[6](0, 0) = (std::uint64_t{1} << 32) + 5;
  tables[7](0, 0) = (std::uint64_t{1} << 32) + 7;
  const Outcome wide = expect_same_as_plain(tables, n, durations, {});
  // Two frames apart: 0.048 s.
  EXPECT_NE(wide.dump.find("\n" + std::to_string(word(0, 6, 7, 500004)) + ",\n"), std::string::npos);
}

// A dump over half a megabyte an entry is left unwritten unless asked for, and the one an
// earlier run left goes with it; asked for, it is whole.
TEST(Proveriall, BoundsTheMatchDumpUnlessAskedFor) {
  TempRunDir dir;
  const std::vector<LandmarkTable> tables = {crowded(20000, 50000, 10, 1), crowded(20000, 50000, 10, 2)};
  const std::vector<float> durations = {3000.0f, 3000.0f};  // a budget of 120,000 values
  std::ostringstream quiet;
  ConsoleCapture capture(quiet);
  testing_support::write_file("debagmatLONG1.txt", "an earlier run's\n");
  const std::vector<PairSlot> slots = proveriall(tables, 2, durations, {});
  ASSERT_GE(slots.front().list.size(), 120000u);
  EXPECT_FALSE(testing_support::file_exists("debagmatLONG1.txt"));
  EXPECT_NE(dir.log_text().find("debagmatLONG1.txt not written: "), std::string::npos) << dir.log_text();
  setenv(kMatchDumpVariable, "1", 1);
  proveriall(tables, 2, durations, {});
  unsetenv(kMatchDumpVariable);
  const std::string dump = testing_support::read_file("debagmatLONG1.txt");
  EXPECT_EQ(static_cast<std::size_t>(std::count(dump.begin(), dump.end(), '\n')), slots.front().list.size());
}

// The lists a run kept stand in for matching in a run of the same files at other
// positions, among new ones: every slot, console line, report and the dump are as if
// matched. Two files of equal length swap roles when their order does, and are matched
// again.
TEST(Proveriall, KeptListsStandInForMatchingAtOtherPositions) {
  std::vector<LandmarkTable> tables;
  std::vector<float> durations;
  generated_shoot(tables, durations);
  const int before = 6;
  std::map<std::pair<int, int>, std::vector<std::uint64_t>> kept;
  std::mutex kept_mutex;
  KeptLists keeping;
  keeping.keep = [&](int longer, int shorter, const MatchList& list) {
    const std::optional<std::vector<std::uint64_t>> unplaced = list_without_positions(list, longer, shorter);
    ASSERT_TRUE(unplaced.has_value()) << longer << ", " << shorter;
    EXPECT_EQ(list_at_positions(*unplaced, longer, shorter), list);
    const std::lock_guard<std::mutex> lock(kept_mutex);
    kept[{longer, shorter}] = *unplaced;
  };
  const std::vector<LandmarkTable> first(tables.begin(), tables.begin() + before);
  expect_same_as_plain(first, before, durations, {}, keeping);
  ASSERT_EQ(kept.size(), 15u);

  // Three new files first, then the earlier six in reverse order.
  const std::vector<int> was = {6, 7, 8, 5, 4, 3, 2, 1, 0};
  std::vector<LandmarkTable> now;
  std::vector<float> now_durations;
  for (int k : was) {
    now.push_back(tables[static_cast<std::size_t>(k)]);
    now_durations.push_back(durations[static_cast<std::size_t>(k)]);
  }
  std::atomic<int> taken{0}, matched{0};
  KeptLists taking;
  taking.take = [&](int longer, int shorter) -> std::optional<MatchList> {
    const auto found = kept.find({was[static_cast<std::size_t>(longer)], was[static_cast<std::size_t>(shorter)]});
    if (found == kept.end()) return std::nullopt;
    ++taken;
    return list_at_positions(found->second, longer, shorter);
  };
  taking.keep = [&](int, int, const MatchList&) { ++matched; };
  expect_same_as_plain(now, static_cast<int>(now.size()), now_durations, {{0, 2}}, taking);
  EXPECT_EQ(taken.load(), 14);
  EXPECT_EQ(matched.load(), 36 - 1 - 14);
  // All kept: nothing is matched at all.
  matched = 0;
  taking.take = [&](int longer, int shorter) -> std::optional<MatchList> {
    const auto found = kept.find({longer, shorter});
    if (found == kept.end()) return std::nullopt;
    return list_at_positions(found->second, longer, shorter);
  };
  expect_same_as_plain(first, before, durations, {}, taking);
  EXPECT_EQ(matched.load(), 0);
}

TEST(Proveriall, ListsWithoutPositionsAreOnlyThoseOfThePair) {
  // At positions 0 and 9 a word can equal the head: either may be taken for it.
  const MatchList at_0_9 = {word(0, 0, 9, 4), word(0, 0, 9, 999999), word(0, 0, 9, 999999),
                            word(2, 0, 9, 500000)};
  ASSERT_EQ(at_0_9[1], 9999999u);
  const std::optional<std::vector<std::uint64_t>> unplaced = list_without_positions(at_0_9, 0, 9);
  ASSERT_TRUE(unplaced.has_value());
  EXPECT_EQ(*unplaced, (std::vector<std::uint64_t>{4, 999999, 2500000}));
  EXPECT_EQ(list_at_positions(*unplaced, 0, 9), at_0_9);
  EXPECT_EQ(list_at_positions(*unplaced, 12, 3),
            (MatchList{9999999, word(0, 12, 3, 4), word(0, 12, 3, 999999), word(2, 12, 3, 500000)}));
  // A word of another pair, a list without its head, positions that do not fit.
  EXPECT_FALSE(list_without_positions({9999999, word(0, 1, 9, 4)}, 0, 9).has_value());
  EXPECT_FALSE(list_without_positions({word(0, 0, 9, 4)}, 0, 9).has_value());
  EXPECT_FALSE(list_without_positions({9999999}, 1000, 9).has_value());
  EXPECT_EQ(list_without_positions({9999999}, 3, 4), std::vector<std::uint64_t>{});
}
