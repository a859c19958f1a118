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
#include <tuple>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 48000;
constexpr double kSeconds = 60.0;

// Stereo sound of Gaussian-windowed tone bursts (1 to 12 kHz, a few per millisecond), as
// a device whose clock runs `stretch` times the reference's records it: its sample k is
// the sound at reference time k / (rate · stretch). The sound has a closed form and no
// content near Nyquist, so every clock samples it exactly, with no resampler involved.
std::vector<float> bursts_on_clock(double stretch) {
  std::mt19937 rng(7);
  auto u = [&rng] { return std::uniform_real_distribution<double>()(rng); };
  const auto frames = static_cast<long>(kSeconds * kRate * stretch);
  std::vector<float> out(static_cast<std::size_t>(frames) * 2, 0.0f);
  for (double t = 0.0; t < kSeconds; t += 0.002 * u()) {
    const double w = 2 * std::numbers::pi * (1000.0 + 11000.0 * u()), sigma = 1e-4 + 2e-4 * u();
    const double left = 0.2 * (u() - 0.5), right = 0.2 * (u() - 0.5);
    const auto first = std::max(0L, std::lround((t - 6 * sigma) * kRate * stretch));
    const auto last = std::min(frames - 1, std::lround((t + 6 * sigma) * kRate * stretch));
    for (long k = first; k <= last; ++k) {
      const double x = k / (kRate * stretch) - t;
      const double g = std::exp(-x * x / (2 * sigma * sigma)) * std::cos(w * x);
      out[2 * k] += static_cast<float>(left * g);
      out[2 * k + 1] += static_cast<float>(right * g);
    }
  }
  return out;
}

bool write_wav24(const std::string& path, const std::vector<float>& stereo) {
  SF_INFO info{0, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0, 0};
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  const auto frames = static_cast<sf_count_t>(stereo.size() / 2);
  const bool ok = f && sf_writef_float(f, stereo.data(), frames) == frames;
  if (f) sf_close(f);
  return ok;
}

// Every sample of a file, interleaved, and its shape (`info` zeroed by the caller); none
// when it cannot be read.
std::vector<float> samples(const std::string& path, SF_INFO& info) {
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  std::vector<float> all(f ? static_cast<std::size_t>(info.frames * info.channels) : 0);
  if (f) sf_readf_float(f, all.data(), info.frames);
  if (f) sf_close(f);
  return all;
}

// Seconds by which channel `c` of `other` lags that of `reference` (both stereo) at `at`:
// plain correlation of 0.1 s within ±10 ms, refined between samples on a parabola. The
// window is short so that a copy that still drifts moves by half a sample at most across it
// and its peak stays sharp.
double lag_at(const std::vector<float>& reference, const std::vector<float>& other, int c,
              double at) {
  constexpr long kWindow = 4800, kReach = 480;
  const long a = std::lround(at * kRate);
  std::vector<double> r(2 * kReach + 1, 0.0);
  for (long d = -kReach; d <= kReach; ++d)
    for (long n = a; n < a + kWindow; ++n)
      r[d + kReach] += double(reference[2 * n + c]) * other[2 * (n + d) + c];
  const long b = std::clamp(std::max_element(r.begin(), r.end()) - r.begin(), 1L, 2 * kReach - 1);
  return (b - kReach + (r[b - 1] - r[b + 1]) / (2 * (r[b - 1] - 2 * r[b] + r[b + 1]))) / kRate;
}

}  // namespace

// Recordings on clocks 100 ppm fast and slow, corrected, must sound in step with the
// reference from the first second to the last, on both channels; uncorrected they drift
// apart by ppm · time, so the measurement can see a fault.
TEST(ClockCorrection, CopyPlaysInStepWithTheReferenceFromStartToEnd) {
  testing_support::TempRunDir dir;
  const std::vector<float> reference = bursts_on_clock(1.0);
  for (const double ppm : {100.0, -100.0}) {
    SCOPED_TRACE(ppm);
    const double stretch = 1.0 + ppm * 1e-6;
    const std::string source = dir.file("drifted.wav"), copy = dir.file("corrected.wav");
    const std::vector<float> drifted = bursts_on_clock(stretch);
    ASSERT_TRUE(write_wav24(source, drifted));
    std::vector<double> shares;
    ASSERT_EQ(write_clock_corrected(BRENVIK_FFMPEG, source, ppm, copy,
                                    [&](double share) { shares.push_back(share); }), "");
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()) && shares.back() == 1.0);

    SF_INFO info{};
    const std::vector<float> corrected = samples(copy, info);
    EXPECT_EQ(info.samplerate, kRate);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_NEAR(static_cast<double>(info.frames), std::round(drifted.size() / 2 / stretch), 1.0);
    for (const double at : {1.0, kSeconds / 2, kSeconds - 2})
      for (const int c : {0, 1})
        EXPECT_NEAR(lag_at(reference, corrected, c, at), 0.0, 0.02e-3)
            << "channel " << c << " at " << at << " s";
    // The window's middle, 50 ms in, is where the drift is measured.
    const double at = kSeconds - 2;
    EXPECT_NEAR(lag_at(reference, drifted, 0, at), ppm * 1e-6 * (at + 0.05), 0.02e-3);
  }
}

