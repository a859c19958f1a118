#include "core/entries.h"
#include "core/files.h"
#include "core/log.h"
#include "media/media.h"
#include "media/streams.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <langinfo.h>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using testing_support::make_media;
using testing_support::TempRunDir;

namespace {

constexpr const char* kStereo48k = "aevalsrc=sin(2*PI*440*t)|sin(2*PI*660*t):s=48000";

// Rate, channels and format of a WAV, and its length in tenths of a second; all 0 when
// there is none.
using Shape = std::tuple<int, int, int, long>;
const Shape kAnalysisWav{8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 10};

Shape wav_shape(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return {};
  sf_close(f);
  return {info.samplerate, info.channels, info.format, std::lround(info.frames / 800.0)};
}

// The transcoder's workers print from their own threads: silence the process-wide sink.
struct QuietConsole {
  std::ostringstream sink;
  QuietConsole() { set_console(&sink); }
  ~QuietConsole() { set_console(nullptr); }
};

bool make_video_only(const std::string& path, const std::string& rate) {
  return testing_support::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=" + rate, "-t",
                                  "1", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                                  "yuv420p", path}) == 0;
}

}  // namespace

// Names a shell would execute or split, a relative name that looks like an option, a name
// of 250 bytes, markers around a one-file device pick and entries the transcoder fails
// on, all in one parallel run into a work folder.
TEST(Transcoding, EveryNameIsTranscodedAsItIsOrLoggedAsFailedAndNothingIsExecuted) {
  TempRunDir dir;
  const std::string media = dir.file("media");
  fs::create_directories(media);
  const std::string silent_video = media + "/no audio.mp4", missing = media + "/missing.wav",
                    not_media = media + "/notes.wav";
  const std::vector<std::string> files = {
      media + "/a \"b\".wav",   kBeginMarker,  media + "/$(touch pwned).wav", kEndMarker,
      media + "/`touch pwned2`.wav", silent_video, media + "/čćž Ünï.wav", missing,
      media + "/" + std::string(246, 'x') + ".wav", not_media, "-dash.wav"};
  for (const std::string& f : files) {
    if (!is_marker(f) && f != missing) {
      ASSERT_TRUE(make_media(fs::absolute(f), kStereo48k, 1.0)) << f;
    }
  }
  ASSERT_TRUE(make_video_only(silent_video, "25"));
  ASSERT_TRUE(testing_support::write_file(not_media, "not a sound file"));
  QuietConsole quiet;
  std::vector<std::tuple<std::string, int, int>> calls;
  const auto progress = [&](std::string_view stage, int i, int n) { calls.emplace_back(stage, i, n); };
  const WorkFolder work;
  const std::vector<std::string> analysis = analysis_names(files, work.path());
  std::vector<std::string> failures;
  EXPECT_EQ(resemplirajgi8000(files, analysis, progress, 3, {}, &failures), analysis);

  std::vector<std::tuple<std::string, int, int>> expected_calls;
  const int media_files = static_cast<int>(files.size()) - 2;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& f = files[i];
    const bool fails = f == silent_video || f == missing || f == not_media;
    EXPECT_EQ(failures[i].empty(), !fails) << f << ": " << failures[i];
    EXPECT_EQ(dir.log_text().find("ffmpeg failed (exit status 1): " + f + "\n") != std::string::npos,
              fails);
    EXPECT_EQ(analysis[i].rfind(work.path() + "/", 0) == 0, !is_marker(f)) << analysis[i];
    EXPECT_EQ(wav_shape(analysis[i]), fails || is_marker(f) ? Shape{} : kAnalysisWav) << f;
    if (!is_marker(f))
      expected_calls.emplace_back("transcode", expected_calls.size() + 1, media_files);
  }
  EXPECT_EQ(failures[7], "No such file or directory");
  EXPECT_EQ(calls, expected_calls);
  for (const std::string& trace :
       {dir.file("pwned"), dir.file("pwned2"), media + "/pwned", media + "/pwned2"})
    EXPECT_FALSE(testing_support::file_exists(trace)) << trace;

  // Without the transcoder every file fails, with a reason all the same.
  fs::remove("Brenvik.app/ffmpeg");
  const std::vector<std::string> picked = {kBeginMarker, files[0], kEndMarker};
  resemplirajgi8000(picked, analysis_names(picked, work.path()), {}, 0, {}, &failures);
  EXPECT_EQ(failures[1], "ffmpeg failed (exit status 127)");
}

