#include "engine/devicegroups.h"
#include "engine/media.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testing_support::TempRunDir;

namespace {

// "B" and "E" stand for the markers in their analysis-list form, other names for files.
std::vector<std::string> analysis_list(const std::vector<std::string>& shorthand) {
  std::vector<std::string> out;
  for (const std::string& s : shorthand) {
    if (s == "B") out.push_back(std::string(kBeginMarker) + kAnalysisSuffix);
    else if (s == "E") out.push_back(std::string(kEndMarker) + kAnalysisSuffix);
    else out.push_back(s + kAnalysisSuffix);
  }
  return out;
}

struct GroupCase {
  const char* name;
  std::vector<std::string> entries;
  DeviceGroups expected;
};

}  // namespace

TEST(DeviceGroups, BracketingRules) {
  const std::vector<GroupCase> cases = {
      {"closed run, scanning resumes after END", {"B", "a", "b", "c", "E", "d"}, {{1, 2, 3}}},
      {"one file is no group", {"B", "a", "E"}, {}},
      {"cancelled pick", {"B", "E"}, {}},
      {"unclosed run takes the rest", {"B", "a", "b"}, {{1, 2}}},
      {"two runs in list order", {"a", "B", "b", "c", "E", "B", "d", "e", "E"}, {{2, 3}, {6, 7}}},
      {"no markers", {"a", "b", "c"}, {}},
      {"BEGIN inside a closed run is a member", {"B", "a", "B", "b", "E"}, {{1, 2, 3}}},
      {"BEGIN inside an unclosed run opens an overlapping group",
       {"B", "a", "B", "b", "c"},
       {{1, 2, 3, 4}, {3, 4}}},
      {"END before any BEGIN is ignored", {"E", "a", "b", "B", "c", "d", "E"}, {{4, 5}}},
      {"empty list", {}, {}},
  };
  for (const GroupCase& c : cases) {
    TempRunDir dir;
    EXPECT_EQ(devicegroopy(analysis_list(c.entries)), c.expected) << c.name;
  }
}

// The markers are recognised only in their analysis-list form, which is what the driver hands over.
TEST(DeviceGroups, BareMarkerTextsDelimitNothing) {
  TempRunDir dir;
  EXPECT_TRUE(devicegroopy({kBeginMarker, "a", "b", kEndMarker}).empty());
}

TEST(DeviceGroups, LogsItsWalk) {
  TempRunDir dir;
  const std::vector<std::string> list = analysis_list({"B", "a", "b", "E", "c"});
  devicegroopy(list);
  const std::string& begin = list[0];
  const std::string& end = list[3];
  const std::string a = list[1];
  const std::string b = list[2];
  EXPECT_EQ(dir.log_text(),
            "i=0\n" + begin + " = begin\n" +
                a + " ---zemanje  duri ne e END\n" + a + "\n" +
                b + " ---zemanje  duri ne e END\n" + b + "\n" +
                end + " ---zemanje  duri ne e END\n" +
                end + " ---kraj na grupata go zgolemuvame i i praime brejk na ovoj loop   i=3\n" +
                "zapisuvanje na temp vektorot vo rez...\n"
                "i=4\n");
}
