#include "matching/match.h"

#include "core/composeints.h"
#include "core/frames.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/stop.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

// Every match list starts with this value; it decodes as section 0, longer position 0,
// shorter position 9, offset code 999999, and sorts among the section-0 words.
constexpr std::uint64_t kListHead = 9999999;

// Values a pair's list may reach before its next row of B is refused: 40 per second of
// the shorter file, so that an hour-long pair keeps enough matches to show its offset in
// every section, and never fewer than 4000. The test is made before each row, so one row
// can carry the list past it.
constexpr std::size_t kMinimumBudget = 4000;
constexpr double kBudgetPerSecond = 40.0;
// Room reserved beyond the budget for the row that crosses it; the spare capacity is
// given back once the pair is done.
constexpr std::size_t kReserveMargin = 500;
constexpr std::size_t kReserveCap = std::size_t{1} << 20;
// Keeps the conversion of an absurd duration defined.
constexpr double kLargestBudget = 1e15;

constexpr float kSectionShare = match_word::kSectionShare;
constexpr double kHundredthsPerSecond = match_word::kHundredthsPerSecond;
constexpr double kOffsetCodeZero = match_word::kOffsetCodeZero;
constexpr double kOffsetCodeEnd = match_word::kOffsetCodeEnd;
constexpr int kPositionEnd = match_word::kPositionEnd;
// Largest section whose word stays below 2^64 (section * 10^12 + 999999999999).
constexpr float kSectionEnd = 18446744.0f;

// What every word of one pair shares: its two positions, as a word of section 0 and
// offset code 0, and the length of a section of the shorter file.
struct PairWords {
  std::uint64_t positions = 0;
  float section_length = 0.0f;
};

PairWords pair_words(int p, int q, float dB) {
  std::uint64_t none = 0;
  std::uint64_t longer = static_cast<std::uint64_t>(p);
  std::uint64_t shorter = static_cast<std::uint64_t>(q);
  return {composeints::composeInts3(none, longer, shorter, none), dB * kSectionShare};
}

// The word for row frame tA of the longer file matched with tB of the shorter; false when
// the word cannot hold the match.
inline bool match_word_of(double tA, double tB, const PairWords& pair, std::uint64_t& word) {
  const double code =
      (tB - tA) * kHopSamples / static_cast<double>(kAnalysisRate) * kHundredthsPerSecond + kOffsetCodeZero;
  // A difference the six-digit code cannot hold would spill into the position fields.
  if (!(code >= 0.0 && code < kOffsetCodeEnd)) return false;
  std::uint64_t section = 0;
  // Without a duration there is nothing to cut into sections: every match lies in section 0.
  if (pair.section_length > 0.0f) {
    const float seconds = static_cast<float>(tA * kHopSamples / static_cast<double>(kAnalysisRate));
    const float slice = seconds / pair.section_length;
    if (!(slice < kSectionEnd)) return false;
    section = static_cast<std::uint64_t>(slice);
  }
  // The fields add up modulo 2^64 as composeInts3 adds them, in any order.
  word = section * match_word::kSectionUnit + pair.positions + static_cast<std::uint64_t>(code);
  return true;
}

std::size_t match_budget(float shorter_seconds) {
  const double wanted = kBudgetPerSecond * static_cast<double>(shorter_seconds);
  // A duration that is not a number leaves the budget at its minimum.
  if (!(wanted > static_cast<double>(kMinimumBudget))) return kMinimumBudget;
  return static_cast<std::size_t>(std::min(wanted, kLargestBudget));
}

bool positions_fit(int p, int q) { return p >= 0 && q >= 0 && p < kPositionEnd && q < kPositionEnd; }

MatchList started_list(std::size_t budget) {
  MatchList list;
  list.reserve(std::min(budget, kReserveCap) + kReserveMargin);
  list.push_back(kListHead);
  return list;
}

