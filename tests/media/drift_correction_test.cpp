#include "core/stop.h"
#include "media/drift_correction.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <random>

namespace fs = std::filesystem;
using testing_support::TempRunDir;

namespace {

constexpr int kRate = 48000;
constexpr double kSeconds = 60.0;

// Stereo sound of Gaussian-windowed tone bursts (1 to 12 kHz, a few per millisecond), as
// a device whose clock runs `stretch` times the reference's records it: its sample k is
// the sound at reference time k / (rate · stretch). The sound has a closed form and no
// content near Nyquist, so every clock samples it exactly, with no resampler involved.
std::vector<float> bursts_on_clock(double stretch) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const auto frames = static_cast<long>(kSeconds * kRate * stretch);
  std::vector<float> out(static_cast<std::size_t>(frames) * 2, 0.0f);
  for (double t = 0.0; t < kSeconds; t += 0.002 * u(rng)) {
    const double hz = 1000.0 + 11000.0 * u(rng), sigma = 1e-4 + 2e-4 * u(rng);
    const double left = 0.2 * (u(rng) - 0.5), right = 0.2 * (u(rng) - 0.5);
    const auto first = std::max(0L, std::lround((t - 6 * sigma) * kRate * stretch));
    const auto last = std::min(frames - 1, std::lround((t + 6 * sigma) * kRate * stretch));
    for (long k = first; k <= last; ++k) {
      const double x = k / (kRate * stretch) - t;
      const double g = std::exp(-x * x / (2 * sigma * sigma)) * std::cos(2 * std::numbers::pi * hz * x);
      out[2 * k] += static_cast<float>(left * g);
      out[2 * k + 1] += static_cast<float>(right * g);
    }
  }
  return out;
}

bool write_wav(const std::string& path, const std::vector<float>& stereo, int subtype) {
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | subtype;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) return false;
  const auto frames = static_cast<sf_count_t>(stereo.size() / 2);
  const bool ok = sf_writef_float(f, stereo.data(), frames) == frames;
  sf_close(f);
  return ok;
}

// Channel `c` of interleaved samples.
std::vector<float> take(const std::vector<float>& all, int channels, int c) {
  std::vector<float> one;
  for (std::size_t i = static_cast<std::size_t>(c); i < all.size(); i += channels) one.push_back(all[i]);
  return one;
}

