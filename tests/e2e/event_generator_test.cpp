// The event generator is the ruler the end-to-end tests measure the engine with, so
// its truth is checked here: windows, clocks, noise levels and encodings.

#include "core/process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <unsupported/Eigen/FFT>

#include <cmath>
#include <complex>
#include <sstream>
#include <string>
#include <vector>

using testing_support::TempRunDir;

namespace {

constexpr int kAnalysisRate = 8000;  // Hz, the rate the engine matches at

// Runs brenvik-make-event quietly into `out_dir` with one --device per line.
int make_event(const std::string& out_dir, const std::vector<std::string>& devices) {
  std::vector<std::string> argv = {BRENVIK_MAKE_EVENT_EXE, "--quiet", "--out", out_dir};
  for (const std::string& d : devices) argv.insert(argv.end(), {"--device", d});
  return run_program(argv, true);
}

struct Sound {
  int rate = 0;
  std::vector<double> samples;  // mono
};

Sound read_wav(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return {};
  std::vector<double> all(static_cast<size_t>(info.frames * info.channels));
  sf_readf_double(f, all.data(), info.frames);
  sf_close(f);
  Sound s{info.samplerate, std::vector<double>(static_cast<size_t>(info.frames))};
  for (sf_count_t i = 0; i < info.frames; ++i)
    for (int c = 0; c < info.channels; ++c) s.samples[i] += all[i * info.channels + c] / info.channels;
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

double energy(const std::vector<double>& x) {
  double e = 0;
  for (double v : x) e += v * v;
  return e;
}

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

std::vector<double> slice(const std::vector<double>& x, size_t from, size_t count) {
  return {x.begin() + static_cast<long>(from), x.begin() + static_cast<long>(from + count)};
}

// The manifest's rows, split at tabs; row 0 is the header.
std::vector<std::vector<std::string>> manifest(const std::string& dir) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(testing_support::read_file(dir + "/manifest.tsv"));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

}  // namespace

TEST(EventGenerator, SameDescriptionGivesIdenticalFiles) {
  TempRunDir dir;
  const std::vector<std::string> devices = {
      "file=a.wav start=1.25 duration=6 snr=20 reverb=on drift=40 filter=phone",
      "file=b.wav start=0 duration=4 rate=44100 snr=10 filter=bandpass:200:5000 gain=-6",
      "file=c.wav event=9 start=2 duration=3"};
  ASSERT_EQ(make_event(dir.file("one"), devices), 0);
  ASSERT_EQ(make_event(dir.file("two"), devices), 0);
  for (const char* f : {"a.wav", "b.wav", "c.wav", "manifest.tsv"}) {
    const std::string first = testing_support::read_file(dir.file("one/") + f);
    EXPECT_GT(first.size(), 100u) << f;
    EXPECT_TRUE(first == testing_support::read_file(dir.file("two/") + f)) << f << " differs";
  }
  // The truth as written down: start, span, file length (with the clock), drift, rate.
  const auto rows = manifest(dir.file("one"));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0][0], "file");
  EXPECT_EQ(rows[1], (std::vector<std::string>{"a.wav", "a", "1", "1.250000", "6.000000", "6.000250",
                                               "40.000000", "48000", "sound"}));
  EXPECT_EQ(rows[3][2], "9");
  EXPECT_EQ(read_wav(dir.file("one/b.wav")).rate, 44100);
}