std::size_t bit_reverse(std::size_t value, int bits) {
  std::size_t reversed = 0;
  for (int b = 0; b < bits; ++b) {
    reversed = (reversed << 1) | (value & 1u);
    value >>= 1;
  }
  return reversed;
}

// Rows of B are visited in bit-reversed order of their indices, so that whatever prefix
// the budget allows is spread evenly over the whole shorter recording rather than spent
// on its first seconds. Once the whole table fits, the order does not show: the list is
// sorted afterwards. Stops when visit(row) returns false.
template <class Visit>
void walk_rows_bit_reversed(std::size_t rows, Visit&& visit) {
  int bits = 0;
  while ((std::size_t{1} << bits) < rows) ++bits;
  const std::size_t walk = std::size_t{1} << bits;
  for (std::size_t i = 0; i < walk; ++i) {
    const std::size_t row = bit_reverse(i, bits);
    if (row >= rows) continue;
    if (!visit(row)) return;
  }
}

// A's rows by landmark hash: the rows of hashes[k] are rows[starts[k] .. starts[k + 1]),
// in table order.
struct HashIndex {
  std::vector<std::uint64_t> hashes;
  std::vector<std::uint32_t> starts;
  std::vector<std::uint32_t> rows;
};

HashIndex index_by_hash(const LandmarkTable& table) {
  const std::size_t count = static_cast<std::size_t>(table.rows());
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(count);
  for (std::size_t r = 0; r < count; ++r)
    keyed[r] = {table(static_cast<Eigen::Index>(r), 1), static_cast<std::uint32_t>(r)};
  std::sort(keyed.begin(), keyed.end());
  HashIndex index;
  index.rows.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    if (k == 0 || keyed[k].first != keyed[k - 1].first) {
      index.hashes.push_back(keyed[k].first);
      index.starts.push_back(static_cast<std::uint32_t>(k));
    }
    index.rows.push_back(keyed[k].second);
  }
  index.starts.push_back(static_cast<std::uint32_t>(count));
  return index;
}

// The list of a pair as B's rows, in bit-reversed order, meet the frames of A's rows of
// their hash, in table order, until the budget is reached: `frames_of(hash, take)` calls
// take(frame) for each of them.
template <class FramesOf>
MatchList match_rows_of_b(const LandmarkTable& B, int p, int q, float dB, FramesOf&& frames_of) {
  const std::size_t budget = match_budget(dB);
  MatchList list = started_list(budget);
  if (positions_fit(p, q)) {
    const PairWords words = pair_words(p, q, dB);
    walk_rows_bit_reversed(static_cast<std::size_t>(B.rows()), [&](std::size_t rb) {
      if (list.size() >= budget) return false;
      const Eigen::Index r = static_cast<Eigen::Index>(rb);
      const double tB = static_cast<double>(B(r, 0));
      std::uint64_t word = 0;
      frames_of(B(r, 1), [&](std::uint64_t frame) {
        if (match_word_of(static_cast<double>(frame), tB, words, word)) list.push_back(word);
      });
      return true;
    });
  }
  return list;
}

MatchList match_against_index(const LandmarkTable& A, const HashIndex& index,
                              const LandmarkTable& B, int p, int q, float dB) {
  MatchList list = match_rows_of_b(B, p, q, dB, [&](std::uint64_t hash, auto&& take) {
    const auto found = std::lower_bound(index.hashes.begin(), index.hashes.end(), hash);
    if (found == index.hashes.end() || *found != hash) return;
    const std::size_t k = static_cast<std::size_t>(found - index.hashes.begin());
    for (std::uint32_t s = index.starts[k]; s < index.starts[k + 1]; ++s)
      take(A(static_cast<Eigen::Index>(index.rows[s]), 0));
  });
  shrink_capacity(list);
  return list;
}

// A pair one of whose tables has at most kFewRows rows is matched by scanning A for each
// of B's rows, without building an index.
constexpr Eigen::Index kFewRows = 4;

