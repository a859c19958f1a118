#include "core/process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <unistd.h>

using testing_support::TempRunDir;

namespace {

int run_cli(std::vector<std::string> args) {
  args.insert(args.begin(), BRENVIK_SYNC_EXE);
  return run_program(args, true);
}

}  // namespace

TEST(CliExit, StatusTellsUsageErrorsImpossibleRunsAndNothingInSync) {
  TempRunDir dir;
  testing_support::write_file("a.wav", "not audio");
  EXPECT_EQ(run_cli({"--help"}), 0);
  EXPECT_EQ(run_cli({"--frobnicate", "a.wav"}), 2);
  EXPECT_EQ(run_cli({"no-such-file.wav"}), 2);
  EXPECT_EQ(run_cli({"--device", "a.wav"}), 2);
  EXPECT_EQ(run_cli({"a.wav", "./a.wav"}), 2);

  ASSERT_TRUE(testing_support::make_media("b.wav", "anoisesrc=seed=1:sample_rate=8000", 3));
  ASSERT_TRUE(testing_support::make_media("c.wav", "sine=frequency=300:sample_rate=8000", 3));
  EXPECT_EQ(run_cli({"--quiet", "--no-open", "b.wav", "c.wav"}), 1);
  EXPECT_TRUE(testing_support::file_exists("Brenvik.app/LOG/log_file.txt"));

  std::filesystem::remove_all("Brenvik.app");
  EXPECT_EQ(run_cli({"--no-open", "a.wav"}), 3);
}

// The file manager that shows the documents runs on its own: one that stays open holds up
// nothing, and one that gives up at once is said, with where the documents are.
TEST(CliExit, EndsWithoutWaitingForTheFileManager) {
  namespace fs = std::filesystem;
  TempRunDir dir;
  ASSERT_TRUE(testing_support::make_media("long.wav", "anoisesrc=seed=11:sample_rate=8000,tremolo=f=2.5:d=0.9", 16));
  ASSERT_EQ(testing_support::ffmpeg({"-i", "long.wav", "-ss", "4", "-t", "9", "cut.wav"}), 0);
  const std::string out = dir.file("out");
  {
    testing_support::StandInViewer viewer;
    ASSERT_EQ(run_cli({"--quiet", "--out", out, "long.wav", "cut.wav"}), 0);
    const auto ended = fs::file_time_type::clock::now();
    auto written = fs::file_time_type::min();
    for (const fs::directory_entry& e : fs::directory_iterator(out))
      written = std::max(written, e.last_write_time());
    EXPECT_LT(ended - written, std::chrono::seconds(2));
    for (int i = 0; i < 1000 && !viewer.running(); ++i) usleep(10000);
    EXPECT_TRUE(viewer.running());
    EXPECT_EQ(viewer.shown(), out);
  }
  testing_support::StandInViewer gives_up(3);
  std::string said;
  ASSERT_EQ(run_program({BRENVIK_SYNC_EXE, "--quiet", "--out", out, "long.wav", "cut.wav"}, said), 0);
  EXPECT_EQ(said, "brenvik-sync: No file manager to show the folder: the projects are in " + out);
}

// The editor's document comes first, and a later run that replaces the run folder's
// projects says whose they were: the documents' time.
TEST(CliExit, NamesTheEditorsDocumentAndSaysWhatItReplaced) {
  TempRunDir dir;
  ASSERT_TRUE(testing_support::make_media("long.wav", "anoisesrc=seed=11:sample_rate=8000,tremolo=f=2.5:d=0.9", 16));
  ASSERT_EQ(testing_support::ffmpeg({"-i", "long.wav", "-ss", "4", "-t", "9", "cut.wav"}), 0);
  std::string out;
  ASSERT_EQ(run_program_output({BRENVIK_SYNC_EXE, "--quiet", "--no-open", "--editor", "resolve", "long.wav", "cut.wav"}, out), 0);
  const std::string synced = "Synced: the timelines are in " + dir.file("Brenvik.app/SYNCED") + "\n";
  EXPECT_NE(out.find(synced + "Open in DaVinci Resolve: " + dir.file("Brenvik.app/SYNCED/SYNCED.fcpxml") + "\n  SYNCED_fcp.XML"),
            std::string::npos) << out;
  std::string said;
  ASSERT_EQ(run_program({BRENVIK_SYNC_EXE, "--quiet", "--no-open", "long.wav", "cut.wav"}, said), 0);
  EXPECT_EQ(said.substr(0, said.size() - 5), "brenvik-sync: replaced the projects of the run of ");
  EXPECT_EQ(said.substr(said.size() - 5, 1).find_first_not_of("012"), std::string::npos) << said;
  EXPECT_EQ(said[said.size() - 3], ':') << said;
  ASSERT_EQ(run_program_output({BRENVIK_SYNC_EXE, "--quiet", "--no-open", "long.wav", "cut.wav"}, out), 0);
  EXPECT_NE(out.find(synced + "  SYNCED_fcp.XML"), std::string::npos) << out;
  EXPECT_EQ(out.find("Open in"), std::string::npos) << out;
}