TEST(EventGenerator, WindowsLineUpAtTheirTrueStartsAndOtherEventsDoNot) {
  TempRunDir dir;
  ASSERT_EQ(make_event(dir.file("ev"), {"file=a.wav start=2 duration=14",
                                        "file=b.wav start=5.3713 duration=8",
                                        "file=c.wav start=5.3713 duration=8 event=2",
                                        "file=d.wav start=9.25 duration=6 rate=44100"}),
            0);
  const Sound a = analysis_sound(dir.file("ev/a.wav"));
  const Sound b = analysis_sound(dir.file("ev/b.wav"));
  const Sound c = analysis_sound(dir.file("ev/c.wav"));
  const Sound d = analysis_sound(dir.file("ev/d.wav"));
  ASSERT_EQ(a.samples.size(), 14u * kAnalysisRate);
  ASSERT_EQ(b.samples.size(), 8u * kAnalysisRate);

  const Peak same = cross_correlate(a.samples, b.samples);
  EXPECT_NEAR(same.lag, (5.3713 - 2.0) * kAnalysisRate, 1.0);  // 26970.4 samples
  EXPECT_GT(same.score, 0.6);
  // A 44.1 kHz device reads the event at another step and must still start on time.
  const Peak cd = cross_correlate(a.samples, d.samples);
  EXPECT_NEAR(cd.lag, (9.25 - 2.0) * kAnalysisRate, 1.0);
  EXPECT_GT(cd.score, 0.5);

  // A recording of another event shares no material with the first.
  const Peak other = cross_correlate(a.samples, c.samples);
  EXPECT_LT(other.score, 0.25) << "at lag " << other.lag;
}

TEST(EventGenerator, DriftStretchesTheRecordingByItsPpm) {
  TempRunDir dir;
  constexpr double kPpm = 500;
  ASSERT_EQ(make_event(dir.file("ev"), {"file=steady.wav start=1 duration=30",
                                        "file=fast.wav start=1 duration=30 drift=500"}),
            0);
  EXPECT_EQ(read_wav(dir.file("ev/steady.wav")).samples.size(), 30u * 48000);
  EXPECT_EQ(read_wav(dir.file("ev/fast.wav")).samples.size(), 1440720u);  // 30 s × 48000 × 1.0005

  // The fast clock's file runs ahead of the event more and more: 120 samples at 8 kHz
  // after 30 s. One-second windows give the lag at their middle.
  const Sound steady = analysis_sound(dir.file("ev/steady.wav"));
  const Sound fast = analysis_sound(dir.file("ev/fast.wav"));
  for (const double at_s : {2.0, 15.0, 27.0}) {
    const auto from = static_cast<size_t>(at_s * kAnalysisRate);
    const Peak p = cross_correlate(steady.samples, slice(fast.samples, from, kAnalysisRate));
    const double middle = static_cast<double>(from) + kAnalysisRate / 2.0;
    const double expected = middle / (1.0 + kPpm * 1e-6) - kAnalysisRate / 2.0;
    EXPECT_NEAR(p.lag, expected, 1.5) << "window at " << at_s << " s";
  }
}

TEST(EventGenerator, NoiseMeetsItsSnrAndIsEachDevicesOwn) {
  TempRunDir dir;
  ASSERT_EQ(make_event(dir.file("ev"),
                       {"file=clean.wav start=3 duration=10 filter=lowpass:6000",
                        "file=noisy.wav start=3 duration=10 filter=lowpass:6000 snr=6",
                        "file=noisy2.wav start=3 duration=10 filter=lowpass:6000 snr=6"}),
            0);
  const Sound clean = read_wav(dir.file("ev/clean.wav"));
  const Sound noisy = read_wav(dir.file("ev/noisy.wav"));
  const Sound noisy2 = read_wav(dir.file("ev/noisy2.wav"));
  ASSERT_EQ(clean.samples.size(), noisy.samples.size());
  ASSERT_EQ(clean.samples.size(), noisy2.samples.size());
  std::vector<double> noise(clean.samples.size()), noise2(clean.samples.size());
  for (size_t i = 0; i < noise.size(); ++i) {
    noise[i] = noisy.samples[i] - clean.samples[i];
    noise2[i] = noisy2.samples[i] - clean.samples[i];
  }
  EXPECT_NEAR(10 * std::log10(energy(clean.samples) / energy(noise)), 6.0, 0.3);
  double shared = 0;
  for (size_t i = 0; i < noise.size(); ++i) shared += noise[i] * noise2[i];
  EXPECT_LT(std::fabs(shared) / std::sqrt(energy(noise) * energy(noise2)), 0.05);
}