// A bare command line runs in the "C" locale, where the library cannot open UTF-8 names.
// A camera with a microphone on one input and nothing on the other: the silent input is
// left out of the analysis, while two live ones are mixed exactly as a plain transcode
// mixes them. Every work file beside the analysis WAVs is gone afterwards.
TEST(Transcoding, AChannelThatRecordsNothingIsLeftOutOfTheMix) {
  TempRunDir dir;
  const std::string left = dir.file("left live.mov"), right = dir.file("right live.wav"),
                    both = dir.file("both.wav");
  // The quiet input carries hiss 50 dB down, as an unplugged socket does.
  const std::string speech = "0.5*sin(2*PI*300*t)*sin(2*PI*3*t)", hiss = "0.003*(random(0)-0.5)";
  ASSERT_TRUE(make_media(left, "aevalsrc=" + speech + "|" + hiss + ":s=48000", 2.0));
  ASSERT_TRUE(make_media(right, "aevalsrc=" + hiss + "|" + speech + ":s=48000", 2.0));
  ASSERT_TRUE(make_media(both, kStereo48k, 2.0));
  const std::vector<std::string> files = {left, right, both};
  QuietConsole quiet;
  const WorkFolder work;
  const std::vector<std::string> analysis = analysis_names(files, work.path());
  SoundChoice choice;
  choice.streams = {1, 1, 1};
  choice.channels = {{2}, {2}, {2}};
  resemplirajgi8000(files, analysis, {}, 2, {}, nullptr, &choice);
  EXPECT_EQ(choice.channel, (std::vector<int>{0, 1, -1}));
  const auto power = [](const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<short> samples(static_cast<std::size_t>(f ? info.frames : 0));
    if (f) sf_read_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    if (f) sf_close(f);
    double sum = 0.0;
    for (short v : samples) sum += static_cast<double>(v) * v;
    return samples.empty() ? 0.0 : sum / static_cast<double>(samples.size());
  };
  // The live channel at its own level: the mix with the quiet one would have a quarter of it.
  const std::string mixed = dir.file("mixed.wav"), mixed_both = dir.file("mixed both.wav");
  const auto mix = [](const std::string& from, const std::string& to) {
    return testing_support::ffmpeg({"-i", from, "-vn", "-acodec", "pcm_s16le", "-ar", "8000", "-ac", "1", "-f", "wav", to});
  };
  ASSERT_EQ(mix(left, mixed), 0);
  EXPECT_NEAR(power(analysis[0]) / power(mixed), 4.0, 0.2);
  EXPECT_NEAR(power(analysis[1]) / power(analysis[0]), 1.0, 0.05);
  for (int k = 0; k < 2; ++k) EXPECT_EQ(wav_shape(analysis[k]), (Shape{8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 20}));
  ASSERT_EQ(mix(both, mixed_both), 0);
  EXPECT_EQ(testing_support::read_file(analysis[2]), testing_support::read_file(mixed_both));
  std::size_t left_in_work = 0;
  for (const auto& entry : fs::directory_iterator(work.path())) left_in_work += entry.path().extension() == ".wav" ? 0 : 1;
  EXPECT_EQ(left_in_work, 0u);
}