// Every sample of a file, interleaved, and its shape; none when it cannot be read.
std::vector<float> samples(const std::string& path, SF_INFO& info) {
  info = SF_INFO{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return {};
  std::vector<float> all(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(f, all.data(), info.frames);
  sf_close(f);
  return all;
}

// Seconds by which `other` lags `reference` at `at`: plain correlation of 0.1 s within
// ±10 ms, refined between samples on a parabola. The window is short so that a copy that
// still drifts stays within half a sample across it and its peak stays sharp.
double lag_at(const std::vector<float>& reference, const std::vector<float>& other, double at) {
  constexpr long kWindow = 4800, kReach = 480;
  const long a = std::lround(at * kRate);
  std::vector<double> r(2 * kReach + 1, 0.0);
  for (long d = -kReach; d <= kReach; ++d) {
    for (long n = a; n < a + kWindow; ++n) r[d + kReach] += double(reference[n]) * other[n + d];
  }
  const long b = std::clamp(std::max_element(r.begin(), r.end()) - r.begin(), 1L, 2 * kReach - 1);
  return (b - kReach + (r[b - 1] - r[b + 1]) / (2 * (r[b - 1] - 2 * r[b] + r[b + 1]))) / kRate;
}

}  // namespace

// Recordings on clocks 100 ppm fast and slow, corrected, must sound in step with the
// reference from the first second to the last, on both channels; uncorrected they drift
// apart by ppm · time, so the measurement can see a fault.
TEST(ClockCorrection, CopyPlaysInStepWithTheReferenceFromStartToEnd) {
  TempRunDir dir;
  const std::vector<float> reference = bursts_on_clock(1.0);
  const std::vector<float> reference_left = take(reference, 2, 0), reference_right = take(reference, 2, 1);
  for (const double ppm : {100.0, -100.0}) {
    SCOPED_TRACE(ppm);
    const double stretch = 1.0 + ppm * 1e-6;
    const std::string source = dir.file("drifted.wav"), copy = dir.file("corrected.wav");
    const std::vector<float> drifted = bursts_on_clock(stretch);
    ASSERT_TRUE(write_wav(source, drifted, SF_FORMAT_PCM_24));
    std::vector<double> shares;
    ASSERT_EQ(write_clock_corrected(BRENVIK_FFMPEG, source, ppm, copy,
                                    [&](double share) { shares.push_back(share); }), "");
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    ASSERT_FALSE(shares.empty());
    EXPECT_EQ(shares.back(), 1.0);

    SF_INFO info;
    const std::vector<float> corrected = samples(copy, info);
    const std::vector<float> left = take(corrected, 2, 0), right = take(corrected, 2, 1);
    EXPECT_EQ(info.samplerate, kRate);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_NEAR(static_cast<double>(info.frames), std::round(drifted.size() / 2 / stretch), 1.0);
    for (const double at : {1.0, kSeconds / 2, kSeconds - 2}) {
      const double lag = lag_at(reference_left, left, at);
      EXPECT_NEAR(lag, 0.0, 0.02e-3) << "left at " << at << " s";
      EXPECT_NEAR(lag_at(reference_right, right, at), 0.0, 0.02e-3)
          << "right at " << at << " s";
    }
    // The window's middle, 50 ms in, is where the drift is measured.
    const double at = kSeconds - 2;
    EXPECT_NEAR(lag_at(reference_left, take(drifted, 2, 0), at), ppm * 1e-6 * (at + 0.05), 0.02e-3);
  }
}

// What each kind of source becomes: PCM and float WAVs keep their sample format (and at 0
// ppm every sample), what only the transcoder decodes (MP3, a video's AAC, 44.1 kHz) comes
// out as 24-bit PCM at its own rate, as long as ffmpeg's decoding over the stretch.
TEST(ClockCorrection, KeepsRateChannelsAndPlainSampleFormats) {
  TempRunDir dir;
  const std::string tones = "aevalsrc=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*660*t):s=44100";
  struct Case {
    std::string name, codec;
    bool video;
    double ppm;
    int format;
  };
  for (const Case& c : {Case{"s16.wav", "pcm_s16le", false, 0.0, SF_FORMAT_PCM_16},
                        Case{"f32.wav", "pcm_f32le", false, -50.0, SF_FORMAT_FLOAT},
                        Case{"song.mp3", "libmp3lame", false, 37.0, SF_FORMAT_PCM_24},
                        Case{"clip.mp4", "aac", true, 150.0, SF_FORMAT_PCM_24}}) {
    SCOPED_TRACE(c.name);
    const std::string source = dir.file(c.name), copy = dir.file(c.name + ".corrected.wav");
    std::vector<std::string> args = {"-f", "lavfi", "-i", tones};
    if (c.video) args.insert(args.end(), {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-c:v", "libx264", "-preset", "ultrafast"});
    args.insert(args.end(), {"-c:a", c.codec, "-t", "3", source});
    ASSERT_EQ(testing_support::ffmpeg(args), 0);
    ASSERT_EQ(testing_support::ffmpeg({"-i", source, "-map", "0:a:0", "-c:a", "pcm_f32le", dir.file("decoded.wav")}), 0);
    ASSERT_EQ(write_clock_corrected(BRENVIK_FFMPEG, source, c.ppm, copy), "");
    SF_INFO decoded, info;
    const std::vector<float> original = samples(dir.file("decoded.wav"), decoded), out = samples(copy, info);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | c.format);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 2);
    EXPECT_NEAR(static_cast<double>(info.frames), std::round(decoded.frames / (1.0 + c.ppm * 1e-6)), 1.0);
    if (c.ppm == 0.0) {
      EXPECT_EQ(out, original);
    }
  }
}

// Nothing that cannot be done leaves a file, a half-written copy or a decoded one, and the
// source is never written; a stop request ends the work the same way.
TEST(ClockCorrection, FailsWithAReasonAndLeavesNothingBehind) {
  TempRunDir dir;
  const std::string out = dir.path() + "/out", copy = out + "/copy.wav";
  fs::create_directories(out);
  const std::string text = dir.file("notes.wav"), sound = dir.file("sound.wav");
  ASSERT_TRUE(testing_support::write_file(text, "not a sound file"));
  ASSERT_TRUE(testing_support::make_media(sound, "anoisesrc=seed=3:a=0.3", 2.0));
  const std::string before = testing_support::read_file(sound);
  EXPECT_NE(write_clock_corrected(BRENVIK_FFMPEG, text, 20.0, copy), "");
  EXPECT_NE(write_clock_corrected(BRENVIK_FFMPEG, dir.file("missing.wav"), 20.0, copy), "");
  EXPECT_NE(write_clock_corrected(BRENVIK_FFMPEG, sound, 20.0, out + "/no folder/copy.wav"), "");
  EXPECT_NE(write_clock_corrected(BRENVIK_FFMPEG, sound, 20.0, sound), "");
  EXPECT_NE(write_clock_corrected(BRENVIK_FFMPEG, sound, 20.0, dir.path() + "/out/../sound.wav"), "");
  EXPECT_NE(write_clock_corrected(BRENVIK_FFMPEG, sound, -1e6, copy), "");
  request_stop(1);
  EXPECT_THROW(write_clock_corrected(BRENVIK_FFMPEG, sound, 20.0, copy), RunStopped);
  clear_stop_request();
  EXPECT_EQ(testing_support::read_file(sound), before);
  EXPECT_TRUE(fs::is_empty(out)) << fs::directory_iterator(out)->path();
}