TEST(EventGenerator, EncodedFilesKeepTheirStartAndOddFilesAreWhatTheySay) {
  TempRunDir dir;
  ASSERT_EQ(make_event(dir.file("ev"),
                       {"file=ref.wav start=4 duration=10", "file=clip.mp3 start=4 duration=10",
                        "file=clip.mov start=4 duration=10 fps=29.97",
                        "file=quiet.wav kind=silence duration=2", "file=tiny.wav start=7 duration=0.1",
                        "file=picture.mp4 kind=noaudio duration=2", "file=fake.mov kind=text"}),
            0);
  // The encoders' priming and padding must not move the start ffmpeg decodes.
  const Sound ref = analysis_sound(dir.file("ev/ref.wav"));
  for (const char* f : {"clip.mp3", "clip.mov"}) {
    const Sound s = analysis_sound(dir.file(std::string("ev/") + f));
    ASSERT_GT(s.samples.size(), 9u * kAnalysisRate) << f;
    const Peak p = cross_correlate(ref.samples, s.samples);
    EXPECT_NEAR(p.lag, 0, 1) << f;
    EXPECT_GT(p.score, 0.9) << f;
  }
  const Sound quiet = read_wav(dir.file("ev/quiet.wav"));
  EXPECT_EQ(quiet.samples.size(), 96000u);
  EXPECT_EQ(energy(quiet.samples), 0.0);
  EXPECT_EQ(read_wav(dir.file("ev/tiny.wav")).samples.size(), 4800u);
  EXPECT_NE(testing_support::ffmpeg({"-i", dir.file("ev/picture.mp4"), "-map", "0:a:0", "-f", "null", "-"}), 0)
      << "the video-only file has a sound track";
  EXPECT_EQ(testing_support::ffmpeg({"-i", dir.file("ev/picture.mp4"), "-map", "0:v:0", "-f", "null", "-"}), 0);
  EXPECT_NE(testing_support::ffmpeg({"-i", dir.file("ev/fake.mov"), "-f", "null", "-"}), 0);

  const auto rows = manifest(dir.file("ev"));
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[4][3], "-") << "digital silence has no place in the event";
  EXPECT_EQ(rows[5][3], "7.000000");
  EXPECT_EQ(rows[7][8], "text");
}

TEST(EventGenerator, ReadsDeviceListsAndRefusesBadDescriptions) {
  TempRunDir dir;
  testing_support::write_file(dir.file("good.txt"),
                              "# two devices\n\nfile=a.wav duration=1  # the first\n"
                              "file=b.wav start=0.5 duration=1\n");
  ASSERT_EQ(run_program({BRENVIK_MAKE_EVENT_EXE, "--quiet", "--out", dir.file("ev"), "--devices",
                         dir.file("good.txt")}),
            0);
  EXPECT_EQ(manifest(dir.file("ev")).size(), 3u);

  for (const char* bad : {"file=a.wav", "file=a.wav duration=0", "file=a.xyz duration=1",
                          "file=a.wav duration=1 filter=lowpass:30000", "file=a.wav duration=1 snr=loud",
                          "file=a.wav duration=1 colour=red", "file=a.wav duration=1 kind=noaudio",
                          "file=../a.wav duration=1", "duration=1"}) {
    EXPECT_EQ(make_event(dir.file("bad"), {bad}), 2) << bad;
  }
  EXPECT_EQ(make_event(dir.file("bad"), {"file=a.wav duration=1", "file=a.wav duration=2"}), 2);
  testing_support::write_file(dir.file("bad.txt"), "file=a.wav duration=1\nfile=b.wav duration=-1\n");
  EXPECT_EQ(run_program({BRENVIK_MAKE_EVENT_EXE, "--quiet", "--out", dir.file("bad"), "--devices",
                         dir.file("bad.txt")}),
            2);
  EXPECT_FALSE(testing_support::file_exists(dir.file("bad")));
}
