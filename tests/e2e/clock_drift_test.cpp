// Clock drift end to end: devices at -100 … +100 ppm against a camera whose clock is the
// event's. Every device's rate is measured, every member placed by one solution, and the
// sound of every drifting audio-only device is copied onto the camera's clock, so that it
// stays in step from the start of its overlap to the end, also as melt plays it.
//
// BRENVIK_LONG_DRIFT=1 stretches the event to files of 25 to 50 minutes.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "core/process.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

constexpr double kRateTolerancePpm = 0.5;
constexpr double kInStep_s = 0.001;

std::vector<std::string> devices(double k) {
  const auto s = [&](double seconds) { return std::to_string(seconds * k); };
  return {
      "file=cam.mov   device=cam   start=0 duration=" + s(600) + " fps=25 picture=color snr=28",
      "file=cam_b.mov device=cam_b start=" + s(100.5) + " duration=" + s(400) +
          " fps=25 picture=color filter=highpass:150 snr=20 drift=-60",
      "file=rec.wav   device=rec   start=" + s(30.25) + " duration=" + s(540) +
          " rate=44100 snr=20 reverb=on drift=100",
      "file=phone.m4a device=phone start=" + s(200.125) + " duration=" + s(380) +
          " filter=phone snr=15 gain=-3 drift=-100",
      "file=zoom.wav  device=zoom  start=" + s(60.75) + " duration=" + s(500) +
          " filter=lowpass:6000 snr=22 drift=45",
  };
}

// A file's sound as 48 kHz mono, the rate the lag measure reads.
std::vector<float> sound_of(const std::string& media, const std::string& wav) {
  if (testing_support::ffmpeg({"-i", media, "-ac", "1", "-ar", "48000", "-c:a", "pcm_f32le", wav}) != 0)
    return {};
  return testing_support::read_sound(wav);
}

// Seconds by which `member` (starting `member_start` into the timeline) lags `reference`
// (starting at 0) around timeline time `at`, searched within ±`search_s`.
double lag_at(const std::vector<float>& reference, const std::vector<float>& member,
              double member_start, double at, double search_s) {
  const auto slice = [](const std::vector<float>& v, double from) {
    const long a = std::lround(from * 48000.0);
    if (a < 0 || a + 4 * 48000 > static_cast<long>(v.size())) return std::vector<float>{};
    return std::vector<float>(v.begin() + a, v.begin() + a + 4 * 48000);
  };
  return testing_support::sound_lag(slice(reference, at - 1.5), slice(member, at - member_start - 1.5),
                                    1.5, search_s);
}

}  // namespace

class ClockDrift : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    run_ = e2e::sync_event(devices(e2e::long_version("BRENVIK_LONG_DRIFT") ? 5.0 : 1.0));
  }
  static void TearDownTestSuite() { run_.reset(); }
  static inline std::unique_ptr<e2e::SyncedEvent> run_;
};

// Rates against the camera from the log, and places and copies from SYNCED.otio.
TEST_F(ClockDrift, EveryDeviceGetsItsRateAndEveryMemberItsTruePlace) {
  const e2e::SyncedEvent& r = *run_;
  ASSERT_EQ(r.status, 0) << r.report;
  const std::regex line("clock of ([^:]+): starts [-0-9.]+ s, rate ([-+0-9.]+) ppm");
  std::map<std::string, double> rates;
  const std::string log = r.dir.log_text();
  for (std::sregex_iterator m(log.begin(), log.end(), line), end; m != end; ++m)
    rates[(*m)[1]] = std::stod((*m)[2]);
  ASSERT_EQ(rates.size(), r.truth.size()) << log;
  for (const auto& [name, f] : r.truth) {
    std::printf("%-10s true %+8.2f ppm  measured %+9.3f ppm\n", name.c_str(), f.drift_ppm, rates[name]);
    EXPECT_NEAR(rates[name], f.drift_ppm, kRateTolerancePpm) << name;
  }
  EXPECT_NE(r.report.find("corrected"), std::string::npos) << r.report;

  const auto timelines = e2e::otio_placements(testing_support::read_file(r.out + "/SYNCED.otio"));
  ASSERT_EQ(timelines.size(), 1u);
  for (const e2e::PlacedClip& c : timelines[0]) {
    const e2e::TrueFile& f = r.truth.at(c.file);
    std::printf("%-10s %-5s placed at %10.6f s  error %+.3f ms\n", c.file.c_str(), c.video ? "video" : "audio",
                c.start, (c.start - f.start_s) * 1000.0);
    EXPECT_NEAR(c.start, f.start_s, kInStep_s) << c.file;
    // Only sound without pictures is copied, and only when its clock drifts.
    EXPECT_EQ(c.corrected, !c.video && f.drift_ppm != 0.0 && c.file.find("cam") != 0) << c.file;
    if (c.corrected) {
      EXPECT_EQ(c.media, r.out + "/corrected/" + c.file.substr(0, c.file.find('.')) + ".wav");
    }
  }
}