// Short files are decoded a few to one transcoder: each gets the samples and the channel
// choice its own transcoder gives it, a damaged file that stops the shared one gets its own
// transcoder's reason, and no link or part is left in the work folder.
TEST(Transcoding, ShortFilesSharingATranscoderGetWhatTheirOwnWouldGive) {
  TempRunDir dir;
  const std::string hissing = "aevalsrc=0.5*sin(2*PI*300*t)*sin(2*PI*3*t)|0.003*(random(0)-0.5):s=48000";
  const std::vector<std::string> files = {dir.file("cam one.mov"), dir.file("phone.m4a"), dir.file("broken.mp4"),
                                          dir.file("rec.wav")};
  ASSERT_TRUE(make_media(files[0], hissing, 3.0, true));
  ASSERT_TRUE(make_media(files[1], "anoisesrc=seed=5:a=0.3:r=44100", 3.0));
  ASSERT_TRUE(testing_support::write_file(files[2], std::string(5000, 'x')));
  ASSERT_TRUE(make_media(files[3], kStereo48k, 3.0));
  const auto transcode = [&](const WorkFolder& work, bool short_ones) {
    SoundChoice choice;
    choice.streams = {1, 1, 1, 1};
    choice.channels = {{2}, {1}, {1}, {2}};
    if (short_ones) choice.seconds = {3.0, 3.0, 3.0, 3.0};
    std::vector<std::string> failures;
    const std::vector<std::string> analysis = analysis_names(files, work.path());
    resemplirajgi8000(files, analysis, {}, 2, {}, &failures, &choice);
    std::vector<std::string> sound;
    for (const std::string& wav : analysis) {
      SF_INFO info{};
      SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
      std::string samples(static_cast<std::size_t>(f ? info.frames * 2 : 0), '\0');
      if (f) sf_read_short(f, reinterpret_cast<short*>(samples.data()), info.frames);
      if (f) sf_close(f);
      sound.push_back(samples);
    }
    return std::tuple(sound, choice.channel, failures);
  };
  QuietConsole quiet;
  const WorkFolder together, alone;
  const auto shared = transcode(together, true);
  EXPECT_EQ(shared, transcode(alone, false));
  EXPECT_EQ(std::get<1>(shared), (std::vector<int>{0, -1, -1, -1}));
  EXPECT_FALSE(std::get<2>(shared)[2].empty());
  EXPECT_NEAR(static_cast<double>(std::get<0>(shared)[1].size()), 3.0 * 8000 * 2, 1000.0);
  for (const auto& entry : fs::directory_iterator(together.path())) EXPECT_EQ(entry.path().extension(), ".wav") << entry.path();
}

TEST(MediaInfo, FrameRatesOfAnyNameInTheCLocaleOnAnyThreadAndTheLocaleLeftAlone) {
  TempRunDir dir;
  const std::string accented = dir.file("čćž Ünï clip.mov");
  ASSERT_TRUE(make_media(accented, kStereo48k, 1.0, true));
  ASSERT_TRUE(make_video_only(dir.file("v2997.mp4"), "30000/1001"));
  ASSERT_TRUE(make_media(dir.file("a.mp3"), kStereo48k, 1.0));
  const std::vector<std::string> files = {kBeginMarker, accented, kEndMarker, dir.file("a.mp3"),
                                          dir.file("v2997.mp4"), dir.file("missing.mov")};
  // Markers and files without video both end up unknown.
  const std::vector<std::string> expected = {"999", "25.000", "999", "999", "29.970", "999"};
  const std::string before = std::setlocale(LC_CTYPE, nullptr);
  std::setlocale(LC_CTYPE, "C");

  EXPECT_EQ(read_framerates(files), expected);
  std::vector<std::string> from_worker;
  std::thread worker([&] { from_worker = read_framerates(files); });
  worker.join();
  EXPECT_EQ(from_worker, expected);
  EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
  EXPECT_STRNE(nl_langinfo(CODESET), "UTF-8") << "the thread's own locale was not restored";

  std::setlocale(LC_CTYPE, before.c_str());
}

