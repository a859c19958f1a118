#include "matching/groups.h"

#include "core/entries.h"
#include "core/format.h"
#include "core/log.h"
#include "matching/device_clocks.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <utility>

namespace {

// Fields of a column the linking reads: shorter, longer, offset (s).
constexpr Eigen::Index kLinkFields = 3;
// Marks a dead column list and a repeated chain entry.
constexpr int kDead = 9999;
constexpr std::size_t kAsterisks = 67;
constexpr std::size_t kGroupReserve = 100;
// A linked start this far from the clocks' is a false pair's: the pairs' own errors put
// the two apart by milliseconds, a clock 100 ppm fast by less than a second in hours.
constexpr double kMisplacedSec = 1.0;

struct ChainEntry {
  float file;
  float offset;
};

// The chain entry of `file` (compared as integers), the first one if several.
const ChainEntry* find_in_chain(const std::vector<ChainEntry>& chain, int file) {
  for (const ChainEntry& entry : chain)
    if (static_cast<int>(entry.file) == file) return &entry;
  return nullptr;
}

// Places the members of one group, given its columns as (A, B, s) with B starting s
// seconds after A. A column can only place a file once one of its two files is placed,
// which an earlier column may not have done yet: the walk is repeated until it places
// nobody new.
std::vector<ChainEntry> place_group(const Eigen::MatrixXf& normalised,
                                    const std::vector<int>& columns) {
  std::vector<ChainEntry> chain;
  if (columns.empty()) return chain;
  const int first = columns.front();
  chain.push_back({normalised(0, first), 0.0f});
  chain.push_back({normalised(1, first), normalised(2, first)});
  bool placed_someone = true;
  while (placed_someone) {
    placed_someone = false;
    for (std::size_t k = 1; k < columns.size(); ++k) {
      const int c = columns[k];
      const float a = normalised(0, c);
      const float b = normalised(1, c);
      const float s = normalised(2, c);
      const ChainEntry* at_a = find_in_chain(chain, static_cast<int>(a));
      const ChainEntry* at_b = find_in_chain(chain, static_cast<int>(b));
      if (at_a && !at_b) {
        chain.push_back({b, at_a->offset + s});
        placed_someone = true;
      } else if (at_b && !at_a) {
        chain.push_back({a, at_b->offset - s});
        placed_someone = true;
      }
    }
  }
  return chain;
}

// Places a group's members again in double precision, along the pairs: each member
// through the pair whose placement lies nearest its single-precision start, so that both
// placements follow the same pairs. Also notes the pair that placed every member.
void place_exactly(SyncGroup& group, const std::vector<PairResult>& clean) {
  std::map<int, std::size_t> slot;
  for (std::size_t m = 0; m < group.members.size(); ++m) {
    slot[group.members[m].entry] = m;
    // A member no pair reaches keeps the single-precision place rather than 0.
    group.members[m].exact_start = group.members[m].start;
  }
  std::vector<bool> placed(group.members.size(), false);
  std::size_t root = 0;
  for (std::size_t m = 0; m < group.members.size(); ++m)
    if (group.members[m].start < group.members[root].start) root = m;
  placed[root] = true;
  group.members[root].exact_start = 0.0;
  bool root_noted = false;

  const auto note = [](TimelineMember& member, const PairResult& pair, int partner) {
    member.placed_by = partner;
    member.drift_ppm = member.entry == pair.shorter ? pair.drift_ppm : -pair.drift_ppm;
    member.refined = pair.refined;
    member.second_look = pair.second_look;
  };
  for (;;) {
    // Over every pair with one member placed: the member it would place, where, and how
    // far that is from the single-precision start. A pair implied by refined ones places
    // a member only where none of those reaches it.
    const PairResult* best = nullptr;
    std::size_t best_member = 0;
    std::size_t best_from = 0;
    double best_start = 0.0;
    double best_gap = 0.0;
    for (int round = 0; round < 2 && best == nullptr; ++round) {
      for (const PairResult& pair : clean) {
        if (pair.implied != (round == 1)) continue;
        const auto s = slot.find(pair.shorter);
        const auto l = slot.find(pair.longer);
        if (s == slot.end() || l == slot.end() || placed[s->second] == placed[l->second]) continue;
        // A sound at timeline time T is at T - start in each file: start_s = start_l - offset.
        const bool shorter_placed = placed[s->second];
        const std::size_t from = shorter_placed ? s->second : l->second;
        const std::size_t to = shorter_placed ? l->second : s->second;
        const double start = shorter_placed ? group.members[from].exact_start + pair.offset
                                            : group.members[from].exact_start - pair.offset;
        const double gap = std::abs(start - group.members[to].start);
        if (best == nullptr || gap < best_gap) {
          best = &pair;
          best_member = to;
          best_from = from;
          best_start = start;
          best_gap = gap;
        }
      }
    }
    if (best == nullptr) break;
    TimelineMember& member = group.members[best_member];
    TimelineMember& from = group.members[best_from];
    member.exact_start = best_start;
    placed[best_member] = true;
    note(member, *best, from.entry);
    if (best_from == root && !root_noted) {
      note(from, *best, member.entry);
      root_noted = true;
    }
  }
  double earliest = 0.0;
  for (const TimelineMember& member : group.members) earliest = std::min(earliest, member.exact_start);
  for (TimelineMember& member : group.members) member.exact_start -= earliest;
}

}  // namespace