// What each kind of source becomes: PCM WAV and AIFF keep their sample format (and at 0
// ppm every sample), what only the transcoder decodes (MP3, a video's AAC) comes out as
// 24-bit PCM, all at their own rate and channels, as long as ffmpeg's decoding over the stretch.
TEST(ClockCorrection, KeepsRateChannelsAndPlainSampleFormats) {
  testing_support::TempRunDir dir;
  const std::string tones = "aevalsrc=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*660*t):s=44100";
  struct Case { std::string name; bool video; double ppm; int format; };
  for (const Case& c : {Case{"s16.wav", false, 0.0, SF_FORMAT_PCM_16},
                        Case{"s16.aiff", false, -50.0, SF_FORMAT_PCM_16},
                        Case{"song.mp3", false, 37.0, SF_FORMAT_PCM_24},
                        Case{"clip.mp4", true, 150.0, SF_FORMAT_PCM_24}}) {
    SCOPED_TRACE(c.name);
    const std::string source = dir.file(c.name), copy = dir.file(c.name + ".corrected.wav");
    ASSERT_TRUE(testing_support::make_media(source, tones, 3.0, c.video));
    ASSERT_EQ(testing_support::ffmpeg({"-i", source, "-map", "0:a:0", source + ".wav"}), 0);
    ASSERT_EQ(write_clock_corrected(BRENVIK_FFMPEG, source, c.ppm, copy), "");
    SF_INFO decoded{}, info{};
    const std::vector<float> original = samples(source + ".wav", decoded), out = samples(copy, info);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | c.format);
    EXPECT_EQ(std::make_pair(info.samplerate, info.channels), std::make_pair(44100, 2));
    EXPECT_NEAR(double(info.frames), std::round(decoded.frames / (1.0 + c.ppm * 1e-6)), 1.0);
    EXPECT_TRUE(c.ppm != 0.0 || out == original) << "a copy at 0 ppm changed samples";
  }
}

// Nothing that cannot be done leaves a file, a half-written copy or a decoded one, and the
// source is never written; a stop request ends the work the same way.
TEST(ClockCorrection, FailsWithAReasonAndLeavesNothingBehind) {
  testing_support::TempRunDir dir;
  const std::string out = dir.path() + "/out", copy = out + "/copy.wav";
  const std::string text = dir.file("notes.wav"), sound = dir.file("sound.wav");
  fs::create_directories(out);
  ASSERT_TRUE(testing_support::write_file(text, "not a sound file"));
  ASSERT_TRUE(testing_support::make_media(sound, "anoisesrc=seed=3:a=0.3", 2.0));
  const std::string before = testing_support::read_file(sound);
  const std::vector<std::tuple<std::string, double, std::string>> refused = {
      {text, 20.0, copy},   {dir.file("missing.wav"), 20.0, copy}, {sound, 20.0, out + "/x/y.wav"},
      {sound, 20.0, sound}, {sound, 20.0, out + "/../sound.wav"},   {sound, -1e6, copy}};
  for (const auto& [from, ppm, to] : refused)
    EXPECT_NE(write_clock_corrected(BRENVIK_FFMPEG, from, ppm, to), "") << from << " to " << to;
  request_stop(1);
  EXPECT_THROW(write_clock_corrected(BRENVIK_FFMPEG, sound, 20.0, copy), RunStopped);
  clear_stop_request();
  EXPECT_EQ(testing_support::read_file(sound), before);
  EXPECT_TRUE(fs::is_empty(out)) << fs::directory_iterator(out)->path();
}
