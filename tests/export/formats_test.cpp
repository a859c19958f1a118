#include "export/formats.h"

#include "core/log.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

const char* kClassic[4] = {"SYNCED_fcp.XML", "UNSYNCED_fcp.XML", "SYNCED_premierePro.XML",
                           "UNSYNCED_premierePro.XML"};

std::vector<Document> classic(const std::string& text) {
  std::vector<Document> docs;
  for (const char* name : kClassic) docs.push_back({name, text + " " + name});
  return docs;
}

TimelineMember member(const std::string& path, int entry, double start) {
  TimelineMember m;
  m.entry = entry;
  m.device = entry;
  m.path = path;
  m.duration = 10.0f;
  m.length = 10.0;
  m.frame_rate = 25.0f;
  m.start = start;
  m.exact_start = start;
  return m;
}

}  // namespace

TEST(TimelineFormats, EveryGroupHasItsMltAndEveryDocumentNamesItsApplications) {
  Timeline timeline;
  for (int g = 0; g < 3; ++g)
    timeline.groups.push_back({{member("/m/a" + std::to_string(g) + ".mov", 2 * g, 0.0),
                                member("/m/b" + std::to_string(g) + ".mov", 2 * g + 1, 1.5)},
                               {},
                               {}});
  timeline.unsynced = {member("/m/loose.mov", 6, 0.0)};
  std::ostringstream trace;
  ConsoleCapture quiet(trace);
  const std::vector<Document> docs = timeline_documents(timeline, export_settings(25.0f, 1920, 1080, 0));

  std::vector<std::string> names;
  for (const Document& d : docs) {
    names.push_back(d.name);
    EXPECT_FALSE(d.text.empty()) << d.name;
    EXPECT_TRUE(is_document_name(d.name)) << d.name;
    EXPECT_FALSE(applications_for(d.name).empty()) << d.name;
  }
  const std::vector<std::string> expected = {
      "SYNCED_fcp.XML", "UNSYNCED_fcp.XML", "SYNCED_premierePro.XML", "UNSYNCED_premierePro.XML",
      "SYNCED.otio",    "UNSYNCED.otio",    "SYNCED.fcpxml",          "UNSYNCED.fcpxml",
      "SYNCED.mlt",     "SYNCED-2.mlt",     "SYNCED-3.mlt",           "UNSYNCED.mlt",
      "SYNCED.kdenlive", "SYNCED-2.kdenlive", "SYNCED-3.kdenlive",    "UNSYNCED.kdenlive",
      "SYNCED_merged_fcp.XML", "SYNCED_merged_premierePro.XML"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(applications_for("SYNCED_premierePro.XML"), "Premiere Pro");
  EXPECT_EQ(applications_for("SYNCED-12.mlt"), applications_for("SYNCED.mlt"));
  EXPECT_EQ(applications_for("SYNCED-2.kdenlive"), "Kdenlive");
  for (const char* other : {"SYNCED-02.mlt", "SYNCED-1.mlt", "SYNCED-x.mlt", "SYNCED.mlt.txt",
                            "csvtabela.csv", "SYNCED-2.otio"})
    EXPECT_FALSE(is_document_name(other)) << other;
}

TEST(TimelineFormats, RewritingReplacesEveryDocumentOrNone) {
  testing_support::TempRunDir dir;
  const std::string folder = dir.file("Brenvik.app/SYNCED");
  std::filesystem::create_directories(folder);
  write_documents(classic("first"), folder);
  write_documents(classic("second"), folder);
  for (const char* name : kClassic)
    EXPECT_EQ(testing_support::read_file(folder + "/" + name), std::string("second ") + name) << name;
  // One document that cannot be replaced: the run hears why, the other three stay as they were.
  std::filesystem::remove(folder + "/" + kClassic[3]);
  std::filesystem::create_directory(folder + "/" + kClassic[3]);
  EXPECT_THROW(write_documents(classic("third"), folder), std::runtime_error);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(testing_support::read_file(folder + "/" + kClassic[i]), std::string("second ") + kClassic[i])
        << kClassic[i];
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 4);
  EXPECT_THROW(write_documents(classic("fourth"), dir.file("missing")), std::runtime_error);
}

