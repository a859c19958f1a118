#include "cli/cli_options.h"
#include "media/devicegroups.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <tuple>

using testing_support::TempRunDir;

namespace {

auto settings(const CliOptions& o) {
  return std::make_tuple(o.tolerance, o.fps, o.width, o.height, o.premiere, o.refine, o.quiet,
                         o.no_open);
}

}  // namespace

TEST(CliOptions, FilesDeviceGroupsAndSettingsAreRead) {
  TempRunDir dir;
  for (const char* f : {"a.mov", "b.wav", "c.mp3", "d.mov"}) testing_support::write_file(f, "x");
  CliParse p =
      parse_cli({"a.mov", "--device", "b.wav", "c.mp3", "--end", dir.file("d.mov")}, dir.path());
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.files,
            (std::vector<std::string>{dir.file("a.mov"), kBeginMarker, dir.file("b.wav"),
                                      dir.file("c.mp3"), kEndMarker, dir.file("d.mov")}));
  EXPECT_EQ(settings(p.options), std::make_tuple(0.99, 25.0f, 1920, 1080, 0, true, false, false));

  p = parse_cli({"--tolerance", "0.98", "--fps", "29.97", "--width", "1280", "--height", "720",
                 "--premiere", "1", "--refine", "0", "--quiet", "--no-open", "a.mov"},
                dir.path());
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(settings(p.options), std::make_tuple(0.98, 29.97f, 1280, 720, 1, false, true, true));
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
    const std::string error = parse_cli(args, dir.path()).error;
    EXPECT_NE(error.find(message), std::string::npos) << "got: " << error;
  }
}
