#include "matching/groups.h"

#include "core/entries.h"
#include "core/format.h"
#include "core/log.h"

#include <algorithm>
#include <fstream>
#include <locale>
#include <ostream>
#include <utility>

namespace {

constexpr int kCsvPrecision = 5;
// Fields of a result row: shorter, longer, offset (s), sections, confidence, most hits.
constexpr Eigen::Index kResultFields = 6;
constexpr Eigen::Index kCleanFields = 5;
// Marks a reversed duplicate in the file fields of a result column.
constexpr float kDuplicateMark = 999.0f;
// Marks a dead column list and a repeated chain entry.
constexpr int kDead = 9999;
constexpr std::size_t kAsterisks = 67;
constexpr std::size_t kGroupReserve = 100;

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

}  // namespace

void export2csv(const char* name, Eigen::MatrixXf table, int cols, int rows) {
  std::ofstream out(name, std::ios::out | std::ios::trunc);
  if (!out) return;
  out.imbue(std::locale::classic());
  out.precision(kCsvPrecision);
  const Eigen::Index last_row = std::min<Eigen::Index>(rows, table.rows());
  const Eigen::Index last_col = std::min<Eigen::Index>(cols, table.cols());
  for (Eigen::Index r = 0; r < last_row; ++r) {
    for (Eigen::Index c = 0; c < last_col; ++c) out << static_cast<double>(table(r, c)) << ',';
    out << '\n';
    out.flush();
  }
}

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

SyncGroups build_sync_groups(const std::vector<float>& results,
                             const std::vector<std::string>& files,
                             const std::vector<std::string>& framerates,
                             const std::vector<float>& durations) {
  const Eigen::Index count = static_cast<Eigen::Index>(results.size()) / kResultFields;
  Eigen::MatrixXf table = Eigen::Map<const Eigen::MatrixXf>(results.data(), kResultFields, count);
  export2csv("csvtabela.csv", table, static_cast<int>(count), static_cast<int>(kResultFields));

  // Of two columns naming one pair in opposite order, the earlier one stays.
  for (Eigen::Index c = 0; c < count; ++c) {
    for (Eigen::Index k = 0; k < count; ++k) {
      if (table(0, c) == table(1, k) && table(1, c) == table(0, k)) {
        table(0, k) = kDuplicateMark;
        table(1, k) = kDuplicateMark;
      }
    }
  }
  std::vector<Eigen::Index> kept;
  for (Eigen::Index c = 0; c < count; ++c)
    if (table(0, c) != kDuplicateMark) kept.push_back(c);
  Eigen::MatrixXf clean(kCleanFields, static_cast<Eigen::Index>(kept.size()));
  for (std::size_t k = 0; k < kept.size(); ++k)
    clean.col(static_cast<Eigen::Index>(k)) = table.col(kept[k]).head(kCleanFields);
  export2csv("csvtabela-clean.csv", clean, static_cast<int>(clean.cols()),
             static_cast<int>(kCleanFields));

  const std::vector<std::map<int, float>> maps = groopy(clean);

  SyncGroups out;
  out.files.reserve(kGroupReserve);
  out.offsets.reserve(kGroupReserve);
  std::vector<std::string> synced;
  logthis("pred polnenje na indeksi...");
  for (const std::map<int, float>& placed : maps) {
    std::vector<std::string> members;
    std::vector<float> offsets;
    for (const auto& [file, offset] : placed) {
      if (file < 0 || static_cast<std::size_t>(file) >= files.size()) continue;
      members.push_back(files[static_cast<std::size_t>(file)]);
      offsets.push_back(offset);
      synced.push_back(files[static_cast<std::size_t>(file)]);
    }
    out.files.push_back(std::move(members));
    out.offsets.push_back(std::move(offsets));
  }

  const std::string asterisks(kAsterisks, '*');
  console() << "sinkani files\n" << asterisks << '\n';
  for (const std::string& path : synced) console() << path << '\n';
  console() << "sinkani files\n" << asterisks << '\n';

  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string& path = files[i];
    if (std::find(synced.begin(), synced.end(), path) != synced.end()) continue;
    if (is_marker(path)) continue;
    out.unsynced_paths.push_back(path);
    out.unsynced_fps.push_back(i < framerates.size() ? framerate_number(framerates[i]) : 0.0f);
    out.unsynced_durations.push_back(i < durations.size() ? durations[i] : 0.0f);
  }
  console() << "unsynced files\n" << asterisks << '\n';
  for (const std::string& path : out.unsynced_paths) logthis(path);

  // The earliest member of every group starts at 0.
  for (std::vector<float>& offsets : out.offsets) {
    if (offsets.empty()) continue;
    const float earliest = *std::min_element(offsets.begin(), offsets.end());
    if (earliest < 0.0f)
      for (float& offset : offsets) offset += std::abs(earliest);
  }
  return out;
}
