#include "core/log.h"
#include "media/devicegroups.h"
#include "media/media.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <clocale>
#include <filesystem>
#include <langinfo.h>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using testing_support::file_exists;
using testing_support::make_media;
using testing_support::TempRunDir;

namespace {

constexpr const char* kStereo48k = "aevalsrc=sin(2*PI*440*t)|sin(2*PI*660*t):s=48000";

// Rate, channels and format of a WAV, and its length in tenths of a second.
std::tuple<int, int, int, long> wav_shape(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return {};
  sf_close(f);
  return {info.samplerate, info.channels, info.format, std::lround(info.frames / 800.0)};
}

std::vector<std::string> failure_lines(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("ffmpeg failed", 0) == 0) out.push_back(line);
  return out;
}

// The transcoder's workers print from their own threads: capture the process-wide sink.
struct ConsoleInto {
  explicit ConsoleInto(std::ostream& sink) { set_console(&sink); }
  ~ConsoleInto() { set_console(nullptr); }
};

bool make_video_only(const std::string& path, const std::string& rate) {
  return testing_support::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=" + rate, "-t",
                                  "1", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                                  "yuv420p", path}) == 0;
}

}  // namespace

TEST(Transcoding, CommandTextQuotesProgramInputAndAnalysisName) {
  TempRunDir dir;
  EXPECT_EQ(transcoder_command_text("/m/x.wav"),
            "\"" + dir.path() +
                "/Brenvik.app/ffmpeg\"   -i \"/m/x.wav\" -vn -acodec pcm_s16le -ar 8000 -ac 1 -f "
                "wav -y \"/m/x.wav_temporary_file_to_be_deleted.wav\"");
}

// Names a shell would execute or split, a relative name that looks like an option, and
// markers around a one-file device pick, all in one parallel run.
TEST(Transcoding, EveryNameIsTranscodedAsItIsAndNothingIsExecuted) {
  TempRunDir dir;
  const std::string media = dir.file("media");
  fs::create_directories(media);
  const std::vector<std::string> files = {
      media + "/a \"b\".wav",       kBeginMarker,           media + "/$(touch pwned).wav",
      kEndMarker,                   media + "/`touch pwned2`.wav", media + "/čćž Ünï.wav",
      media + "/with  two blanks.wav", "-dash.wav"};
  std::string expected_console;
  for (const std::string& f : files) {
    if (is_marker(f)) continue;
    ASSERT_TRUE(make_media(fs::absolute(f).string(), kStereo48k, f == files[0] ? 3.0 : 1.0)) << f;
    expected_console += transcoder_command_text(f) + "\n";
  }
  std::ostringstream shown;
  std::vector<std::tuple<std::string, int, int>> calls;
  std::vector<std::string> names;
  {
    ConsoleInto into(shown);
    names = resemplirajgi8000(
        files, [&](std::string_view stage, int i, int n) { calls.emplace_back(stage, i, n); }, 3);
  }

  EXPECT_EQ(names, analysis_names(files));
  for (const std::string& f : files) {
    const std::string wav = f + kAnalysisSuffix;
    if (is_marker(f))
      EXPECT_FALSE(file_exists(wav)) << wav;
    else
      EXPECT_EQ(wav_shape(wav), std::make_tuple(8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                                f == files[0] ? 30l : 10l)) << wav;
  }
  for (const char* trace : {"pwned", "pwned2"}) {
    EXPECT_FALSE(file_exists(dir.file(trace))) << trace;
    EXPECT_FALSE(file_exists(media + "/" + trace)) << trace;
  }
  EXPECT_TRUE(failure_lines(dir.log_text()).empty()) << dir.log_text();
  // The longest file comes first, so finishing order differs from entry order.
  EXPECT_EQ(shown.str(), expected_console);
  std::vector<std::tuple<std::string, int, int>> expected_calls;
  for (int i = 1; i <= 8; ++i) expected_calls.emplace_back("transcode", i, 8);
  EXPECT_EQ(calls, expected_calls);
}

