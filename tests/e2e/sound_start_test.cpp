// Camera files whose sound does not start with their picture: a QuickTime edit list that
// starts the sound late, MPEG-TS streams that start where the camera's clock was, and the
// sound of a transport stream and of a QuickTime file ahead of its picture. The documents start each clip at its
// first picture, so the clip's place is the sound's true place less where the file
// puts its sound; read back from every document against the recorder's clip.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/process.h"
#include "media/streams.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

constexpr double kNewerTolerance_s = 0.001;
constexpr double kFps = 25.0;  // brenvik-sync's default sequence rate

// The sound encoder's priming: the decoded sound of every encoded file starts with 1024
// samples at 48 kHz before the recorded sound, and the stream starts count them.
constexpr double kPriming_s = 1024.0 / 48000.0;

// The recorder starts first; the late sound of cam_late puts its picture before the
// recorder's start, so its group begins with that picture. The recorder's and cam_late's
// clocks were jammed (event time 0 is 10:00:00), the phone's was not.
const std::vector<std::string> kDevices = {
    "file=rec.wav start=0.4 duration=150 snr=30 time_reference=36000.4",
    "file=cam_late.mov start=0.62 duration=60 picture=color filter=lowpass:7000 snr=24 sound_at=0.5 "
    "timecode=10:00:00:03",
    "file=phone.mp4 start=40.37 duration=40 fps=29.97 picture=color filter=phone snr=18 sound_at=0.04 "
    "timecode=01:00:00;00",
    "file=cam_ts.mts start=60.25 duration=50 picture=color snr=22 silent_stream=first",
    "file=cam_ahead.mts start=75.5 duration=45 picture=color filter=highpass:120 snr=22 sound_at=-0.3",
    "file=cam_ahead.mov start=90.2 duration=40 picture=color filter=lowpass:6000 snr=22 sound_at=-0.3"};

// Every asset clip of the document's first project: where its media's start falls (offset less how
// far into the asset it starts, the asset starting at its timecode), by file name.
std::map<std::string, double> fcpxml_media_starts(const std::string& xml) {
  using testing_support::seconds;
  std::map<std::string, long double> asset_start;
  for (auto& asset : testing_support::tags(xml, "asset")) asset_start[asset["id"]] = seconds(asset["start"]);
  std::map<std::string, double> out;
  for (auto& clip : testing_support::tags(testing_support::between(xml, "<project ", "</project>").at(0), "asset-clip"))
    out[clip["name"]] = static_cast<double>(seconds(clip["offset"]) - (seconds(clip["start"]) - asset_start.at(clip["ref"])));
  return out;
}

}  // namespace

class SoundStartInFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { run_ = e2e::sync_event(kDevices); }
  static void TearDownTestSuite() { run_.reset(); }

  // Seconds the file puts its sound after its first picture, as the container says.
  static double sound_at(const std::string& file) {
    return media_start(run_->dir.file("event/" + file)).sound_after_picture_s;
  }

  // Each file's clip start against the recorder's, expected at the recorded sound's true
  // place less where the file's streams put it after the picture.
  static void expect_places(const std::map<std::string, double>& starts, const char* doc,
                            double tolerance_s) {
    const e2e::SyncedEvent& r = *run_;
    ASSERT_EQ(r.status, 0) << r.report;
    ASSERT_EQ(starts.size(), r.truth.size()) << doc;
    const double rec = starts.at("rec.wav") - r.truth.at("rec.wav").start_s;
    for (const auto& [file, start] : starts) {
      const double priming = file == "rec.wav" ? 0.0 : kPriming_s;
      const double expected = r.truth.at(file).start_s - (sound_at(file) + priming);
      const double error_ms = (start - rec - expected) * 1000.0;
      std::printf("%-22s %-14s sound at %+8.3f ms  clip %11.6f s  error %+.3f ms\n", doc,
                  file.c_str(), sound_at(file) * 1000.0, start - rec, error_ms);
      EXPECT_LE(std::fabs(error_ms), tolerance_s * 1000.0) << doc << " " << file;
    }
  }

  static inline std::unique_ptr<e2e::SyncedEvent> run_;
};

