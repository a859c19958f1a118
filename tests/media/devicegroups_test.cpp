#include "media/devicegroups.h"
#include "media/media.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "B" and "E" stand for the markers in their analysis-list form, other names for files.
std::vector<std::string> analysis_list(const std::vector<std::string>& shorthand) {
  std::vector<std::string> out;
  for (const std::string& s : shorthand)
    out.push_back((s == "B" ? kBeginMarker : s == "E" ? kEndMarker : s) + kAnalysisSuffix);
  return out;
}

}  // namespace

TEST(DeviceGroups, BracketingRules) {
  const std::tuple<const char*, std::vector<std::string>, DeviceGroups> cases[] = {
      {"closed run, scanning resumes after END", {"B", "a", "b", "c", "E", "d"}, {{1, 2, 3}}},
      {"one file is no group", {"B", "a", "E"}, {}},
      {"cancelled pick", {"B", "E"}, {}},
      {"unclosed run takes the rest", {"B", "a", "b"}, {{1, 2}}},
      {"two runs in list order", {"a", "B", "b", "c", "E", "B", "d", "e", "E"}, {{2, 3}, {6, 7}}},
      {"no markers", {"a", "b", "c"}, {}},
      {"BEGIN inside a closed run is a member", {"B", "a", "B", "b", "E"}, {{1, 2, 3}}},
      {"BEGIN in an unclosed run opens another", {"B", "a", "B", "b", "c"}, {{1, 2, 3, 4}, {3, 4}}},
      {"END before any BEGIN is ignored", {"E", "a", "b", "B", "c", "d", "E"}, {{4, 5}}},
      {"empty list", {}, {}},
  };
  testing_support::TempRunDir dir;  // the walk is logged
  for (const auto& [name, entries, expected] : cases)
    EXPECT_EQ(devicegroopy(analysis_list(entries)), expected) << name;
  // Only the analysis-list form, which the driver hands over, is a marker.
  EXPECT_TRUE(devicegroopy({kBeginMarker, "a", "b", kEndMarker}).empty());
}