MatchList match_by_scanning(const LandmarkTable& A, const LandmarkTable& B, int p, int q, float dB) {
  MatchList list = match_rows_of_b(B, p, q, dB, [&](std::uint64_t hash, auto&& take) {
    for (Eigen::Index ra = 0; ra < A.rows(); ++ra)
      if (A(ra, 1) == hash) take(A(ra, 0));
  });
  std::sort(list.begin(), list.end());
  shrink_capacity(list);
  return list;
}

bool in_one_device_group(const DeviceGroups& groups, int i, int j) {
  for (const std::vector<int>& group : groups) {
    if (std::find(group.begin(), group.end(), i) != group.end() &&
        std::find(group.begin(), group.end(), j) != group.end())
      return true;
  }
  return false;
}

struct PlannedPair {
  int longer;
  int shorter;
};

// Every pair i < j of the first `usable` entries that may be compared, in the order the
// slots take them; prints the comparison's console lines.
std::vector<PlannedPair> plan_pairs(int usable, const std::vector<float>& durations,
                                    const DeviceGroups& groups) {
  std::vector<PlannedPair> plan;
  for (int i = 0; i < usable; ++i) {
    for (int j = i + 1; j < usable; ++j) {
      if (in_one_device_group(groups, i, j)) continue;
      // A fourth digit of a position would overwrite the section field.
      if (i >= kPositionEnd || j >= kPositionEnd) continue;
      const float di = durations[static_cast<std::size_t>(i)];
      const float dj = durations[static_cast<std::size_t>(j)];
      const bool far_apart = dj > 4.0f * di || di > 4.0f * dj;
      // Equal durations: the earlier entry takes the part of the longer file.
      if (dj > di) {
        if (!far_apart)
          console() << "vo else section...\n"
                    << "vo vtoriot else...\n";
        plan.push_back({j, i});
      } else {
        console() << "vo else section...\n";
        if (!far_apart) console() << "vo vtoriot else...\n";
        plan.push_back({i, j});
      }
    }
  }
  return plan;
}

// The landmarks of every file that is the longer one of some pair, in one index for the
// whole run. Group g is one hash; its occurrences are occurrences[starts[g] ..
// starts[g + 1]), by the file's rank, then in table order. Files are ranked longest
// first, so the files a shorter one is matched with come before it in every group and
// its walk leaves each group at its own rank. Every file also keeps the group of each of
// its rows (kNoGroup when no longer file has that hash), so that walking a shorter file
// needs no search, and a file with none of its hashes never comes up at all.
struct Occurrence {
  std::uint32_t rank;
  std::uint32_t frame_or_row;  // see LandmarkIndex::frames
};

// Rows are counted in 32 bits, as in HashIndex: a table of 2^32 rows would fill 64 GB.
constexpr std::uint32_t kNoGroup = std::numeric_limits<std::uint32_t>::max();

struct LandmarkIndex {
  std::vector<std::size_t> starts;
  std::vector<Occurrence> occurrences;
  std::vector<std::vector<std::uint32_t>> group_of_row;  // by file
  std::vector<int> file_of_rank;
  std::vector<int> rank_of_file;  // -1: not in the index
  // The occurrences hold the row's frame, so that a walk reads no longer table, where each
  // read would land far from the last; their table rows instead when a frame needs more
  // than 32 bits (an hour is 150000 frames).
  bool frames = true;
};

// Longest first, then in entry order; durations that are no number last. Any order would
// give the same lists: this one only lets walks end early.
std::vector<int> ranked_files(const std::vector<char>& longer, const std::vector<float>& durations) {
  std::vector<int> files;
  for (std::size_t f = 0; f < longer.size(); ++f)
    if (longer[f]) files.push_back(static_cast<int>(f));
  std::sort(files.begin(), files.end(), [&](int x, int y) {
    const float dx = durations[static_cast<std::size_t>(x)];
    const float dy = durations[static_cast<std::size_t>(y)];
    if (std::isnan(dx) != std::isnan(dy)) return std::isnan(dy);
    if (!std::isnan(dx) && dx != dy) return dx > dy;
    return x < y;
  });
  return files;
}

