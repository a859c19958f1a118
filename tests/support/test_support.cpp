#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include "core/process.h"

#include <sndfile.h>
#include <unsupported/Eigen/FFT>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <csignal>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testing_support {

std::vector<std::map<std::string, std::string>> tags(const std::string& doc, const std::string& name) {
  static const std::regex attribute("([\\w-]+)=\"([^\"]*)\"");
  std::vector<std::map<std::string, std::string>> out;
  for (const std::string& tag : between(doc, "<" + name + " ", ">")) {
    std::map<std::string, std::string>& a = out.emplace_back();
    for (std::sregex_iterator it(tag.begin(), tag.end(), attribute), end; it != end; ++it) {
      std::string v = (*it)[2];
      for (const auto& [entity, c] : {std::pair{"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
        v = std::regex_replace(v, std::regex(entity), c);
      a[(*it)[1]] = v;
    }
  }
  return out;
}

long double seconds(const std::string& text) {
  long long n = 0, d = 1;
  EXPECT_TRUE(std::sscanf(text.c_str(), "%lld/%lld", &n, &d) >= 1 && text.back() == 's' &&
              (n == 0 || std::gcd(n, d) == 1)) << text;
  return static_cast<long double>(n) / d;
}

TempRunDir::TempRunDir() {
  previous_cwd_ = fs::current_path().string();
  std::string pattern = (fs::temp_directory_path() / "brenvik-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  fs::create_directories(path_ + "/Brenvik.app/LOG");
  fs::create_directories(path_ + "/Brenvik.app/SYNCED");
  fs::create_symlink(BRENVIK_FFMPEG, path_ + "/Brenvik.app/ffmpeg");
  fs::current_path(path_);
}

TempRunDir::~TempRunDir() {
  std::error_code ec;
  fs::current_path(previous_cwd_, ec);
  fs::remove_all(path_, ec);
}

std::string TempRunDir::log_text() const { return read_file(path_ + "/Brenvik.app/LOG/log_file.txt"); }

StandInViewer::StandInViewer(int exit_status) {
  std::string pattern = (fs::temp_directory_path() / "brenvik-viewer-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  const std::string script = dir_ + "/" + kFolderViewer;
  // The pid is written last, so that a pid on file means the folder is on file too.
  write_file(script, "#!/bin/sh\nprintf '%s' \"$1\" > '" + dir_ + "/shown'\n" +
                         (exit_status == kNeverEnds ? "echo $$ > '" + dir_ + "/pid'\nexec sleep 600\n"
                                                    : "exit " + std::to_string(exit_status) + "\n"));
  fs::permissions(script, fs::perms::owner_all);
  const char* path = std::getenv("PATH");
  path_before_ = path ? path : "";
  setenv("PATH", (dir_ + ":" + path_before_).c_str(), 1);
}

StandInViewer::~StandInViewer() {
  if (const std::string pid = read_file(dir_ + "/pid"); !pid.empty()) kill(std::stoi(pid), SIGKILL);
  setenv("PATH", path_before_.c_str(), 1);
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string StandInViewer::shown() const { return read_file(dir_ + "/shown"); }

bool StandInViewer::running() const {
  const std::string pid = read_file(dir_ + "/pid");
  return !pid.empty() && kill(std::stoi(pid), 0) == 0;
}

int ffmpeg(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {BRENVIK_FFMPEG, "-nostdin", "-y", "-loglevel", "error"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, true);
}

bool make_media(const std::string& path, const std::string& audio, double seconds, bool video) {
  const std::string d = std::to_string(seconds);
  std::vector<std::string> args = {"-f", "lavfi", "-i", audio};
  if (video) {
    args.insert(args.end(), {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-c:v",
                             "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
  }
  args.insert(args.end(), {"-t", d, path});
  return ffmpeg(args) == 0;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::vector<std::string> between(const std::string& text, const std::string& open,
                                 const std::string& close) {
  std::vector<std::string> found;
  for (size_t a = text.find(open); a != std::string::npos; a = text.find(open, a)) {
    const size_t b = text.find(close, a + open.size());
    if (b == std::string::npos) break;
    found.push_back(text.substr(a + open.size(), b - a - open.size()));
    a = b + close.size();
  }
  return found;
}

std::vector<std::vector<MltEntry>> mlt_entries(const std::string& doc) {
  const auto first = [](const std::string& text, const std::string& open, const std::string& close) {
    const std::vector<std::string> all = between(text, open, close);
    return all.empty() ? std::string() : all.front();
  };
  const auto number = [&](const std::string& text, const std::string& open) {
    const std::string value = first(text, open, "\"");
    return value.empty() ? 0.0 : std::stod(value);
  };
  const auto property = [&](const std::string& element, const std::string& name) {
    const std::string value = first(element, "<property name=\"" + name + "\">", "</property>");
    return value.empty() ? 0.0 : std::stod(value);
  };
  const std::string profile = first(doc, "<profile", ">");
  const double fps = number(profile, "frame_rate_num=\"") / number(profile, "frame_rate_den=\"");
  std::map<std::string, std::string> hides;  // playlist id → what its track hides
  for (const std::string& track : between(doc, "<track producer=\"", ">"))
    hides[track.substr(0, track.find('"'))] = first(track, "hide=\"", "\"");

  static const std::regex item(
      R"re(<blank length="(\d+)"/>|<entry producer="([\w-]+)" in="(\d+)" out="(\d+)"(/>|>([\s\S]*?)</entry>))re");
  std::vector<std::vector<MltEntry>> tracks;
  for (const std::string& body : between(doc, "<playlist id=\"", "</playlist>")) {
    const std::string id = body.substr(0, body.find('"'));
    std::vector<MltEntry> entries;
    long at = 0;
    for (std::sregex_iterator i(body.begin(), body.end(), item), end; i != end; ++i) {
      if ((*i)[1].matched) {
        at += std::stol((*i)[1]);
        continue;
      }
      const std::string producer = first(doc, "<producer id=\"" + (*i)[2].str() + "\"", "</producer>");
      const long in = std::stol((*i)[3]);
      const long frames = std::stol((*i)[4]) - in + 1;
      MltEntry e;
      e.filter = (*i)[6];
      const double speed = 1.85325 * 643.95 *
                           std::sqrt((property(e.filter, "av.temp") + 273.15) / 273.15) * 100000 / 3600;
      const double cm = property(e.filter, "av.m") * 100 + property(e.filter, "av.cm") +
                        property(e.filter, "av.mm") * 0.1;
      e.file = first(producer, "<property name=\"resource\">", "</property>");
      e.file = e.file.substr(e.file.rfind('/') + 1);
      e.video = hides[id] != "video" && hides[id] != "both";
      e.start = (at - in) / fps + std::floor(cm / speed * 48000.0) / 48000.0;
      e.end = (at + frames) / fps;
      e.frames = frames;
      e.producer_length = static_cast<long>(property(producer, "length"));
      at += frames;
      if (first(producer, "<property name=\"mlt_service\">", "</property>") == "avformat")
        entries.push_back(std::move(e));
    }
    if (!entries.empty()) tracks.push_back(std::move(entries));
  }
  return tracks;
}

std::vector<float> melt_alone(const std::string& doc, const std::string& track,
                              const std::string& wav, long in, long out) {
  std::string alone = doc;
  const std::string open = "<track producer=\"";
  for (std::size_t at = alone.find(open); at != std::string::npos; at = alone.find(open, at + 1)) {
    const std::size_t id = at + open.size();
    const std::size_t hide = alone.find("hide=\"", id);
    if (alone.compare(id, track.size() + 1, track + "\"") == 0 || hide > alone.find('>', id))
      continue;
    alone.replace(hide + 6, alone.find('"', hide + 6) - hide - 6, "both");
  }
  const std::string mlt = wav + ".mlt";
  if (!write_file(mlt, alone)) return {};
  // A stalled melt can sit out the TERM: KILL follows ten seconds later.
  std::vector<std::string> argv = {"timeout", "-k", "10", "60", "melt", "-silent", mlt};
  if (out >= 0) argv.insert(argv.end(), {"in=" + std::to_string(in), "out=" + std::to_string(out)});
  argv.insert(argv.end(), {"-consumer", "avformat:" + wav, "vn=1", "ar=48000", "ac=1"});
  // melt now and then stalls at its end, or gives up, on a loaded machine (seen in some
  // dozens of renders); such a render is killed if need be and made again rather than
  // fail or hang the suite on the reader's trouble.
  std::vector<float> sound;
  for (int attempt = 0; attempt < 3 && sound.empty(); ++attempt)
    if (run_program(argv) == 0) sound = read_sound(wav);
  return sound;
}

std::vector<float> read_sound(const std::string& path, int* rate) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (rate) *rate = file ? info.samplerate : 0;
  std::vector<float> samples(file && info.channels == 1 ? static_cast<size_t>(info.frames) : 0);
  if (file) sf_readf_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  if (file) sf_close(file);
  return samples;
}

double sound_lag(const std::vector<float>& reference, const std::vector<float>& other,
                 double from, double search_s) {
  // Phase-transform weighting: music that repeats within the window would give a plain
  // correlation peaks a pitch period apart, as high as the true one.
  constexpr long kWindow = 48000, kSize = 131072;
  const long kMaxLag = std::clamp(std::lround(search_s * 48000.0), 2L, (kSize - kWindow) / 2 - 1);
  const auto a = static_cast<long>(from * 48000.0);
  if (a < kMaxLag ||
      a + kWindow + kMaxLag > static_cast<long>(std::min(reference.size(), other.size())))
    return 1.0;
  std::vector<float> x(kSize, 0.0f), y(kSize, 0.0f), r;
  std::copy(reference.begin() + a, reference.begin() + a + kWindow, x.begin());
  std::copy(other.begin() + a - kMaxLag, other.begin() + a + kWindow + kMaxLag, y.begin());
  Eigen::FFT<float> fft;
  std::vector<std::complex<float>> X, Y;
  fft.fwd(X, x);
  fft.fwd(Y, y);
  for (std::size_t k = 0; k < X.size(); ++k) {
    const std::complex<float> cross = std::conj(X[k]) * Y[k];
    X[k] = cross / (std::abs(cross) + 1e-20f);
  }
  fft.inv(r, X);
  // r[d]: the reference against `other` shifted by d - kMaxLag samples.
  const long b = std::max_element(r.begin() + 1, r.begin() + 2 * kMaxLag) - r.begin();
  const double vertex = (r[b - 1] - r[b + 1]) / (2.0 * (r[b - 1] - 2 * r[b] + r[b + 1]));
  return (static_cast<double>(b - kMaxLag) + vertex) / 48000.0;
}

}  // namespace testing_support
