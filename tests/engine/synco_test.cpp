#include "engine/devicegroups.h"
#include "engine/media.h"
#include "engine/synco.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

using testing_support::TempRunDir;

namespace {

// True when `lines` appear in `text` in this order, each as a whole line.
::testing::AssertionResult HasLinesInOrder(const std::string& text,
                                           const std::vector<std::string>& lines) {
  size_t at = 0;
  for (const std::string& line : lines) {
    const size_t found = text.find("\n" + line + "\n", at == 0 ? 0 : at - 1);
    const bool first_line = at == 0 && text.rfind(line + "\n", 0) == 0;
    if (found == std::string::npos && !first_line)
      return ::testing::AssertionFailure() << "missing, or out of order: \"" << line << "\"";
    at = first_line ? line.size() + 1 : found + line.size() + 2;
  }
  return ::testing::AssertionSuccess();
}

SyncOptions silent() {
  static std::ostringstream sink;
  SyncOptions o;
  o.console = &sink;
  o.open_output = false;
  return o;
}

}  // namespace

TEST(Synco, RunWithoutAPairInSyncLogsEveryStageAndEndsEarly) {
  TempRunDir dir;
  const std::vector<std::string> files = {dir.file("missing one.mov"), kBeginMarker,
                                          dir.file("missing two.wav"), kEndMarker};
  EXPECT_EQ(synco(files, 0.99, 1920, 1080, 25.0f, 0, silent()), "nema");

  const std::vector<std::string> analysis = analysis_names(files);
  std::vector<std::string> expected = {"pocetok na sync c kernel....", "pred ffmpeg..",
                                       "posle ffmpeg..",
                                       "fahlovite se resemplirani vo 8000hz -------------------------"};
  expected.insert(expected.end(), analysis.begin(), analysis.end());
  for (size_t i = 0; i < files.size(); ++i) {
    expected.push_back("687");
    expected.push_back("vkupniot broj na maksovi:2");
  }
  expected.push_back("PRED PROVERI ALL MNOGU BITNO!!!!!!!!!!!!!!!  -------------------------");
  expected.push_back("POSLE PROVERI ALL MNOGU BITNO!!!!!!!!!!!!!!!  -------------------------");
  expected.push_back("posle csvwrite...");
  EXPECT_TRUE(HasLinesInOrder(dir.log_text(), expected)) << dir.log_text();

  EXPECT_FALSE(testing_support::file_exists("csvtabela.csv"));
  EXPECT_FALSE(testing_support::file_exists("Brenvik.app/SYNCED/SYNCED_fcp.XML"));
}

TEST(Synco, EmptyListTakesTheSameRoadWithoutEntryLines) {
  TempRunDir dir;
  EXPECT_EQ(synco({}, 0.99, 1920, 1080, 25.0f, 0, silent()), "nema");
  const std::string log = dir.log_text();
  EXPECT_TRUE(HasLinesInOrder(log, {"pocetok na sync c kernel....", "posle ffmpeg..",
                                    "PRED PROVERI ALL MNOGU BITNO!!!!!!!!!!!!!!!  -------------------------",
                                    "posle csvwrite..."}));
  EXPECT_EQ(log.find("687"), std::string::npos);
}

TEST(Synco, AnalysisWavsDoNotOutliveARunThatFindsNothing) {
  TempRunDir dir;
  ASSERT_TRUE(testing_support::make_media(dir.file("tone.wav"), "sine=frequency=440:sample_rate=48000", 2));
  ASSERT_TRUE(testing_support::make_media(dir.file("noise.wav"), "anoisesrc=seed=5:sample_rate=48000", 2));
  const std::vector<std::string> files = {dir.file("tone.wav"), dir.file("noise.wav")};
  EXPECT_EQ(synco(files, 0.99, 1920, 1080, 25.0f, 0, silent()), "nema");
  for (const std::string& wav : analysis_names(files))
    EXPECT_FALSE(testing_support::file_exists(wav)) << wav;
  EXPECT_TRUE(testing_support::file_exists(dir.file("tone.wav")));
}

TEST(Synco, ConsoleGoesToTheChosenSinkAndProgressCountsEntries) {
  TempRunDir dir;
  std::ostringstream sink;
  std::vector<std::pair<std::string, int>> fingerprint_reports;
  SyncOptions o;
  o.console = &sink;
  o.open_output = false;
  o.progress = [&](std::string_view stage, int i, int n) {
    EXPECT_EQ(n, 3);
    if (stage == "fingerprint") fingerprint_reports.emplace_back(std::string(stage), i);
  };
  synco({dir.file("a.wav"), dir.file("b.wav"), dir.file("c.wav")}, 0.99, 1920, 1080, 25.0f, 0, o);
  EXPECT_NE(sink.str().find("resemplirani\n" + dir.file("a.wav") + kAnalysisSuffix + "\n"),
            std::string::npos);
  ASSERT_EQ(fingerprint_reports.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(fingerprint_reports[i].second, i + 1);
}
