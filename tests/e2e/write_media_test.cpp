// Synced media files on a generated event: a recorder whose clock runs 100 ppm fast, a camera
// in two clips, a phone-like MP4 that starts before the recorder and an MPEG-TS camera. Each
// new file must carry the camera's video packets unchanged, last as long, and hold the
// recorder's sound in step with the picture from its start to its end.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <soxr.h>

#include "core/process.h"
#include "media/streams.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

// PCM in the MOV copies and AAC again in the MP4 and MPEG-TS ones, which carry no PCM: both
// within a tenth of a millisecond of the recorder, measured against its true clock.
constexpr double kInStep_s = 0.0001;

// The file's video packets, each as framemd5 gives it (stream, times, size, hash).
std::string video_packets(const std::string& media) {
  std::string out;
  run_program_output({"ffmpeg", "-v", "error", "-i", media, "-map", "0:v", "-c", "copy", "-f", "framemd5", "-"}, out);
  return out.substr(out.find("\n0,") + 1);
}

double container_seconds(const std::string& media) {
  std::string out;
  run_program_output({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", media}, out);
  return std::stod(out);
}

std::vector<float> sound_of(const std::string& media, const std::string& stream, const std::string& wav) {
  if (testing_support::ffmpeg({"-i", media, "-map", stream, "-ac", "1", "-ar", "48000", "-c:a", "pcm_f32le", wav}) != 0)
    return {};
  return testing_support::read_sound(wav);
}

// The recorder's sound on event time at 48 kHz, from its first sample. Its clock's true drift is
// taken out here: across a window of a second, 100 ppm smear the correlation's peak over 0.1 ms,
// and where in that smear the peak lands depends on the music, not on the copy.
std::vector<float> on_event_time(const std::string& media, const e2e::TrueFile& f, const std::string& wav) {
  if (testing_support::ffmpeg({"-i", media, "-map", "0:a:0", "-ac", "1", "-c:a", "pcm_f32le", wav}) != 0) return {};
  int rate = 0;
  const std::vector<float> own = testing_support::read_sound(wav, &rate);
  if (own.empty() || rate <= 0) return {};
  std::vector<float> out(static_cast<std::size_t>(own.size() * 48000.0 / rate) + 1);
  std::size_t done = 0;
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
  const soxr_error_t error = soxr_oneshot(rate * (1.0 + f.drift_ppm * 1e-6), 48000.0, 1, own.data(),
                                          own.size(), nullptr, out.data(), out.size(), &done, nullptr, &quality, nullptr);
  out.resize(error ? 0 : done);
  return out;
}

// Four seconds of `v` from `from`; empty where they are not all there.
std::vector<float> slice(const std::vector<float>& v, double from) {
  const long a = std::lround(from * 48000.0);
  if (a < 0 || a + 4 * 48000 > static_cast<long>(v.size())) return {};
  return std::vector<float>(v.begin() + a, v.begin() + a + 4 * 48000);
}

}  // namespace

TEST(WriteMedia, EveryCameraClipGetsItsPicturesAndTheRecordersSoundInStep) {
  const auto run = e2e::sync_event(
      {"file=rec.wav device=rec start=6 duration=300 rate=44100 snr=30 drift=100",
       "file=cam_1.mov device=cam start=10.3 duration=120 fps=25 picture=color snr=22",
       "file=cam_2.mov device=cam start=150.7 duration=120 fps=25 picture=color snr=22",
       "file=cam_b.mp4 device=cam_b start=3 duration=150 fps=29.97 picture=color filter=highpass:120 snr=20",
       "file=cam_ts.mts device=cam_ts start=40.25 duration=60 picture=color snr=22"},
      {"--write-media", "rec.wav", "--device", "cam_1.mov", "cam_2.mov", "--end", "cam_b.mp4", "cam_ts.mts"});
  ASSERT_EQ(run->status, 0) << run->report;
  // The MP4 starts 3 s before the recorder: those keep the camera's own sound, and the run says so.
  EXPECT_NE(run->report.find("synced-media/cam_b.mp4: the main sound rec.wav does not cover 3.0 s of its 150.0 s"),
            std::string::npos) << run->report;
  // Where the run placed each file against the truth: the copies cannot be closer than that.
  std::map<std::string, double> placed;
  const auto timelines = e2e::otio_placements(testing_support::read_file(run->out + "/SYNCED.otio"));
  for (const e2e::PlacedClip& c : timelines.at(0))
    placed[c.file] = c.start - run->truth.at(c.file).start_s;
  const e2e::TrueFile& rec = run->truth.at("rec.wav");
  const std::vector<float> recorder = on_event_time(run->dir.file("event/rec.wav"), rec, run->dir.file("rec.f32.wav"));
  ASSERT_FALSE(recorder.empty());
  for (const char* name : {"cam_1.mov", "cam_2.mov", "cam_b.mp4", "cam_ts.mts"}) {
    const std::string source = run->dir.file(std::string("event/") + name), copy = run->out + "/synced-media/" + name;
    EXPECT_NE(run->report.find(std::string("  synced-media/") + name + "  "), std::string::npos) << run->report;
    EXPECT_EQ(video_packets(copy), video_packets(source)) << name;
    EXPECT_NEAR(container_seconds(copy), container_seconds(source), 0.001) << name;
    // The camera's own sound is the second stream, as it was.
    EXPECT_EQ(sound_of(copy, "0:a:1", run->dir.file(std::string(name) + ".own.wav")),
              sound_of(source, "0:a:0", run->dir.file(std::string(name) + ".src.wav"))) << name;
    std::printf("%-10s placed against the recorder %+.4f ms\n", name, (placed[name] - placed["rec.wav"]) * 1000.0);
    const MediaStart start = media_start(copy);
    ASSERT_EQ(start.sounds.size(), 2u) << name;
    const std::vector<float> main = sound_of(copy, "0:a:0", run->dir.file(std::string(name) + ".main.wav"));
    const e2e::TrueFile& cam = run->truth.at(name);
    // Event time of the main sound's first decoded sample: the source's, moved as the copy
    // moves its stream against the same pictures. MPEG-TS keeps the AAC encoder's priming
    // (1024 samples) before the sound the event put there.
    const double priming = std::string(name).ends_with(".mts") ? 1024.0 / 48000.0 : 0.0;
    const double first = cam.start_s - priming - media_start(source).sound_after_picture_s +
                         start.sounds[0].start_s - start.picture_start_s;
    const double from = std::max(first, rec.start_s) + 2.0, to = first + container_seconds(copy) - 3.0;
    for (const double at : {from, 0.5 * (from + to), to}) {
      // The second correlated is the one around `at`.
      const double lag = testing_support::sound_lag(slice(recorder, at - rec.start_s - 2.0),
                                                    slice(main, at - first - 2.0), 1.5, 0.05);
      std::printf("%-10s at %6.2f s  main sound against the recorder %+.4f ms\n", name, at - first, lag * 1000.0);
      EXPECT_LT(std::fabs(lag), kInStep_s) << name << " at " << at;
    }
  }
}