TEST_F(SoundStartInFile, EveryDocumentStartsEachClipAtItsFirstPicture) {
  ASSERT_EQ(run_->status, 0) << run_->report;
  // What the files were made with, less the priming; a QuickTime edit list counts in
  // milliseconds, and the transport stream's writer delays its pictures by some more.
  EXPECT_NEAR(sound_at("cam_late.mov"), 0.5 - kPriming_s, 0.001);
  EXPECT_NEAR(sound_at("phone.mp4"), 0.04 - kPriming_s, 0.001);
  EXPECT_NEAR(sound_at("cam_ts.mts"), -kPriming_s, 0.001);
  EXPECT_NEAR(sound_at("cam_ahead.mts"), -0.3 - kPriming_s, 0.025);
  EXPECT_NEAR(sound_at("cam_ahead.mov"), -0.3 - kPriming_s, 0.001);
  EXPECT_FALSE(media_start(run_->dir.file("event/manifest.tsv")).read);

  const auto timelines = e2e::otio_placements(testing_support::read_file(run_->out + "/SYNCED.otio"));
  ASSERT_EQ(timelines.size(), 1u);
  std::map<std::string, double> otio, mlt;
  for (const e2e::PlacedClip& c : timelines[0]) otio[c.file] = c.start;  // a picture where its sound is
  for (const e2e::PlacedClip& c : e2e::mlt_placements(testing_support::read_file(run_->out + "/SYNCED.mlt")))
    if (!c.video) mlt[c.file] = c.start;
  expect_places(otio, "otio", kNewerTolerance_s);
  expect_places(mlt, "mlt", kNewerTolerance_s);
  expect_places(fcpxml_media_starts(testing_support::read_file(run_->out + "/SYNCED.fcpxml")),
                "fcpxml", kNewerTolerance_s);
  // The classic documents count whole frames, the audio-only recorder whole frames of its own.
  for (const char* name : {"SYNCED_fcp.XML", "SYNCED_premierePro.XML"}) {
    const auto sequences = e2e::member_starts(
        e2e::parse_timeline(testing_support::read_file(run_->out + "/" + name)), kFps);
    ASSERT_EQ(sequences.size(), 1u) << name;
    expect_places(sequences[0], name, 1.5 / kFps);
  }
}

// A camera's timecode track and a recorder's Broadcast WAV time reference start their
// media time: where the newer documents begin the media, and what the report shows; the
// jammed clocks agree with the sound, the phone's does not.
TEST_F(SoundStartInFile, TimecodesStartTheMediaTimeAndCheckTheClocks) {
  ASSERT_EQ(run_->status, 0) << run_->report;
  const std::string fcpxml = testing_support::read_file(run_->out + "/SYNCED.fcpxml");
  std::map<std::string, std::string> asset_start;
  for (auto& asset : testing_support::tags(fcpxml, "asset")) asset_start[asset["name"]] = asset["start"];
  EXPECT_EQ(asset_start.at("cam_late.mov"), "900003/25s");      // 10:00:00:03 at 25 fps
  EXPECT_EQ(asset_start.at("rec.wav"), "180002/5s");            // 36000.4 s
  EXPECT_EQ(asset_start.at("phone.mp4"), "8999991/2500s");      // 107892 frames of 1001/30000 s
  EXPECT_EQ(asset_start.at("cam_ts.mts"), "0s");
  const auto otio = nlohmann::json::parse(testing_support::read_file(run_->out + "/SYNCED.otio"));
  const std::map<std::string, double> clock = {{"cam_late.mov", 36000.12}, {"rec.wav", 36000.4}, {"phone.mp4", 3599.9964}};
  int timed = 0;
  for (const auto& track : otio.at("children").at(0).at("tracks").at("children"))
    for (const auto& item : track.at("children")) {
      if (item.at("OTIO_SCHEMA") != "Clip.2") continue;
      const auto& media_start = item.at("media_references").at("DEFAULT_MEDIA").at("available_range").at("start_time");
      const std::string name = item.at("name");
      EXPECT_NEAR(media_start.at("value").get<double>() / media_start.at("rate").get<double>(),
                  clock.count(name) ? clock.at(name) : 0.0, 1e-6) << name;
      timed += item.at("metadata").at("brenvik").contains("timecode");
    }
  EXPECT_EQ(timed, 5);  // the camera's and the phone's picture and sound, the recorder
  EXPECT_NE(testing_support::read_file(run_->out + "/SYNCED.mlt").find("<property name=\"brenvik:timecode\">10:00:00:03</property>"),
            std::string::npos);
  const std::string& report = run_->report;
  for (const char* line : {"Timecodes:\n", "  cam_late.mov                10:00:00:03\n",
                           "  rec.wav                     10:00:00.400\n",
                           "  cam_late.mov <-> rec.wav  agree with the sound within a frame (",
                           "  phone.mp4 <-> rec.wav  disagree with the sound by ",
                           "pairs' timecodes disagree with their sound by more than a frame"})
    EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
}