// Without the library the rates come from ffprobe in the library's form, and the run says
// so once. The library is looked for once per process, so this runs in a fresh one; with
// no PATH, only the ffprobe beside the transcoder can answer.
TEST(MediaInfo, WithoutTheLibraryFfprobeReadsTheFrameRates) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempRunDir dir;
  ASSERT_TRUE(make_media(dir.file("v25.mov"), kStereo48k, 1.0, true));
  ASSERT_TRUE(make_video_only(dir.file("-v2997.mp4"), "30000/1001"));
  ASSERT_TRUE(make_media(dir.file("a.wav"), kStereo48k, 1.0));
  const std::vector<std::string> files = {dir.file("v25.mov"), kBeginMarker, "-v2997.mp4",
                                          dir.file("a.wav"), kEndMarker, dir.file("gone.mov")};
  const std::string said = "MediaInfo library not found: frame rates are read with ffprobe\n";
  const std::vector<std::string> expected = {"25.000", "999", "29.970", "999", "999", "999"};
  const auto in_fresh_process = [&] {
    setenv(kMediaInfoLibraryVariable, "libmediainfo-missing.so.0", 1);
    setenv("PATH", "", 1);
    QuietConsole console;
    report_missing_mediainfo();
    const std::vector<std::string> rates = read_framerates(files);
    for (const std::string& rate : rates) std::cerr << rate << ' ';
    std::cerr << "| " << console.sink.str() << dir.log_text();
    const bool right = rates == expected && console.sink.str() == said && dir.log_text() == said;
    fs::remove_all(dir.path());  // this process never reaches the folder's destructor
    std::exit(right ? 0 : 1);
  };
  EXPECT_EXIT(in_fresh_process(), ::testing::ExitedWithCode(0), "");
}

// Timecode labels count whole frames of the nominal rate; the NTSC rates run 1000/1001
// slower, and drop frame skips labels so that the clock stays near the wall's.
TEST(Timecode, LabelsBecomeExactSecondsSinceMidnight) {
  const struct {
    const char* text;
    double fps;
    bool ok;
    std::int64_t num, den;
  } cases[] = {
      {"10:00:00:00", 25, true, 900000, 25},
      {"12:34:56:07", 25, true, 1132407, 25},
      {"01:00:00:00", 29.97, true, 108000 * 1001, 30000},   // non-drop: 3603.6 s
      {"01:00:00;00", 29.97, true, 107892 * 1001, 30000},   // drop frame: 3599.9964 s
      {"00:10:00;00", 59.94, true, 35964 * 1001, 60000},    // four labels a minute at 59.94
      {"00:00:01:00", 23.976, true, 24 * 1001, 24000},
      {"00:00:00;00", 25, false, 0, 1},                      // no drop frame at 25
      {"00:00:00:25", 25, false, 0, 1},                      // no 26th frame
      {"24:00:00:00", 25, false, 0, 1},
      {"10:00", 25, false, 0, 1},
      {"", 25, false, 0, 1},
  };
  for (const auto& c : cases) {
    StartTimecode t;
    ASSERT_EQ(timecode_seconds(c.text, c.fps, t), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(t.num * c.den, c.num * t.den) << c.text << " at " << c.fps;
    EXPECT_EQ(t.text, c.text);
  }
}

// Made by ffmpeg at test time: a timecode track, a Broadcast WAV time reference, a music
// file's cover picture (no picture to an editor), and text under a media name.
TEST(Timecode, FilesSayWhereTheirMediaTimeStarts) {
  TempRunDir dir;
  ASSERT_EQ(testing_support::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x64:rate=25:d=1", "-f", "lavfi",
                                     "-i", "sine=r=48000:d=1", "-c:v", "mpeg4", "-c:a", "pcm_s16le",
                                     "-timecode", "10:00:00:12", dir.file("tc.mov")}), 0);
  ASSERT_EQ(testing_support::ffmpeg({"-f", "lavfi", "-i", "sine=r=44100:d=1", "-c:a", "pcm_s16le",
                                     "-write_bext", "1", "-metadata", "time_reference=1587600000",
                                     dir.file("bwf.wav")}), 0);
  const MediaStart mov = media_start(dir.file("tc.mov"));
  EXPECT_EQ(mov.timecode.text, "10:00:00:12");
  EXPECT_DOUBLE_EQ(mov.timecode.seconds(), 36000.48);
  EXPECT_DOUBLE_EQ(mov.picture_rate, 25.0);
  const MediaStart bwf = media_start(dir.file("bwf.wav"));
  EXPECT_EQ(bwf.timecode.text, "10:00:00.000");
  EXPECT_EQ(bwf.timecode.num, 1587600000);
  EXPECT_EQ(bwf.timecode.den, 44100);
  EXPECT_EQ(bwf.picture_rate, 0.0);
  ASSERT_TRUE(testing_support::write_file(dir.file("notes.mov"), "not a movie\n"));
  EXPECT_FALSE(media_start(dir.file("notes.mov")).read);
}
