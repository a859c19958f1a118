#include "engine/process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

using testing_support::TempRunDir;

namespace {

int run_cli(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {BRENVIK_SYNC_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, true);
}

}  // namespace

TEST(CliExit, StatusTellsUsageErrorsFromImpossibleRuns) {
  TempRunDir dir;
  testing_support::write_file("a.wav", "not audio");
  EXPECT_EQ(run_cli({"--help"}), 0);
  EXPECT_EQ(run_cli({"--frobnicate", "a.wav"}), 2);
  EXPECT_EQ(run_cli({"no-such-file.wav"}), 2);
  EXPECT_EQ(run_cli({"--device", "a.wav"}), 2);

  std::filesystem::remove_all("Brenvik.app");
  EXPECT_EQ(run_cli({"--no-open", "a.wav"}), 3);
}

TEST(CliExit, RunWithNothingInSyncExitsWithOne) {
  TempRunDir dir;
  ASSERT_TRUE(testing_support::make_media(dir.file("a.wav"), "anoisesrc=seed=1:sample_rate=8000", 3));
  ASSERT_TRUE(testing_support::make_media(dir.file("b.wav"), "sine=frequency=300:sample_rate=8000", 3));
  EXPECT_EQ(run_cli({"--quiet", "--no-open", "a.wav", "b.wav"}), 1);
  EXPECT_TRUE(testing_support::file_exists("Brenvik.app/LOG/log_file.txt"));
}
