#include "core/log.h"
#include "matching/groups.h"
#include "media/devicegroups.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <sstream>

namespace {

using testing_support::read_file;
using testing_support::TempRunDir;

// Result rows (shorter, longer, offset, sections, confidence, most hits), flattened.
std::vector<float> rows(std::initializer_list<std::vector<float>> list) {
  std::vector<float> flat;
  for (const std::vector<float>& row : list) flat.insert(flat.end(), row.begin(), row.end());
  return flat;
}

Eigen::MatrixXf clean_of(const std::vector<float>& flat) {
  const Eigen::Index n = static_cast<Eigen::Index>(flat.size()) / 6;
  return Eigen::Map<const Eigen::MatrixXf>(flat.data(), 6, n).topRows(5);
}

SyncGroups group(const std::vector<float>& results, const std::vector<std::string>& files) {
  std::ostringstream text;
  ConsoleCapture capture(text);
  return build_sync_groups(results, files, std::vector<std::string>(files.size(), "25"),
                           std::vector<float>(files.size(), 60.0f));
}

}  // namespace

TEST(ResultTables, WritesGeneralNotationWithFiveDigits) {
  TempRunDir dir;
  Eigen::MatrixXf values(2, 3);
  values << 3, -1.25f, 1e-5f, 100000, 2.718281f, 123456;
  export2csv("t.csv", values, 3, 2);
  EXPECT_EQ(read_file("t.csv"), "3,-1.25,1e-05,\n1e+05,2.7183,1.2346e+05,\n");
  export2csv("t.csv", values, 1, 1);
  EXPECT_EQ(read_file("t.csv"), "3,\n");
}

TEST(ResultTables, CleanTableDropsReversedDuplicates) {
  TempRunDir dir;
  const std::vector<float> results =
      rows({{0, 1, 2.5f, 4, 0.8f, 12}, {2, 1, -1.25f, 3, 1e-5f, 9}, {1, 0, -2.5f, 5, 0.7f, 11}});
  group(results, {"a", "b", "c"});
  EXPECT_EQ(read_file("csvtabela.csv"),
            "0,2,1,\n1,1,0,\n2.5,-1.25,-2.5,\n4,3,5,\n0.8,1e-05,0.7,\n12,9,11,\n");
  EXPECT_EQ(read_file("csvtabela-clean.csv"), "0,2,\n1,1,\n2.5,-1.25,\n4,3,\n0.8,1e-05,\n");
}

TEST(SyncGroups, PlacesMembersOnACommonStart) {
  TempRunDir dir;
  // File 2 (shorter) hears a sound 3 s later than file 0: file 0 starts 3 s after file 2.
  EXPECT_EQ(groopy(clean_of(rows({{2, 0, 3.0f, 5, 1, 10}}))),
            (std::vector<std::map<int, float>>{{{0, 0}, {2, -3}}}));
  const SyncGroups one = group(rows({{2, 0, 3.0f, 5, 1, 10}}), {"a", "b", "c"});
  EXPECT_EQ(one.files, (std::vector<std::vector<std::string>>{{"a", "c"}}));
  EXPECT_EQ(one.offsets, (std::vector<std::vector<float>>{{3, 0}}));

  const SyncGroups two =
      group(rows({{2, 3, 1.5f, 5, 1, 10}, {1, 0, 2.0f, 5, 1, 10}}), {"a", "b", "c", "d"});
  EXPECT_EQ(two.files, (std::vector<std::vector<std::string>>{{"a", "b"}, {"c", "d"}}));
  EXPECT_EQ(two.offsets, (std::vector<std::vector<float>>{{2, 0}, {0, 1.5f}}));
}

TEST(SyncGroups, PlacesEveryMemberWhateverTheColumnOrder) {
  TempRunDir dir;
  // (2, 3) comes before either of its files is placed; it places file 3 on a second walk.
  // File 1 starts 1 s before file 0, file 2 4 s before file 1, file 3 2 s before file 2.
  const SyncGroups g =
      group(rows({{0, 1, -1, 5, 1, 10}, {2, 3, -2, 5, 1, 10}, {1, 2, -4, 5, 1, 10}}),
            {"a", "b", "c", "d"});
  EXPECT_EQ(g.files, (std::vector<std::vector<std::string>>{{"a", "b", "c", "d"}}));
  EXPECT_EQ(g.offsets, (std::vector<std::vector<float>>{{7, 6, 2, 0}}));
  EXPECT_TRUE(g.unsynced_paths.empty());
}

TEST(SyncGroups, GroupsAreTheConnectedFilesAndShareNone) {
  // (6, 5), (4, 5), (6, 3): one sweep leaves column 0 in two lists.
  EXPECT_EQ(grupiraj(clean_of(rows({{6, 5, 0, 0, 0, 0}, {4, 5, 0, 0, 0, 0}, {6, 3, 0, 0, 0, 0}}))),
            (std::vector<std::vector<int>>{{0, 1, 2}}));
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

TEST(SyncGroups, UnsyncedListSkipsMembersByTextAndMarkers) {
  TempRunDir dir;
  const std::vector<std::string> files = {"a.mov",    kBeginMarker, "b.mov", "c.wav",
                                          kEndMarker, "a.mov",      "d.mov"};
  std::ostringstream text;
  ConsoleCapture capture(text);
  const SyncGroups g = build_sync_groups(rows({{2, 0, 1.0f, 5, 1, 10}}), files,
                                         {"25.000", "999", "29.970", "999", "999", "25.000", "24"},
                                         {10, 0, 20, 30, 0, 10, 40});
  EXPECT_EQ(g.unsynced_paths, (std::vector<std::string>{"c.wav", "d.mov"}));
  EXPECT_EQ(g.unsynced_fps, (std::vector<float>{999, 24}));
  EXPECT_EQ(g.unsynced_durations, (std::vector<float>{30, 40}));
  const std::string stars(67, '*');
  EXPECT_EQ(text.str(), "sinkani files\n" + stars + "\na.mov\nb.mov\nsinkani files\n" + stars +
                            "\nunsynced files\n" + stars + "\n");
  EXPECT_EQ(dir.log_text(), "pred polnenje na indeksi...\nc.wav\nd.mov\n");
}