TEST(TimelineFormats, FurtherGroupsOfAnEarlierRunGoAndLookalikesStay) {
  testing_support::TempRunDir dir;
  const std::string folder = dir.file("out");
  std::filesystem::create_directories(folder);
  std::vector<Document> three = classic("x");
  three.insert(three.end(), {{"SYNCED.mlt", "1"}, {"SYNCED-2.mlt", "2"}, {"SYNCED-3.mlt", "3"}});
  EXPECT_EQ(write_documents(three, folder).size(), 7u);
  // Names that only look like a further timeline's are the user's, and stay.
  for (const char* other : {"SYNCED-02.mlt", "SYNCED-x.mlt", "SYNCED-1.mlt", "SYNCED-3.mlt.txt"})
    testing_support::write_file(folder + "/" + other, "mine");
  std::vector<Document> one = classic("y");
  one.push_back({"SYNCED.mlt", "only"});
  const std::vector<std::string> written = write_documents(one, folder);
  EXPECT_EQ(written.back(), folder + "/SYNCED.mlt");
  EXPECT_EQ(testing_support::read_file(folder + "/SYNCED.mlt"), "only");
  EXPECT_FALSE(std::filesystem::exists(folder + "/SYNCED-2.mlt"));
  EXPECT_FALSE(std::filesystem::exists(folder + "/SYNCED-3.mlt"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 4 + 1 + 4);
}

// Each editor's document is one the applications table says that editor opens, and
// its further groups' documents count as its own.
TEST(TimelineFormats, EachEditorOpensADocumentTheTableGivesIt) {
  ASSERT_EQ(editors().size(), 6u);
  for (const Editor& editor : editors()) {
    EXPECT_EQ(find_editor(editor.key), &editor);
    EXPECT_EQ(find_editor(std::string(editor.name)), &editor);
    if (editor.document.empty()) continue;
    EXPECT_NE(applications_for(editor.document).find(editor.name), std::string::npos) << editor.name;
    EXPECT_TRUE(opens_in(editor, editor.document)) << editor.name;
    EXPECT_FALSE(opens_in(editor, "UN" + std::string(editor.document))) << editor.name;
  }
  ASSERT_NE(find_editor("DAVINCI resolve"), nullptr);
  EXPECT_EQ(find_editor("davinci resolve")->document, "SYNCED.fcpxml");
  EXPECT_EQ(find_editor("Avid"), nullptr);
  EXPECT_TRUE(opens_in(*find_editor("shotcut"), "SYNCED-2.mlt"));
  EXPECT_FALSE(opens_in(*find_editor("other"), "SYNCED.otio"));
}

// The time of an earlier run's documents, told the way a person would say it.
TEST(TimelineFormats, EarlierRunTimeIsThatOfItsNewestDocument) {
  namespace fs = std::filesystem;
  testing_support::TempRunDir dir;
  fs::create_directory("out");
  EXPECT_EQ(earlier_run_time("out"), "");
  testing_support::write_file("out/notes.txt", "mine");
  EXPECT_EQ(earlier_run_time("out"), "");

  testing_support::write_file("out/SYNCED.otio", "{}");
  testing_support::write_file("out/SYNCED_fcp.XML", "<xmeml/>");
  const auto at = [](int days_ago, int hour, int minute) {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    t.tm_mday -= days_ago;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = 30;
    t.tm_isdst = -1;
    return fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(std::mktime(&t)));
  };
  fs::last_write_time("out/SYNCED.otio", at(0, 0, 2));
  fs::last_write_time("out/SYNCED_fcp.XML", at(0, 0, 1));
  fs::last_write_time("out/notes.txt", at(0, 0, 3));
  EXPECT_EQ(earlier_run_time("out"), "00:02");

  fs::last_write_time("out/SYNCED.otio", at(3, 14, 5));
  fs::last_write_time("out/SYNCED_fcp.XML", at(3, 9, 0));
  std::time_t then = std::chrono::system_clock::to_time_t(
      fs::file_time_type::clock::to_sys(fs::last_write_time("out/SYNCED.otio")));
  std::tm t{};
  localtime_r(&then, &t);
  char day[16];
  std::strftime(day, sizeof day, "%Y-%m-%d", &t);
  EXPECT_EQ(earlier_run_time("out"), std::string(day) + " 14:05");
}