// Sorted union of the sorted distinct lists parts[lo, hi).
std::vector<std::uint64_t> union_of(const std::vector<const std::vector<std::uint64_t>*>& parts,
                                    std::size_t lo, std::size_t hi) {
  if (hi <= lo) return {};
  if (hi - lo == 1) return *parts[lo];
  const std::size_t mid = lo + (hi - lo) / 2;
  const std::vector<std::uint64_t> left = union_of(parts, lo, mid);
  const std::vector<std::uint64_t> right = union_of(parts, mid, hi);
  std::vector<std::uint64_t> merged;
  merged.reserve(left.size() + right.size());
  std::set_union(left.begin(), left.end(), right.begin(), right.end(), std::back_inserter(merged));
  return merged;
}

// `longer[f]`: file f's landmarks go into the index; `walked[f]`: its rows get groups.
LandmarkIndex index_landmarks(const std::vector<LandmarkTable>& tables, const std::vector<float>& durations,
                              const std::vector<char>& longer, const std::vector<char>& walked) {
  const std::size_t files = longer.size();
  LandmarkIndex index;
  index.group_of_row.resize(files);
  index.file_of_rank = ranked_files(longer, durations);
  index.rank_of_file.assign(files, -1);
  for (std::size_t r = 0; r < index.file_of_rank.size(); ++r)
    index.rank_of_file[static_cast<std::size_t>(index.file_of_rank[r])] = static_cast<int>(r);
  // Each file's distinct hashes, its rows numbered by them for now.
  std::vector<std::vector<std::uint64_t>> distinct(files);
  ordered_parallel_for(
      static_cast<int>(files), worker_count(),
      [&](int f) {
        if (!longer[f] && !walked[f]) return;
        const LandmarkTable& table = tables[static_cast<std::size_t>(f)];
        const std::size_t count = static_cast<std::size_t>(table.rows());
        std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(count);
        for (std::size_t r = 0; r < count; ++r)
          keyed[r] = {table(static_cast<Eigen::Index>(r), 1), static_cast<std::uint32_t>(r)};
        std::sort(keyed.begin(), keyed.end());
        std::vector<std::uint32_t>& groups = index.group_of_row[static_cast<std::size_t>(f)];
        groups.resize(count);
        std::vector<std::uint64_t>& hashes = distinct[static_cast<std::size_t>(f)];
        for (std::size_t k = 0; k < count; ++k) {
          if (k == 0 || keyed[k].first != keyed[k - 1].first) hashes.push_back(keyed[k].first);
          groups[keyed[k].second] = static_cast<std::uint32_t>(hashes.size() - 1);
        }
      },
      [](int) {});

  // The groups are the longer files' hashes; the union is split in one part per worker.
  std::vector<const std::vector<std::uint64_t>*> parts;
  for (std::size_t f = 0; f < files; ++f)
    if (longer[f]) parts.push_back(&distinct[f]);
  const std::size_t shares = std::min<std::size_t>(static_cast<std::size_t>(worker_count()), parts.size());
  std::vector<std::vector<std::uint64_t>> shared(shares);
  ordered_parallel_for(
      static_cast<int>(shares), worker_count(),
      [&](int s) {
        const std::size_t size = parts.size();
        shared[static_cast<std::size_t>(s)] = union_of(parts, size * static_cast<std::size_t>(s) / shares,
                                                       size * static_cast<std::size_t>(s + 1) / shares);
      },
      [](int) {});
  std::vector<const std::vector<std::uint64_t>*> shared_parts;
  for (const std::vector<std::uint64_t>& part : shared) shared_parts.push_back(&part);
  const std::vector<std::uint64_t> hashes = union_of(shared_parts, 0, shared_parts.size());
  std::vector<std::vector<std::uint64_t>>().swap(shared);

  ordered_parallel_for(
      static_cast<int>(files), worker_count(),
      [&](int f) {
        std::vector<std::uint64_t>& own = distinct[static_cast<std::size_t>(f)];
        std::vector<std::uint32_t> group_of_own(own.size(), kNoGroup);
        auto from = hashes.begin();
        for (std::size_t k = 0; k < own.size(); ++k) {
          from = std::lower_bound(from, hashes.end(), own[k]);
          if (from != hashes.end() && *from == own[k])
            group_of_own[k] = static_cast<std::uint32_t>(from - hashes.begin());
        }
        for (std::uint32_t& group : index.group_of_row[static_cast<std::size_t>(f)])
          group = group_of_own[group];
        std::vector<std::uint64_t>().swap(own);
      },
      [](int) {});

  index.starts.assign(hashes.size() + 1, 0);
  for (std::size_t f = 0; f < files; ++f)
    if (longer[f])
      for (std::uint32_t group : index.group_of_row[f]) ++index.starts[group + 1];
  for (std::size_t g = 0; g < hashes.size(); ++g) index.starts[g + 1] += index.starts[g];
  index.occurrences.resize(index.starts.back());
  for (int file : index.file_of_rank) {
    const LandmarkTable& table = tables[static_cast<std::size_t>(file)];
    if (table.rows() > 0 && table.col(0).maxCoeff() > std::numeric_limits<std::uint32_t>::max())
      index.frames = false;
  }
  std::vector<std::size_t> next(index.starts.begin(), index.starts.end() - 1);
  for (std::size_t rank = 0; rank < index.file_of_rank.size(); ++rank) {
    const std::vector<std::uint32_t>& groups =
        index.group_of_row[static_cast<std::size_t>(index.file_of_rank[rank])];
    const LandmarkTable& table = tables[static_cast<std::size_t>(index.file_of_rank[rank])];
    for (std::size_t r = 0; r < groups.size(); ++r)
      index.occurrences[next[groups[r]]++] = {
          static_cast<std::uint32_t>(rank),
          static_cast<std::uint32_t>(index.frames ? table(static_cast<Eigen::Index>(r), 0) : r)};
  }
  // Rows of a file that is never walked need no groups once the occurrences are placed.
  for (std::size_t f = 0; f < files; ++f)
    if (!walked[f]) std::vector<std::uint32_t>().swap(index.group_of_row[f]);
  return index;
}

