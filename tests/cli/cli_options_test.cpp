#include "cli/cli_options.h"
#include "media/devicegroups.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

using testing_support::TempRunDir;

TEST(CliOptions, FilesDeviceGroupsAndSettingsAreRead) {
  TempRunDir dir;
  for (const char* f : {"a.mov", "b.wav", "c.mp3", "d.mov"}) testing_support::write_file(f, "x");
  CliParse p =
      parse_cli({"a.mov", "--device", "b.wav", "c.mp3", "--end", dir.file("d.mov")}, dir.path());
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.files,
            (std::vector<std::string>{dir.file("a.mov"), kBeginMarker, dir.file("b.wav"),
                                      dir.file("c.mp3"), kEndMarker, dir.file("d.mov")}));
  EXPECT_TRUE(p.options.settings == RunSettings{});
  EXPECT_FALSE(p.options.quiet || p.options.no_open);

  p = parse_cli({"--tolerance", "0.98", "--fps", "29.97", "--width", "1280", "--height", "720",
                 "--premiere", "1", "--refine", "0", "--drift-correct", "0", "--quiet", "--no-open",
                 "--out", "docs", "--devices", "auto", "a.mov"},
                dir.path());
  ASSERT_EQ(p.error, "");
  EXPECT_TRUE(p.options.settings == (RunSettings{.tolerance = 0.98, .fps = 29.97f, .width = 1280,
                                                 .height = 720, .premiere = 1, .refine = false,
                                                 .drift_correct = false, .find_devices = true}));
  EXPECT_TRUE(p.options.quiet && p.options.no_open);
  EXPECT_EQ(p.options.out, dir.file("docs"));
  EXPECT_EQ(p.options.editor, "");
  // An editor by its key or its name as the window shows it.
  EXPECT_EQ(parse_cli({"--editor", "DaVinci Resolve", "a.mov"}, dir.path()).options.editor, "resolve");
  EXPECT_EQ(parse_cli({"a.mov", "--editor", "kdenlive"}, dir.path()).options.editor, "kdenlive");
  EXPECT_EQ(p.options.cache_limit, kDefaultCacheLimit);
  EXPECT_EQ(parse_cli({"--cache-limit", "500M", "a.mov"}, dir.path()).options.cache_limit, 500ull << 20);
  EXPECT_EQ(parse_cli({"--cache-limit", "3g", "a.mov"}, dir.path()).options.cache_limit, 3ull << 30);
  EXPECT_EQ(parse_cli({"--cache-limit", "4096", "a.mov"}, dir.path()).options.cache_limit, 4096u);

  // After "--" names that look like options are files.
  for (const char* f : {"-x.wav", "--quiet.mov"}) testing_support::write_file(f, "x");
  ASSERT_TRUE(testing_support::make_media("dashes.wav", "sine=frequency=300:sample_rate=8000", 1));
  std::filesystem::rename("dashes.wav", "--");
  p = parse_cli({"--no-open", "--", "-x.wav", "--quiet.mov", "--"}, dir.path());
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.files,
            (std::vector<std::string>{dir.file("-x.wav"), dir.file("--quiet.mov"), dir.file("--")}));
  EXPECT_TRUE(p.options.no_open && !p.options.quiet);
}

// Files beside the recordings (the event's notes, a table) are left out and named, and a
// device group they alone made goes with them; a media name is trusted, a sound is read.
TEST(CliOptions, FilesThatAreNotRecordingsAreLeftOut) {
  TempRunDir dir;
  for (const char* f : {"a.mov", "devices.txt", "truth.json", "manifest.tsv", "still.png"})
    testing_support::write_file(f, f == std::string("still.png") ? "\x89PNG\r\n\x1a\n" : "x\ty\n");
  ASSERT_TRUE(testing_support::make_media("take.wav", "sine=frequency=300:sample_rate=8000", 1));
  std::filesystem::rename("take.wav", "take.rec");
  CliParse p = parse_cli({"devices.txt", "a.mov", "--device", "truth.json", "--end", "--device",
                          "manifest.tsv", "take.rec", "--end", "still.png"},
                         dir.path());
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.files, (std::vector<std::string>{dir.file("a.mov"), kBeginMarker,
                                                       dir.file("take.rec"), kEndMarker}));
  EXPECT_EQ(p.options.left_out,
            (std::vector<std::string>{"devices.txt", "truth.json", "manifest.tsv", "still.png"}));
  p = parse_cli({"devices.txt"}, dir.path());
  EXPECT_EQ(p.error, "no media files given");
  EXPECT_EQ(p.options.left_out, std::vector<std::string>{"devices.txt"});
}

