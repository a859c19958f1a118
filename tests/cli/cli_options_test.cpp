#include "cli/cli_options.h"
#include "engine/devicegroups.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using testing_support::TempRunDir;

namespace {

CliParse parse(std::vector<std::string> args, const std::string& cwd) { return parse_cli(args, cwd); }

}  // namespace

TEST(CliOptions, DefaultsAndOrderOfFilesAndDeviceGroups) {
  TempRunDir dir;
  for (const char* f : {"a.mov", "b.wav", "c.mp3", "d.mov"}) testing_support::write_file(f, "x");
  const CliParse p = parse({"a.mov", "--device", "b.wav", "c.mp3", "--end", dir.file("d.mov")}, dir.path());
  ASSERT_EQ(p.error, "");
  const std::vector<std::string> expected = {dir.file("a.mov"), kBeginMarker, dir.file("b.wav"),
                                             dir.file("c.mp3"), kEndMarker, dir.file("d.mov")};
  EXPECT_EQ(p.options.files, expected);
  EXPECT_DOUBLE_EQ(p.options.tolerance, 0.99);
  EXPECT_FLOAT_EQ(p.options.fps, 25.0f);
  EXPECT_EQ(p.options.width, 1920);
  EXPECT_EQ(p.options.height, 1080);
  EXPECT_EQ(p.options.premiere, 0);
  EXPECT_TRUE(p.options.refine);
  EXPECT_FALSE(p.options.quiet);
  EXPECT_FALSE(p.options.no_open);
}

TEST(CliOptions, SettingsAreRead) {
  TempRunDir dir;
  testing_support::write_file("a.mov", "x");
  const CliParse p = parse({"--tolerance", "0.995", "--fps", "29.97", "--width", "1280", "--height",
                            "720", "--premiere", "1", "--refine", "0", "--quiet", "--no-open", "a.mov"},
                           dir.path());
  ASSERT_EQ(p.error, "");
  EXPECT_DOUBLE_EQ(p.options.tolerance, 0.995);
  EXPECT_FLOAT_EQ(p.options.fps, 29.97f);
  EXPECT_EQ(p.options.width, 1280);
  EXPECT_EQ(p.options.height, 720);
  EXPECT_EQ(p.options.premiere, 1);
  EXPECT_FALSE(p.options.refine);
  EXPECT_TRUE(p.options.quiet);
  EXPECT_TRUE(p.options.no_open);
}

TEST(CliOptions, UsageErrorsNameTheProblem) {
  TempRunDir dir;
  testing_support::write_file("a.mov", "x");
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--bogus", "a.mov"}, "unknown option --bogus"},
      {{"a.mov", "--fps"}, "--fps needs a value"},
      {{"--fps", "fast", "a.mov"}, "--fps takes"},
      {{"--tolerance", "1.5", "a.mov"}, "--tolerance takes"},
      {{"--width", "-3", "a.mov"}, "--width takes"},
      {{"--premiere", "2", "a.mov"}, "--premiere takes 0 or 1"},
      {{"missing.mov"}, "no such file: missing.mov"},
      {{"--device", "a.mov"}, "--device without its --end"},
      {{"--end", "a.mov"}, "--end without --device"},
      {{"--device", "--device", "a.mov", "--end"}, "--device inside --device"},
      {{}, "no media files given"},
      {{"--device", "--end"}, "no media files given"},
  };
  for (const auto& [args, message] : cases) {
    const CliParse p = parse(args, dir.path());
    EXPECT_NE(p.error.find(message), std::string::npos) << "got: " << p.error;
  }
}
