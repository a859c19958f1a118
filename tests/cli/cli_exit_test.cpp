#include "core/process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

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