// cam_ts recorded an unused microphone input first: its other sound is analysed, and the
// documents say which, and what streams and channels each file has.
TEST_F(SoundStartInFile, TheSoundStreamWithSignalIsAnalysed) {
  ASSERT_EQ(run_->status, 0) << run_->report;
  std::map<std::string, std::string> sources;
  for (auto& asset : testing_support::tags(testing_support::read_file(run_->out + "/SYNCED.fcpxml"), "asset"))
    sources[asset["name"]] = asset["audioSources"] + "/" + asset["audioChannels"];
  EXPECT_EQ(sources.at("cam_ts.mts"), "2/2");
  EXPECT_EQ(sources.at("rec.wav"), "1/1");
  EXPECT_EQ(sources.at("cam_late.mov"), "1/1");
  EXPECT_NE(run_->dir.log_text().find("cam_ts.mts: sound stream 2 of 2 analysed (the one with the most signal"),
            std::string::npos);
  EXPECT_NE(testing_support::read_file(run_->out + "/SYNCED.mlt").find("<property name=\"audio_index\">2</property>"),
            std::string::npos);
}

// melt, the reader of the MLT timeline, plays each camera's sound against the recorder's.
TEST_F(SoundStartInFile, MeltPlaysEachCameraInStepWithTheRecorder) {
  if (run_program({"melt", "-version"}) == 127) GTEST_SKIP() << "melt is not installed";
  const e2e::SyncedEvent& r = *run_;
  ASSERT_EQ(r.status, 0) << r.report;
  const std::string doc = testing_support::read_file(r.out + "/SYNCED.mlt");
  const std::map<std::string, std::string> sound_track = e2e::mlt_sound_tracks(doc);
  double origin = r.truth.at("rec.wav").start_s;
  for (const e2e::PlacedClip& c : e2e::mlt_placements(doc))
    if (c.file == "rec.wav") origin -= c.start;
  for (const auto& [name, f] : r.truth) {
    // melt 7.12 plays the sound of a QuickTime file whose sound comes before its picture
    // 48 ms late, against the stream starts libavformat reports (which every document,
    // the MLT one too, places within a millisecond): its own reading, not the document's.
    if (name == "rec.wav" || name == "cam_ahead.mov") continue;
    const double at = f.start_s + f.duration_s / 2 - origin;
    const long in = static_cast<long>(std::floor((at - 0.5) * kFps));
    const auto render = [&](const std::string& file) {
      return testing_support::melt_alone(doc, sound_track.at(file), r.dir.file(file + ".wav"), in,
                                         in + 2 * static_cast<long>(kFps));
    };
    const double lag = testing_support::sound_lag(render("rec.wav"), render(name), 0.5);
    std::printf("melt    %-14s lag %+.3f ms\n", name.c_str(), lag * 1000.0);
    EXPECT_LT(std::fabs(lag), 0.001) << name;
  }
}