// The first occurrence after the run of `rank` that starts at `at`. A long recording
// holds a common hash hundreds of times; its run is crossed by halving once it has
// lasted a few steps.
const Occurrence* past_run(const Occurrence* at, const Occurrence* end, std::uint32_t rank) {
  constexpr int kSteps = 8;
  for (int step = 0; step < kSteps; ++step, ++at)
    if (at == end || at->rank != rank) return at;
  return std::upper_bound(at, end, rank,
                          [](std::uint32_t r, const Occurrence& o) { return r < o.rank; });
}

// The lists of the pairs plan[pairs[..]], all with `b` as the shorter file, made in one
// walk of b's rows. Each longer file takes b's rows in the walk's order until its own
// list has reached the budget, exactly as if the pair were matched alone: its list only
// grows on rows whose group holds it, so testing it there is testing it before each row.
void match_shorter_file(const LandmarkIndex& index, const std::vector<LandmarkTable>& tables,
                        const std::vector<PlannedPair>& plan, const std::vector<int>& pairs, int b,
                        float dB, std::vector<MatchList>& lists) {
  const std::size_t budget = match_budget(dB);
  struct Partner {
    MatchList* list;
    const LandmarkTable* table;
    PairWords words;
    bool open;
  };
  std::vector<Partner> partners;
  std::vector<int> partner_of(index.file_of_rank.size(), -1);  // by rank
  std::uint32_t rank_end = 0;
  for (int pair : pairs) {
    MatchList& list = lists[static_cast<std::size_t>(pair)];
    list = started_list(budget);
    const int a = plan[static_cast<std::size_t>(pair)].longer;
    if (!positions_fit(a, b)) continue;
    const int rank = index.rank_of_file[static_cast<std::size_t>(a)];
    partner_of[static_cast<std::size_t>(rank)] = static_cast<int>(partners.size());
    rank_end = std::max(rank_end, static_cast<std::uint32_t>(rank) + 1);
    partners.push_back({&list, &tables[static_cast<std::size_t>(a)], pair_words(a, b, dB), true});
  }

  std::size_t open = partners.size();
  const LandmarkTable& B = tables[static_cast<std::size_t>(b)];
  const std::vector<std::uint32_t>& groups = index.group_of_row[static_cast<std::size_t>(b)];
  const Occurrence* occurrences = index.occurrences.data();
  walk_rows_bit_reversed(static_cast<std::size_t>(B.rows()), [&](std::size_t rb) {
    if (open == 0) return false;
    const std::uint32_t group = groups[rb];
    if (group == kNoGroup) return true;
    const double tB = static_cast<double>(B(static_cast<Eigen::Index>(rb), 0));
    const Occurrence* at = occurrences + index.starts[group];
    const Occurrence* const end = occurrences + index.starts[group + 1];
    while (at != end && at->rank < rank_end) {
      const std::uint32_t rank = at->rank;
      const int whose = partner_of[rank];
      if (whose < 0 || !partners[static_cast<std::size_t>(whose)].open) {
        at = past_run(at, end, rank);
        continue;
      }
      Partner& partner = partners[static_cast<std::size_t>(whose)];
      const LandmarkTable& A = *partner.table;
      std::uint64_t word = 0;
      for (; at != end && at->rank == rank; ++at) {
        const std::uint64_t frame =
            index.frames ? at->frame_or_row : A(static_cast<Eigen::Index>(at->frame_or_row), 0);
        if (match_word_of(static_cast<double>(frame), tB, partner.words, word))
          partner.list->push_back(word);
      }
      if (partner.list->size() >= budget) {
        partner.open = false;
        --open;
      }
    }
    return true;
  });

  for (int pair : pairs) {
    MatchList& list = lists[static_cast<std::size_t>(pair)];
    std::sort(list.begin(), list.end());
    shrink_capacity(list);
  }
}

