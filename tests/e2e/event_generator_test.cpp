// The event generator is the ruler the end-to-end tests measure the engine with, so
// its truth is checked here: windows, clocks, noise levels and encodings.

#include "core/process.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <unsupported/Eigen/FFT>

#include <cmath>
#include <complex>
#include <numeric>
#include <string>
#include <vector>

using testing_support::TempRunDir;

namespace {

constexpr int kAnalysisRate = 8000;  // Hz, the rate the engine matches at

struct Sound {
  int rate = 0;
  std::vector<double> samples;
};

// Every WAV the generator and the analysis decoding write is mono.
Sound read_wav(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return {};
  Sound s{info.samplerate, std::vector<double>(static_cast<size_t>(info.frames * info.channels))};
  sf_read_double(f, s.samples.data(), static_cast<sf_count_t>(s.samples.size()));
  sf_close(f);
  return s;
}

// The file as the engine hears it: decoded by ffmpeg to 8 kHz mono.
Sound analysis_sound(const std::string& path) {
  const std::string wav = path + ".8k.wav";
  if (testing_support::ffmpeg({"-i", path, "-vn", "-ac", "1", "-ar", std::to_string(kAnalysisRate),
                               "-c:a", "pcm_s16le", wav}) != 0)
    return {};
  return read_wav(wav);
}

double energy(const std::vector<double>& x) { return std::inner_product(x.begin(), x.end(), x.begin(), 0.0); }

struct Peak {
  long lag = 0;       // b[n] lines up with a[n + lag]
  double score = 0;   // the peak over the geometric mean of the energies
};

// Full cross-correlation through the FFT; every lag is searched.
Peak cross_correlate(const std::vector<double>& a, const std::vector<double>& b) {
  size_t n = 1;
  while (n < a.size() + b.size()) n <<= 1;
  std::vector<std::complex<double>> pa(n), pb(n), fa, fb, r;
  std::copy(a.begin(), a.end(), pa.begin());
  std::copy(b.begin(), b.end(), pb.begin());
  Eigen::FFT<double> fft;
  fft.fwd(fa, pa);
  fft.fwd(fb, pb);
  for (size_t i = 0; i < n; ++i) fa[i] *= std::conj(fb[i]);
  fft.inv(r, fa);
  Peak best;
  double top = -1e300;
  for (size_t i = 0; i < n; ++i) {
    if (r[i].real() > top) {
      top = r[i].real();
      // Lags run from -(b's length - 1) to a's length - 1; the negative ones wrap.
      best.lag = i < a.size() ? static_cast<long>(i) : static_cast<long>(i) - static_cast<long>(n);
    }
  }
  best.score = top / std::sqrt(energy(a) * energy(b));
  return best;
}

}  // namespace

TEST(EventGenerator, SameFilesFromTheSameDescriptionAndStartsThatLineUp) {
  TempRunDir dir;
  const std::vector<std::string> devices = {
      "file=a.wav start=2 duration=14", "file=b.wav start=5.3713 duration=8",
      "file=c.wav start=5.3713 duration=8 event=2", "file=d.wav start=9.25 duration=6 rate=44100",
      // Every random part of a device at once, for the byte-for-byte comparison.
      "file=e.wav start=1.25 duration=4 rate=44100 snr=10 reverb=on drift=40 filter=phone gain=-6",
      "file=clip.mp3 start=2 duration=14", "file=clip.mov start=2 duration=14 fps=29.97",
      "file=quiet.wav kind=silence duration=2", "file=tiny.wav start=7 duration=0.1",
      "file=picture.mp4 kind=noaudio duration=2", "file=fake.mov kind=text"};
  ASSERT_EQ(e2e::make_event(dir.file("one"), devices), 0);
  ASSERT_EQ(e2e::make_event(dir.file("two"), devices), 0);
  for (const char* f : {"a.wav", "e.wav", "quiet.wav", "manifest.tsv"}) {
    const std::string first = testing_support::read_file(dir.file("one/") + f);
    EXPECT_GT(first.size(), 100u) << f;
    EXPECT_TRUE(first == testing_support::read_file(dir.file("two/") + f)) << f << " differs";
  }
  const auto truth = e2e::read_manifest(dir.file("one"));
  ASSERT_EQ(truth.size(), devices.size());
  EXPECT_EQ(truth.at("e.wav").start_s, 1.25);
  EXPECT_EQ(truth.at("e.wav").drift_ppm, 40.0);
  EXPECT_EQ(truth.at("c.wav").event, "2");
  EXPECT_EQ(read_wav(dir.file("one/e.wav")).rate, 44100);

  const std::string ev = dir.file("one/");
  const Sound a = analysis_sound(ev + "a.wav");
  ASSERT_EQ(a.samples.size(), 14u * kAnalysisRate);
  // (file, start after a's in samples, least score); another event's recording shares
  // no material, and the encoders' priming and padding must not move the start.
  const std::tuple<const char*, double, double> lined_up[] = {
      {"b.wav", (5.3713 - 2.0) * kAnalysisRate, 0.6}, {"d.wav", (9.25 - 2.0) * kAnalysisRate, 0.5},
      {"clip.mp3", 0, 0.9}, {"clip.mov", 0, 0.9}};
  for (const auto& [file, lag, score] : lined_up) {
    const Peak p = cross_correlate(a.samples, analysis_sound(ev + file).samples);
    EXPECT_NEAR(p.lag, lag, 1.0) << file;
    EXPECT_GT(p.score, score) << file;
  }
  EXPECT_LT(cross_correlate(a.samples, analysis_sound(ev + "c.wav").samples).score, 0.25);

  const Sound quiet = read_wav(ev + "quiet.wav");
  EXPECT_EQ(quiet.samples.size(), 96000u);
  EXPECT_EQ(energy(quiet.samples), 0.0);
  EXPECT_EQ(read_wav(ev + "tiny.wav").samples.size(), 4800u);
  EXPECT_NE(testing_support::ffmpeg({"-i", ev + "picture.mp4", "-map", "0:a:0", "-f", "null", "-"}), 0)
      << "the video-only file has a sound track";
  EXPECT_EQ(testing_support::ffmpeg({"-i", ev + "picture.mp4", "-map", "0:v:0", "-f", "null", "-"}), 0);
  EXPECT_NE(testing_support::ffmpeg({"-i", ev + "fake.mov", "-f", "null", "-"}), 0);
}

