// Where the newer timelines place every member of a generated event of four devices, one
// of them a camera in two files: against the truth, read back from the documents' text
// the way their readers add it up. No device drifts here: the placements are then
// exact at every point of a file, and a difference is the documents' or the engine's.
//
// BRENVIK_LONG_PLACEMENT=1 stretches the event to files of 20 to 60 minutes.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/process.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

constexpr double kPlacementTolerance_s = 0.0005;

std::vector<std::string> devices(bool long_event) {
  const double k = long_event ? 6.0 : 1.0;
  const auto seconds = [&](double s) { return std::to_string(s * k); };
  return {
      "file=rec.wav   device=rec   start=0 duration=" + seconds(600) + " snr=30",
      "file=cam_a.mov device=cam_a start=" + seconds(61.37) + " duration=" + seconds(420) +
          " fps=25 picture=color filter=lowpass:7000 snr=24 reverb=on",
      "file=cam_b_1.mp4 device=cam_b start=" + seconds(30.52) + " duration=" + seconds(300) +
          " fps=29.97 picture=color filter=highpass:120 snr=20",
      "file=cam_b_2.mp4 device=cam_b start=" + seconds(340.04) + " duration=" + seconds(250) +
          " fps=29.97 picture=color filter=highpass:120 snr=20",
      "file=phone.m4a device=phone start=" + seconds(150.25) + " duration=" + seconds(320) +
          " filter=phone snr=15 gain=-4",
  };
}

}  // namespace

class TimelinePlacement : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    run_ = e2e::sync_event(devices(e2e::long_version("BRENVIK_LONG_PLACEMENT")),
                           {"rec.wav", "cam_a.mov", "--device", "cam_b_1.mp4", "cam_b_2.mp4", "--end",
                            "phone.m4a"});
  }
  static void TearDownTestSuite() { run_.reset(); }

  // Every clip against the truth (the recorder, the earliest file, starts the event at
  // 0); prints the table the README quotes. Without `pictures`, video clips are left out:
  // they can only go by whole frames there.
  static void expect_true_places(const std::vector<e2e::PlacedClip>& clips, const char* doc,
                                 bool pictures) {
    const e2e::SyncedEvent& r = *run_;
    ASSERT_EQ(r.status, 0) << r.report;
    std::map<std::string, int> seen;
    for (const e2e::PlacedClip& c : clips) {
      ASSERT_TRUE(r.truth.count(c.file)) << doc << " places unknown " << c.file;
      ++seen[c.file];
      if (c.video && !pictures) continue;
      const double error_ms = (c.start - r.truth.at(c.file).start_s) * 1000.0;
      std::printf("%-5s %-12s %-5s %12.6f s  error %+.3f ms\n", doc, c.file.c_str(),
                  c.video ? "video" : "audio", c.start, error_ms);
      EXPECT_LE(std::fabs(error_ms), kPlacementTolerance_s * 1000.0) << doc << " " << c.file;
    }
    // Every file on its device's audio track, the cameras on a video track as well.
    for (const auto& [name, f] : r.truth)
      EXPECT_EQ(seen[name], name.rfind("cam", 0) == 0 ? 2 : 1) << doc << " " << name;
  }

  static inline std::unique_ptr<e2e::SyncedEvent> run_;
};

TEST_F(TimelinePlacement, OpenTimelineIoPlacesEveryMemberAtItsTrueStart) {
  const auto timelines =
      e2e::otio_placements(testing_support::read_file(run_->out + "/SYNCED.otio"));
  ASSERT_EQ(timelines.size(), 1u) << "one sync group";
  expect_true_places(timelines[0], "otio", true);
}

TEST_F(TimelinePlacement, MltPlacesEverySoundAtItsTrueStart) {
  expect_true_places(e2e::mlt_placements(testing_support::read_file(run_->out + "/SYNCED.mlt")),
                     "mlt", false);
}

// melt, a real reader, plays the run's MLT timeline: each member's sound alone, against
// the recorder's, in two-second windows near the start and the end of their overlap.
TEST_F(TimelinePlacement, MeltPlaysEveryMemberInStepWithTheRecorder) {
  if (run_program({"melt", "-version"}) == 127) GTEST_SKIP() << "melt is not installed";
  const e2e::SyncedEvent& r = *run_;
  const std::string doc = testing_support::read_file(r.out + "/SYNCED.mlt");
  const std::map<std::string, std::string> sound_track = e2e::mlt_sound_tracks(doc);
  ASSERT_EQ(sound_track.size(), r.truth.size());

  constexpr double kFps = 25.0;  // brenvik-sync's default sequence rate
  const double recorder_end = r.truth.at("rec.wav").duration_s;
  for (const auto& [name, f] : r.truth) {
    if (name == "rec.wav") continue;
    for (const double at : {f.start_s + 1.0, std::min(f.start_s + f.duration_s, recorder_end) - 3.0}) {
      const long in = static_cast<long>(std::floor((at - 0.5) * kFps));
      const auto render = [&](const std::string& file) {
        return testing_support::melt_alone(doc, sound_track.at(file),
                                           r.dir.file(file + std::to_string(in) + ".wav"), in,
                                           in + 2 * static_cast<long>(kFps));
      };
      const double lag = testing_support::sound_lag(render("rec.wav"), render(name), 0.5);
      std::printf("melt  %-12s at %8.2f s  lag %+.3f ms\n", name.c_str(), at, lag * 1000.0);
      EXPECT_LT(std::fabs(lag), 0.001) << name << " at " << at << " s";
    }
  }
}