// Bytes the dump of slots[0, filled) takes: each value's digits, a comma and a newline.
std::uint64_t match_dump_bytes(const std::vector<PairSlot>& slots, std::size_t filled) {
  std::uint64_t bytes = 0;
  for (std::size_t s = 0; s < filled; ++s)
    for (std::uint64_t value : slots[s].list) {
      int digits = 1;
      for (std::uint64_t v = value; v >= 10; v /= 10) ++digits;
      bytes += static_cast<std::uint64_t>(digits) + 2;
    }
  return bytes;
}

// The values of slots[0, filled) one a line, each followed by ",": what export2csvBIG
// writes of them as one column, without first copying them all into one. A dump over
// kMatchDumpBytesPerEntry an entry is written only when BRENVIK_MATCH_DUMP asks for it:
// on a shoot of hundreds of files it would be the largest thing a run writes (350 MB at
// 240 files), for a debugging aid; the one an earlier run left goes, so that it is not
// taken for this run's.
void write_match_dump(const char* name, const std::vector<PairSlot>& slots, std::size_t filled,
                      int entries) {
  const std::uint64_t bytes = match_dump_bytes(slots, filled);
  const std::uint64_t bound = kMatchDumpBytesPerEntry * static_cast<std::uint64_t>(std::max(entries, 1));
  const char* asked = std::getenv(kMatchDumpVariable);
  if (bytes > bound && !(asked && std::string_view(asked) == "1")) {
    std::remove(name);
    logthis(std::string(kMatchDumpName) + " not written: " + std::to_string(bytes >> 20) + " MB for " +
            std::to_string(entries) + " entries; " + kMatchDumpVariable + "=1 writes it");
    return;
  }
  std::ofstream out(name, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!out) return;
  std::string text;
  char digits[24];
  for (std::size_t s = 0; s < filled; ++s) {
    for (std::uint64_t value : slots[s].list) {
      const auto written = std::to_chars(digits, digits + sizeof digits, value);
      text.append(digits, written.ptr);
      text += ",\n";
      if (text.size() > (1u << 16)) {
        out << text;
        text.clear();
      }
    }
  }
  out << text;
}

}  // namespace

