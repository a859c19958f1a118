#include "engine/synco.h"
#include "media/devicegroups.h"
#include "media/media.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

using testing_support::file_exists;
using testing_support::TempRunDir;

namespace {

// True when `lines` appear in `text` in this order, each as a whole line.
::testing::AssertionResult HasLinesInOrder(const std::string& text,
                                           const std::vector<std::string>& lines) {
  const std::string whole = "\n" + text;
  size_t at = 0;
  for (const std::string& line : lines) {
    at = whole.find("\n" + line + "\n", at);
    if (at == std::string::npos)
      return ::testing::AssertionFailure() << "missing, or out of order: \"" << line << "\"";
    at += line.size() + 1;
  }
  return ::testing::AssertionSuccess();
}

SyncOptions into(std::ostream& sink, ProgressFn progress = {}) {
  SyncOptions o;
  o.console = &sink;
  o.open_output = false;
  o.progress = std::move(progress);
  return o;
}

const std::vector<std::string> kStart = {
    "pocetok na sync c kernel....", "pred ffmpeg..", "posle ffmpeg..",
    "fahlovite se resemplirani vo 8000hz -------------------------"};
const std::string kBeforeMatching =
    "PRED PROVERI ALL MNOGU BITNO!!!!!!!!!!!!!!!  -------------------------";

}  // namespace

TEST(Synco, RunWithoutAPairInSyncLogsEveryStageAndEndsEarly) {
  TempRunDir dir;
  const std::vector<std::string> files = {dir.file("missing one.mov"), kBeginMarker,
                                          dir.file("missing two.wav"), kEndMarker};
  std::ostringstream sink;
  EXPECT_EQ(synco(files, 0.99, 1920, 1080, 25.0f, 0, into(sink)), "nema");

  const std::vector<std::string> analysis = analysis_names(files);
  std::vector<std::string> expected = kStart;
  expected.insert(expected.end(), analysis.begin(), analysis.end());
  expected.push_back("i=0");  // the device groups come after the analysis names
  for (size_t i = 0; i < files.size(); ++i) {
    expected.push_back("687");
    expected.push_back("vkupniot broj na maksovi:2");
  }
  expected.push_back(kBeforeMatching);
  expected.push_back("POSLE PROVERI ALL MNOGU BITNO!!!!!!!!!!!!!!!  -------------------------");
  expected.push_back("posle csvwrite...");
  EXPECT_TRUE(HasLinesInOrder(dir.log_text(), expected)) << dir.log_text();
  EXPECT_NE(sink.str().find("resemplirani\n" + analysis[0] + "\n" + analysis[1] + "\n" +
                            analysis[2] + "\n" + analysis[3] + "\n"),
            std::string::npos)
      << sink.str();
  EXPECT_FALSE(file_exists("csvtabela.csv"));
  EXPECT_FALSE(file_exists("Brenvik.app/SYNCED/SYNCED_fcp.XML"));

  TempRunDir empty;  // the same road, without entry lines
  EXPECT_EQ(synco({}, 0.99, 1920, 1080, 25.0f, 0, into(sink)), "nema");
  EXPECT_TRUE(HasLinesInOrder(empty.log_text(), {kStart[0], kStart[2], kBeforeMatching,
                                                 "posle csvwrite..."}));
  EXPECT_EQ(empty.log_text().find("687"), std::string::npos);
}

TEST(Synco, AnalysisWavsDoNotOutliveARunThatFindsNothing) {
  TempRunDir dir;
  ASSERT_TRUE(testing_support::make_media(dir.file("tone.wav"), "sine=frequency=440:sample_rate=48000", 2));
  ASSERT_TRUE(testing_support::make_media(dir.file("noise.wav"), "anoisesrc=seed=5:sample_rate=48000", 2));
  const std::vector<std::string> files = {dir.file("tone.wav"), dir.file("noise.wav")};
  std::ostringstream sink;
  std::vector<int> fingerprinted;
  const auto progress = [&](std::string_view stage, int i, int n) {
    if (stage == "fingerprint") fingerprinted.push_back(i);
    if (stage == "fingerprint" || stage == "transcode") EXPECT_EQ(n, 2) << stage;
  };
  EXPECT_EQ(synco(files, 0.99, 1920, 1080, 25.0f, 0, into(sink, progress)), "nema");
  for (const std::string& wav : analysis_names(files)) EXPECT_FALSE(file_exists(wav)) << wav;
  EXPECT_TRUE(file_exists(dir.file("tone.wav")));
  EXPECT_EQ(fingerprinted, (std::vector<int>{1, 2}));
}