// Each copy against the camera's sound at the start, middle and end of their overlap, and
// the original placed at the same start for comparison; then melt's render of both tracks.
TEST_F(ClockDrift, CorrectedSoundStaysInStepWithTheReferenceToTheEnd) {
  const e2e::SyncedEvent& r = *run_;
  ASSERT_EQ(r.status, 0) << r.report;
  const auto timelines = e2e::otio_placements(testing_support::read_file(r.out + "/SYNCED.otio"));
  ASSERT_EQ(timelines.size(), 1u);
  const std::string event = r.dir.file("event");
  const std::vector<float> camera = sound_of(event + "/cam.mov", r.dir.file("cam.wav"));
  ASSERT_FALSE(camera.empty());
  const e2e::TrueFile& cam = r.truth.at("cam.mov");

  const std::string mlt = testing_support::read_file(r.out + "/SYNCED.mlt");
  const std::map<std::string, std::string> sound_track = e2e::mlt_sound_tracks(mlt);
  const bool melt = run_program({"melt", "-version"}) != 127;

  int copies = 0;
  for (const e2e::PlacedClip& c : timelines[0]) {
    if (!c.corrected) continue;
    ++copies;
    const e2e::TrueFile& f = r.truth.at(c.file);
    const std::vector<float> copy = sound_of(c.media, r.dir.file(c.file + ".copy.wav"));
    const std::vector<float> original = sound_of(event + "/" + c.file, r.dir.file(c.file + ".orig.wav"));
    const double from = std::max(f.start_s, cam.start_s) + 2.0;
    const double to = std::min(f.start_s + f.duration_s, cam.start_s + cam.duration_s) - 3.0;
    for (const double at : {from, 0.5 * (from + to), to}) {
      const double after = lag_at(camera, copy, c.start, at, 0.05);
      // The original is measured about where its drift should have carried it by then: a
      // search as wide as that drift finds rival peaks in noise.
      const double drifted = f.drift_ppm * 1e-6 * (at - f.start_s);
      const double before = drifted + lag_at(camera, original, c.start - drifted, at, 0.01);
      std::printf("%-10s at %8.2f s  uncorrected %+9.3f ms  corrected %+7.3f ms\n", c.file.c_str(), at,
                  before * 1000.0, after * 1000.0);
      EXPECT_LT(std::fabs(after), kInStep_s) << c.file << " at " << at << " s";
    }
    // melt starts a 44.1 kHz file some 17 ms early when it seeks into it (the original
    // as much as the copy; played from the timeline's start it is within 0.4 ms), so only
    // the 48 kHz copies are rendered from the ends of their overlaps.
    if (!melt || c.file == "rec.wav") continue;
    const std::string copy_name = c.media.substr(c.media.rfind('/') + 1);
    ASSERT_TRUE(sound_track.count(copy_name) && sound_track.count("cam.mov")) << mlt;
    for (const double at : {from, to}) {
      const long in = std::lround(std::floor((at - 0.5) * 25.0));
      const auto render = [&](const std::string& file) {
        return testing_support::melt_alone(mlt, sound_track.at(file),
                                           r.dir.file(file + std::to_string(in) + ".melt.wav"), in, in + 50);
      };
      const double lag = testing_support::sound_lag(render("cam.mov"), render(copy_name), 0.5);
      std::printf("melt %-10s at %8.2f s  lag %+.3f ms\n", c.file.c_str(), at, lag * 1000.0);
      EXPECT_LT(std::fabs(lag), kInStep_s) << c.file << " at " << at << " s";
    }
  }
  EXPECT_EQ(copies, 3);
}