TEST(CliOptions, UsageErrorsNameTheProblem) {
  TempRunDir dir;
  testing_support::write_file("a.mov", "x");
  testing_support::write_file("b\x01.mov", "x");
  std::filesystem::create_symlink("a.mov", "link.mov");
  std::filesystem::create_directory("sub");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--bogus", "a.mov"}, "unknown option --bogus"},
      {{"a.mov", "--fps"}, "--fps needs a value"},
      {{"--fps", "fast", "a.mov"}, "--fps takes"},
      {{"a.mov", "--out"}, "--out needs a folder"},
      {{"--refine", "yes", "a.mov"}, "--refine takes 0 or 1"},
      {{"--devices", "all", "a.mov"}, "--devices takes marked or auto, not 'all'"},
      {{"--editor", "Avid", "a.mov"}, "--editor takes one of finalcut, premiere, resolve, kdenlive, shotcut, other, not 'Avid'"},
      {{"a.mov", "--editor"}, "--editor takes one of"},
      {{"--cache-limit", "0", "a.mov"}, "--cache-limit takes a size such as 500M or 4G (--no-cache for none), not '0'"},
      {{"--cache-limit", "2GB", "a.mov"}, "not '2GB'"},
      {{"--cache-limit", "M", "a.mov"}, "not 'M'"},
      {{"--cache-limit", "99999999999T", "a.mov"}, "not '99999999999T'"},
      {{"a.mov", "--cache-limit"}, "--cache-limit takes a size"},
      {{"missing.mov"}, "no such file: missing.mov"},
      {{"--device", "a.mov"}, "--device without its --end"},
      {{"--end", "a.mov"}, "--end without --device"},
      {{"--device", "--device", "a.mov", "--end"}, "--device inside --device"},
      {{}, "no media files given"},
      {{"--device", "--end"}, "no media files given"},
      {{"--", "--device"}, "no such file: --device"},
      {{"a.mov", "--device", "a.mov", "--end"}, "a.mov is given twice"},
      {{"a.mov", "--", "a.mov"}, "a.mov is given twice"},
      {{"a.mov", "sub/../a.mov"}, "sub/../a.mov is given twice (first as a.mov)"},
      {{dir.file("link.mov"), "a.mov"},
       "a.mov is given twice (first as " + dir.file("link.mov") + ")"},
      {{"b\x01.mov", "./b\x01.mov"}, "./b\\x01.mov is given twice (first as b\\x01.mov)"},
      {{"a.mov", "--main-sound"}, "--main-sound needs a file"},
      {{"a.mov", "--main-sound", "gone.wav"}, "The main sound " + dir.file("gone.wav") + " cannot be read."},
      {{"a.mov", "--main-sound", "b\x01.mov"}, "is not one of the files to sync."},
  };
  EXPECT_EQ(parse_cli({"--main-sound", "link.mov", "a.mov"}, dir.path()).options.settings.main_sound, dir.file("a.mov"));
  for (const auto& [args, message] : cases) {
    const std::string error = parse_cli(args, dir.path()).error;
    EXPECT_NE(error.find(message), std::string::npos) << "got: " << error;
  }
}

// The command line and the shared check draw the same lines, on both sides of each limit.
TEST(CliSettings, LimitsAreTheSameOnTheCommandLineAndInTheSharedCheck) {
  TempRunDir dir;
  testing_support::write_file("a.mov", "x");
  struct Row {
    const char* option;
    const char* value;
    RunSettings settings;  // the defaults with that one value set
    bool allowed;
  };
  const Row rows[] = {
      {"--tolerance", "0", {.tolerance = 0}, false},
      {"--tolerance", "1e-9", {.tolerance = 1e-9}, true},
      {"--tolerance", "1", {.tolerance = 1}, true},
      {"--tolerance", "1.000001", {.tolerance = 1.000001}, false},
      {"--tolerance", "nan", {.tolerance = NAN}, false},
      {"--fps", "0", {.fps = 0}, false},
      {"--fps", "0.001", {.fps = 0.001f}, true},
      {"--fps", "1000", {.fps = 1000}, true},
      {"--fps", "1000.001", {.fps = 1000.001f}, false},
      {"--width", "0", {.width = 0}, false},
      {"--width", "1", {.width = 1}, true},
      {"--width", "100000", {.width = 100000}, true},
      {"--height", "100001", {.height = 100001}, false},
      {"--premiere", "1", {.premiere = 1}, true},
      {"--premiere", "2", {.premiere = 2}, false},
  };
  for (const Row& row : rows) {
    const std::string option = row.option;
    const std::string error = parse_cli({option, row.value, "a.mov"}, dir.path()).error;
    EXPECT_EQ(error.empty(), row.allowed) << option << " " << row.value << ": " << error;
    EXPECT_EQ(error.rfind(option + " takes ", 0) == 0, !row.allowed) << error;
    const std::string problem = settings_problem(row.settings);
    EXPECT_EQ(problem.empty(), row.allowed) << option << " " << row.value << ": " << problem;
  }
  EXPECT_EQ(settings_problem(RunSettings{}), "");
}