MatchList proveri2(const LandmarkTable& A, const LandmarkTable& B, int p, int q, float /*dA*/,
                   float dB) {
  return match_against_index(A, index_by_hash(A), B, p, q, dB);
}

std::optional<std::vector<std::uint64_t>> list_without_positions(const MatchList& list, int p, int q) {
  if (!positions_fit(p, q)) return std::nullopt;
  const std::uint64_t positions = static_cast<std::uint64_t>(p) * 1000u + static_cast<std::uint64_t>(q);
  std::vector<std::uint64_t> unplaced;
  unplaced.reserve(list.size());
  bool head = false;
  for (std::uint64_t word : list) {
    // The head sorts among the words; a word of the pair (0, 9) may equal it, and then
    // either of the two may be taken for it.
    if (!head && word == kListHead) {
      head = true;
      continue;
    }
    const std::uint64_t rest = word % match_word::kSectionUnit;
    if (rest / match_word::kShorterUnit != positions) return std::nullopt;
    unplaced.push_back(match_word::section(word) * match_word::kShorterUnit + rest % match_word::kShorterUnit);
  }
  if (!head) return std::nullopt;
  return unplaced;
}

MatchList list_at_positions(const std::vector<std::uint64_t>& unplaced, int p, int q) {
  const std::uint64_t positions = static_cast<std::uint64_t>(p) * match_word::kLongerUnit +
                                  static_cast<std::uint64_t>(q) * match_word::kShorterUnit;
  MatchList list;
  list.reserve(unplaced.size() + 1);
  for (std::uint64_t u : unplaced)
    list.push_back(u / match_word::kShorterUnit * match_word::kSectionUnit + positions +
                   u % match_word::kShorterUnit);
  list.insert(std::lower_bound(list.begin(), list.end(), kListHead), kListHead);
  return list;
}