std::vector<int> unikatni(Eigen::MatrixXf table) {
  std::vector<int> files;
  if (table.rows() < 2) return files;
  files.reserve(static_cast<std::size_t>(2 * table.cols()));
  for (Eigen::Index c = 0; c < table.cols(); ++c) {
    files.push_back(static_cast<int>(table(0, c)));
    files.push_back(static_cast<int>(table(1, c)));
  }
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  return files;
}

std::vector<std::vector<int>> grupiraj(Eigen::MatrixXf clean) {
  const std::vector<int> files = unikatni(clean);
  std::vector<std::vector<int>> lists;
  lists.reserve(files.size());
  for (int f : files) {
    std::vector<int> columns;
    for (Eigen::Index c = 0; c < clean.cols(); ++c)
      if (clean(0, c) == static_cast<float>(f) || clean(1, c) == static_cast<float>(f))
        columns.push_back(static_cast<int>(c));
    lists.push_back(std::move(columns));
  }

  // A list that shares a column with another absorbs it; the absorbed list is marked
  // dead and, being all marks, can neither absorb nor be absorbed again. A list can come
  // to share a column with an earlier one only after that one was compared with it, so
  // one sweep may leave a column in two live lists (one group split in two, its files in
  // both): sweep again until a sweep absorbs nothing.
  const std::size_t count = lists.size();
  bool absorbed = true;
  while (absorbed) {
    absorbed = false;
    for (std::size_t i = 0; i < count; ++i) {
      for (std::size_t j = 0; j < count; ++j) {
        if (j == i || lists[i].empty() || lists[i].front() == kDead) continue;
        const std::size_t length_i = lists[i].size();
        const std::size_t length_j = lists[j].size();
        bool shared = false;
        for (std::size_t x = 0; x < length_i && !shared; ++x)
          for (std::size_t y = 0; y < length_j && !shared; ++y) shared = lists[i][x] == lists[j][y];
        if (!shared) continue;
        lists[i].insert(lists[i].end(), lists[j].begin(), lists[j].end());
        std::fill(lists[j].begin(), lists[j].end(), kDead);
        absorbed = true;
      }
    }
  }

  std::vector<std::vector<int>> groups;
  for (std::vector<int>& list : lists) {
    if (list.empty() || list.front() == kDead) continue;
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    groups.push_back(std::move(list));
  }
  return groups;
}

std::vector<std::map<int, float>> groopy(Eigen::MatrixXf clean) {
  const std::vector<std::vector<int>> groups = grupiraj(clean);
  // Every column as (lower file A, higher file B, s): B starts s seconds after A.
  for (Eigen::Index c = 0; c < clean.cols(); ++c) {
    if (clean(1, c) < clean(0, c)) {
      const float lower = clean(1, c);
      clean(1, c) = static_cast<float>(static_cast<int>(clean(0, c)));
      clean(0, c) = lower;
      clean(2, c) = -clean(2, c);
    }
  }

  std::vector<std::map<int, float>> maps;
  maps.reserve(groups.size());
  for (const std::vector<int>& columns : groups) {
    std::vector<ChainEntry> chain = place_group(clean, columns);
    for (std::size_t k = 0; k + 1 < chain.size(); ++k) {
      if (static_cast<int>(chain[k].file) == static_cast<int>(chain[k + 1].file)) {
        chain[k] = {static_cast<float>(kDead), static_cast<float>(kDead)};
        chain[k + 1] = {static_cast<float>(kDead), static_cast<float>(kDead)};
      }
    }
    std::map<int, float> placed;
    for (const ChainEntry& entry : chain)
      if (static_cast<int>(entry.file) != kDead)
        placed[static_cast<int>(entry.file)] = entry.offset;
    maps.push_back(std::move(placed));
  }
  return maps;
}