TEST(Transcoding, FailedEntriesAreLoggedAndTheRunGoesOn) {
  TempRunDir dir;
  const std::string good = dir.file("good.wav");
  const std::string silent_video = dir.file("no audio.mp4");
  const std::string missing = dir.file("missing.wav");
  const std::string not_media = dir.file("notes.wav");
  ASSERT_TRUE(make_media(good, kStereo48k, 1.0));
  ASSERT_TRUE(make_video_only(silent_video, "25"));
  ASSERT_TRUE(testing_support::write_file(not_media, "not a sound file"));
  // An earlier run's analysis WAV must not pass for the missing file's sound.
  ASSERT_TRUE(make_media(missing + kAnalysisSuffix, kStereo48k, 1.0));
  std::ostringstream shown;
  ConsoleInto into(shown);

  const std::vector<std::string> files = {silent_video, good, missing, not_media};
  EXPECT_EQ(resemplirajgi8000(files, {}, 2), analysis_names(files));
  EXPECT_EQ(std::get<0>(wav_shape(good + kAnalysisSuffix)), 8000);
  for (const std::string& bad : {silent_video, missing, not_media})
    EXPECT_FALSE(file_exists(bad + kAnalysisSuffix)) << bad;
  std::vector<std::string> expected = {"ffmpeg failed (exit status 1): " + silent_video,
                                       "ffmpeg failed (exit status 1): " + missing,
                                       "ffmpeg failed (exit status 1): " + not_media};
  EXPECT_EQ(failure_lines(dir.log_text()), expected);

  fs::remove("Brenvik.app/ffmpeg");
  fs::remove(good + kAnalysisSuffix);
  const std::vector<std::string> picked = {kBeginMarker, good, not_media, kEndMarker};
  EXPECT_EQ(resemplirajgi8000(picked), analysis_names(picked));
  EXPECT_FALSE(file_exists(good + kAnalysisSuffix));
  expected.push_back("ffmpeg failed (exit status 127): " + good);
  expected.push_back("ffmpeg failed (exit status 127): " + not_media);
  EXPECT_EQ(failure_lines(dir.log_text()), expected);
}

TEST(MediaInfo, ReportsTheVideoFrameRateAndNothingForAudioOnly) {
  TempRunDir dir;
  ASSERT_TRUE(make_video_only(dir.file("v25.mp4"), "25"));
  ASSERT_TRUE(testing_support::ffmpeg(
                  {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=30000/1001:duration=1", "-f",
                   "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=1", "-c:v",
                   "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac",
                   "-shortest", dir.file("v2997.mov")}) == 0);
  ASSERT_TRUE(make_media(dir.file("a.wav"), kStereo48k, 1.0));
  ASSERT_TRUE(make_media(dir.file("a.mp3"), kStereo48k, 1.0));

  EXPECT_EQ(getmediainfo(dir.file("v25.mp4")), "25.000");
  EXPECT_EQ(getmediainfo(dir.file("v2997.mov")), "29.970");
  EXPECT_EQ(getmediainfo(dir.file("a.wav")), "");
  EXPECT_EQ(getmediainfo(dir.file("a.mp3")), "");
  EXPECT_EQ(getmediainfo(dir.file("missing.mov")), "");

  const std::vector<std::string> files = {kBeginMarker, dir.file("v25.mp4"), kEndMarker,
                                          dir.file("a.wav"), dir.file("v2997.mov")};
  EXPECT_EQ(framerate_list(files),
            (std::vector<std::string>{"999", "25.000", "999", "999", "29.970"}));
}

// A bare command line runs in the "C" locale, where the library cannot open UTF-8 names.
TEST(MediaInfo, OpensNonAsciiPathsInTheCLocaleOnAnyThreadAndLeavesTheLocaleAlone) {
  TempRunDir dir;
  const std::string path = dir.file("čćž Ünï clip.mp4");
  ASSERT_TRUE(make_video_only(path, "25"));
  const std::string before = std::setlocale(LC_CTYPE, nullptr);
  std::setlocale(LC_CTYPE, "C");

  EXPECT_EQ(getmediainfo(path), "25.000");
  std::string from_worker;
  std::thread worker([&] { from_worker = getmediainfo(path); });
  worker.join();
  EXPECT_EQ(from_worker, "25.000");
  EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
  EXPECT_STRNE(nl_langinfo(CODESET), "UTF-8") << "the thread's own locale was not restored";

  std::setlocale(LC_CTYPE, before.c_str());
}