TEST(EventGenerator, ClocksDriftByTheirPpmAndNoiseMeetsItsSnrForEachDeviceAlone) {
  TempRunDir dir;
  ASSERT_EQ(e2e::make_event(dir.file("ev"),
                            {"file=steady.wav start=1 duration=30",
                             "file=fast.wav start=1 duration=30 drift=500",
                             "file=clean.wav start=3 duration=10 filter=lowpass:6000",
                             "file=noisy.wav start=3 duration=10 filter=lowpass:6000 snr=6",
                             "file=noisy2.wav start=3 duration=10 filter=lowpass:6000 snr=6"}),
            0);
  EXPECT_EQ(read_wav(dir.file("ev/steady.wav")).samples.size(), 30u * 48000);
  EXPECT_EQ(read_wav(dir.file("ev/fast.wav")).samples.size(), 1440720u);  // 30 s × 48000 × 1.0005

  // The fast clock's file runs ahead of the event more and more: 120 samples at 8 kHz
  // after 30 s. One-second windows give the lag at their middle.
  const Sound steady = analysis_sound(dir.file("ev/steady.wav"));
  const Sound fast = analysis_sound(dir.file("ev/fast.wav"));
  for (const double at_s : {2.0, 15.0, 27.0}) {
    const auto from = fast.samples.begin() + static_cast<long>(at_s * kAnalysisRate);
    const Peak p = cross_correlate(steady.samples, {from, from + kAnalysisRate});
    const double middle = at_s * kAnalysisRate + kAnalysisRate / 2.0;
    EXPECT_NEAR(p.lag, middle / (1.0 + 500e-6) - kAnalysisRate / 2.0, 1.5) << "window at " << at_s << " s";
  }

  const Sound clean = read_wav(dir.file("ev/clean.wav"));
  const Sound noisy = read_wav(dir.file("ev/noisy.wav"));
  const Sound noisy2 = read_wav(dir.file("ev/noisy2.wav"));
  ASSERT_TRUE(noisy.samples.size() == clean.samples.size() &&
              noisy2.samples.size() == clean.samples.size());
  std::vector<double> noise(clean.samples.size()), noise2(clean.samples.size());
  for (size_t i = 0; i < noise.size(); ++i) {
    noise[i] = noisy.samples[i] - clean.samples[i];
    noise2[i] = noisy2.samples[i] - clean.samples[i];
  }
  EXPECT_NEAR(10 * std::log10(energy(clean.samples) / energy(noise)), 6.0, 0.3);
  const double shared = std::inner_product(noise.begin(), noise.end(), noise2.begin(), 0.0);
  EXPECT_LT(std::fabs(shared) / std::sqrt(energy(noise) * energy(noise2)), 0.05);
}

TEST(EventGenerator, ReadsDeviceListsAndRefusesBadDescriptions) {
  TempRunDir dir;
  testing_support::write_file(dir.file("good.txt"),
                              "# two devices\n\nfile=a.wav duration=1  # the first\n"
                              "file=b.wav start=0.5 duration=1\n");
  ASSERT_EQ(run_program({BRENVIK_MAKE_EVENT_EXE, "--quiet", "--out", dir.file("ev"), "--devices",
                         dir.file("good.txt")}),
            0);
  EXPECT_EQ(e2e::read_manifest(dir.file("ev")).size(), 2u);

  for (const char* bad : {"file=a.wav", "file=a.wav duration=0", "file=a.xyz duration=1",
                          "file=a.wav duration=1 filter=lowpass:30000", "file=a.wav duration=1 snr=loud",
                          "file=a.wav duration=1 colour=red", "file=a.wav duration=1 kind=noaudio",
                          "file=../a.wav duration=1", "duration=1"}) {
    EXPECT_EQ(e2e::make_event(dir.file("bad"), {bad}), 2) << bad;
  }
  EXPECT_EQ(e2e::make_event(dir.file("bad"), {"file=a.wav duration=1", "file=a.wav duration=2"}), 2);
  EXPECT_FALSE(testing_support::file_exists(dir.file("bad")));
}