std::vector<PairResult> without_reversed_duplicates(const std::vector<PairResult>& pairs) {
  std::vector<bool> dropped(pairs.size(), false);
  for (std::size_t c = 0; c < pairs.size(); ++c) {
    if (dropped[c]) continue;
    for (std::size_t k = 0; k < pairs.size(); ++k)
      if (pairs[c].shorter == pairs[k].longer && pairs[c].longer == pairs[k].shorter)
        dropped[k] = true;
  }
  std::vector<PairResult> clean;
  for (std::size_t c = 0; c < pairs.size(); ++c)
    if (!dropped[c]) clean.push_back(pairs[c]);
  return clean;
}

Timeline build_timeline(const std::vector<PairResult>& clean,
                        const std::vector<TimelineMember>& entries) {
  // The linking walks the pairs as columns of (shorter, longer, offset), in the single
  // precision they were always placed in, so that starts do not move by a rounding.
  Eigen::MatrixXf table(kLinkFields, static_cast<Eigen::Index>(clean.size()));
  for (std::size_t c = 0; c < clean.size(); ++c)
    table.col(static_cast<Eigen::Index>(c)) << static_cast<float>(clean[c].shorter),
        static_cast<float>(clean[c].longer), static_cast<float>(clean[c].offset);
  const std::vector<std::map<int, float>> maps = groopy(table);

  Timeline out;
  out.groups.reserve(kGroupReserve);
  std::vector<bool> synced(entries.size(), false);
  logthis("pred polnenje na indeksi...");
  for (const std::map<int, float>& placed : maps) {
    SyncGroup group;
    float earliest = 0.0f;
    for (const auto& [entry, offset] : placed) {
      if (entry < 0 || static_cast<std::size_t>(entry) >= entries.size()) continue;
      TimelineMember member = entries[static_cast<std::size_t>(entry)];
      member.start = offset;
      group.members.push_back(std::move(member));
      synced[static_cast<std::size_t>(entry)] = true;
      earliest = std::min(earliest, offset);
    }
    // The earliest member starts at 0.
    for (TimelineMember& member : group.members)
      member.start = static_cast<double>(static_cast<float>(member.start) + std::abs(earliest));
    place_exactly(group, clean);
    out.groups.push_back(std::move(group));
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (synced[i] || is_marker(entries[i].path)) continue;
    out.unsynced.push_back(entries[i]);
    out.unsynced.back().start = 0.0;
  }
  return out;
}

namespace {

// The classic documents place a member by the pairs that link it to the group; when the
// clocks leave a pair out as false, the member it linked would be placed where its sound
// is not. Such a member goes where the clocks put it, the others keep their start.
void follow_left_out_pairs(SyncGroup& group) {
  if (group.dropped.empty() || group.members.empty()) return;
  std::vector<double> shifts;
  for (const TimelineMember& m : group.members) shifts.push_back(m.start - m.exact_start);
  std::nth_element(shifts.begin(), shifts.begin() + static_cast<std::ptrdiff_t>(shifts.size() / 2), shifts.end());
  const double shift = shifts[shifts.size() / 2];
  bool moved = false;
  for (TimelineMember& m : group.members) {
    if (std::abs(m.start - m.exact_start - shift) <= kMisplacedSec) continue;
    logthis("placed by the clocks: " + m.path + " (linked at " + fixed_text(m.start, 3) +
            " s by a pair left out, at " + fixed_text(m.exact_start + shift, 3) + " s by the others)");
    m.start = m.exact_start + shift;
    moved = true;
  }
  if (!moved) return;
  double earliest = 0.0;
  for (const TimelineMember& m : group.members) earliest = std::min(earliest, m.start);
  for (TimelineMember& m : group.members) m.start -= earliest;
}

}  // namespace

void solve_clocks(Timeline& timeline, const std::vector<PairResult>& clean) {
  for (SyncGroup& group : timeline.groups)
    if (solve_device_clocks(group, clean)) {
      for (const std::string& line : clock_log_lines(group)) logthis(line);
      follow_left_out_pairs(group);
    }
}

void report_timeline(const Timeline& timeline) {
  const std::string asterisks(kAsterisks, '*');
  console() << "sinkani files\n" << asterisks << '\n';
  for (const SyncGroup& group : timeline.groups)
    for (const TimelineMember& member : group.members) console() << console_safe(member.path) << '\n';
  console() << "sinkani files\n" << asterisks << '\n';
  console() << "unsynced files\n" << asterisks << '\n';
  for (const TimelineMember& member : timeline.unsynced) logthis(member.path);
}