std::vector<PairSlot> proveriall(const std::vector<LandmarkTable>& tables, int n,
                                 std::vector<float> durations, DeviceGroups groups,
                                 const ProgressFn& progress, const KeptLists& kept) {
  const std::size_t side = static_cast<std::size_t>(std::max(n, 0)) + 1;
  std::vector<PairSlot> slots(side * side);
  const int usable = static_cast<int>(std::min<std::size_t>(
      {static_cast<std::size_t>(std::max(n, 0)), tables.size(), durations.size()}));
  const std::vector<PlannedPair> plan = plan_pairs(usable, durations, groups);
  // Markers and files without sound are planned too, and compare nothing.
  const auto with_sound = std::count_if(plan.begin(), plan.end(), [&](const PlannedPair& p) {
    return durations[static_cast<std::size_t>(p.longer)] > 0.0f && durations[static_cast<std::size_t>(p.shorter)] > 0.0f;
  });
  logthis("pairs to compare: " + std::to_string(with_sound));

  std::vector<MatchList> lists(plan.size());
  std::vector<char> ready(plan.size(), 0);
  if (kept.take)
    ordered_parallel_for(
        static_cast<int>(plan.size()), worker_count(),
        [&](int p) {
          const PlannedPair& pair = plan[static_cast<std::size_t>(p)];
          if (std::optional<MatchList> list = kept.take(pair.longer, pair.shorter)) {
            lists[static_cast<std::size_t>(p)] = std::move(*list);
            ready[static_cast<std::size_t>(p)] = 1;
          }
        },
        [](int) {});

  // Shorter files are walked in the order the plan first needs them, so that the slots
  // and the progress reports, which go in plan order, follow the work closely.
  std::vector<char> longer(static_cast<std::size_t>(usable), 0);
  std::vector<char> walked(static_cast<std::size_t>(usable), 0);
  std::vector<int> walk_order;
  std::vector<std::vector<int>> pairs_of(static_cast<std::size_t>(usable));
  for (std::size_t p = 0; p < plan.size(); ++p) {
    if (ready[p]) continue;
    const std::size_t b = static_cast<std::size_t>(plan[p].shorter);
    // A marker's pairs, and those of a file that could not be fingerprinted, are matched
    // without the index, which a run that takes every other pair would otherwise build
    // whole for them.
    const LandmarkTable& A = tables[static_cast<std::size_t>(plan[p].longer)];
    if (std::min(A.rows(), tables[b].rows()) <= kFewRows) {
      lists[p] = match_by_scanning(A, tables[b], plan[p].longer, plan[p].shorter, durations[b]);
      if (kept.keep) kept.keep(plan[p].longer, plan[p].shorter, lists[p]);
      ready[p] = 1;
      continue;
    }
    longer[static_cast<std::size_t>(plan[p].longer)] = 1;
    if (!walked[b]) walk_order.push_back(plan[p].shorter);
    walked[b] = 1;
    pairs_of[b].push_back(static_cast<int>(p));
  }
  const LandmarkIndex index = index_landmarks(tables, durations, longer, walked);

  std::size_t next = 0;
  std::size_t k = 0;
  const auto fill_ready_slots = [&] {
    for (; next < plan.size() && ready[next]; ++next) {
      throw_if_stop_requested();
      if (!lists[next].empty() && k < slots.size()) {
        slots[k] = PairSlot{std::move(lists[next]), plan[next].longer, plan[next].shorter};
        ++k;
      }
      if (progress) progress(kStageMatch, static_cast<int>(next) + 1, static_cast<int>(plan.size()));
    }
  };
  fill_ready_slots();
  ordered_parallel_for(
      static_cast<int>(walk_order.size()), worker_count(),
      [&](int t) {
        const int b = walk_order[static_cast<std::size_t>(t)];
        const std::vector<int>& pairs = pairs_of[static_cast<std::size_t>(b)];
        match_shorter_file(index, tables, plan, pairs, b, durations[static_cast<std::size_t>(b)], lists);
        if (kept.keep)
          for (int pair : pairs)
            kept.keep(plan[static_cast<std::size_t>(pair)].longer, b, lists[static_cast<std::size_t>(pair)]);
      },
      [&](int t) {
        for (int pair : pairs_of[static_cast<std::size_t>(walk_order[static_cast<std::size_t>(t)])])
          ready[static_cast<std::size_t>(pair)] = 1;
        fill_ready_slots();
      });

  console() << "line 2153\n";
  write_match_dump(run_folder().match_dump.c_str(), slots, k, n);
  return slots;
}

void export2csvBIG(const char* name,
                   const Eigen::Matrix<std::uint64_t, Eigen::Dynamic, Eigen::Dynamic>& table,
                   int cols, int rows) {
  std::ofstream out(name, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!out) return;
  const Eigen::Index last_row = std::min<Eigen::Index>(rows, table.rows());
  const Eigen::Index last_col = std::min<Eigen::Index>(cols, table.cols());
  std::string text;
  char digits[24];
  for (Eigen::Index r = 0; r < last_row; ++r) {
    for (Eigen::Index c = 0; c < last_col; ++c) {
      const auto written = std::to_chars(digits, digits + sizeof digits, table(r, c));
      text.append(digits, written.ptr);
      text += ',';
    }
    text += '\n';
    if (text.size() > (1u << 16)) {
      out << text;
      text.clear();
    }
  }
  out << text;
}

void shrink_capacity(MatchList& list) { list.shrink_to_fit(); }
