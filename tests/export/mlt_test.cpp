#include "export/mlt.h"

#include "core/format.h"
#include "core/log.h"
#include "core/process.h"
#include "export/timeline_layout.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <map>
#include <regex>
#include <sstream>

using testing_support::between;
using testing_support::ffmpeg;
using testing_support::TempRunDir;
using testing_support::write_file;

namespace {

constexpr double kSampleRate = 48000.0;

// avfilter.compensationdelay's own arithmetic: a distance over the speed of sound at
// `temp` °C, truncated to whole samples.
long filter_delay(double m, double cm, double mm, double temp) {
  const double speed = 1.85325 * (643.95 * std::sqrt((temp + 273.15) / 273.15)) * 100000.0 / 3600.0;
  return static_cast<long>((m * 100.0 + cm + mm * 0.1) / speed * kSampleRate);
}

std::string property_of(const std::string& element, const std::string& name) {
  const auto found = between(element, "<property name=\"" + name + "\">", "</property>");
  return found.empty() ? std::string() : found.front();
}

struct Entry {
  std::string resource;
  long frame = 0;   // where the entry starts on its track
  long frames = 0;  // how many it plays
  long length = 0;  // its producer's length
  long delay = 0;   // samples at 48 kHz
};

// The entries of every track as the reader sees them, in the tractor's order of tracks.
std::vector<std::vector<Entry>> read_tracks(const std::string& doc) {
  static const std::regex item(
      R"re(<blank length="(\d+)"/>|<entry producer="(\w+)" in="0" out="(\d+)"(/>|>([\s\S]*?)</entry>))re");
  std::vector<std::vector<Entry>> tracks;
  for (const std::string& id : between(doc, "<track producer=\"", "\"")) {
    const std::string body = between(doc, "<playlist id=\"" + id + "\">", "</playlist>").at(0);
    std::vector<Entry>& entries = tracks.emplace_back();
    long at = 0;
    for (std::sregex_iterator i(body.begin(), body.end(), item), end; i != end; ++i) {
      const std::smatch& m = *i;
      if (m[1].matched) {
        at += std::stol(m[1]);
        continue;
      }
      const std::string producer = between(doc, "<producer id=\"" + m[2].str() + "\"", "</producer>").at(0);
      Entry e{property_of(producer, "resource"), at, std::stol(m[3]) + 1,
              std::stol(property_of(producer, "length"))};
      if (const std::string filter = m[5]; !filter.empty()) {
        EXPECT_NE(filter.find("avfilter.compensationdelay"), std::string::npos) << filter;
        EXPECT_EQ(property_of(filter, "av.dry"), "0");
        EXPECT_EQ(property_of(filter, "av.wet"), "1");
        auto field = [&](const char* name) { return std::stod(property_of(filter, name)); };
        e.delay = filter_delay(field("av.m"), field("av.cm"), field("av.mm"), field("av.temp"));
      }
      at += e.frames;
      entries.push_back(e);
    }
  }
  return tracks;
}

LayoutClip clip(const std::string& path, double start, double length, float rate) {
  LayoutClip c;
  c.member.path = c.absolute = path;
  c.member.exact_start = start;
  c.member.length = length;
  c.member.frame_rate = rate;
  return c;
}

std::vector<float> read_sound(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) return {};
  std::vector<float> all(static_cast<size_t>(info.frames * info.channels));
  sf_readf_float(file, all.data(), info.frames);
  sf_close(file);
  std::vector<float> first(static_cast<size_t>(info.frames));
  for (size_t i = 0; i < first.size(); ++i) first[i] = all[i * static_cast<size_t>(info.channels)];
  return first;
}

// Seconds by which `other` lags `reference` over one window, to a fraction of a sample,
// searched within ±50 ms.
double lag_seconds(const std::vector<float>& reference, const std::vector<float>& other,
                   double from_s, double window_s) {
  constexpr long kMaxLag = 2400;
  const auto from = static_cast<long>(from_s * kSampleRate);
  const auto n = static_cast<long>(window_s * kSampleRate);
  if (from < kMaxLag || from + n + kMaxLag + 1 > static_cast<long>(std::min(reference.size(), other.size())))
    return 1.0;
  std::vector<double> score(2 * kMaxLag + 1);
  for (long lag = -kMaxLag; lag <= kMaxLag; ++lag) {
    float sum = 0.0f;
    for (long i = 0; i < n; ++i) sum += reference[from + i] * other[from + i + lag];
    score[lag + kMaxLag] = sum;
  }
  const long best = std::max_element(score.begin() + 1, score.end() - 1) - score.begin();
  const double a = score[best - 1], b = score[best], c = score[best + 1];
  const double vertex = (a - c) / (2.0 * (a - 2.0 * b + c));
  return (static_cast<double>(best - kMaxLag) + (std::isfinite(vertex) ? vertex : 0.0)) / kSampleRate;
}

}  // namespace

// Sounds on sub-frame starts at 29.97 fps, one on a frame's first sample, one near an
// hour in and a name full of markup: read back as a reader would, every sound starts on
// its 48 kHz sample and every picture on its nearest frame.
TEST(MltDocument, PlacesSoundsOnTheirSampleAndPicturesOnTheirFrame) {
  const ExactRate rate{30000, 1001};
  const double fps = rate.fps();
  GroupLayout layout;
  layout.name = "Sync group \"1\" & <2>";
  const LayoutClip video = clip("/m/v & \"1\" <x>.mov", 7.31915, 20.0, 29.97f);
  LayoutTrack v{true, 0, "v.mov", {video}};
  LayoutTrack a0{false, 0, "v.mov", {video}};
  LayoutTrack a1{false, 1, "a.wav", {clip("/m/a.wav", 0.0123, 9.99, 999), clip("/m/b.wav", 10.01, 5.0, 999)}};
  LayoutTrack a2{false, 2, "c.wav", {clip("/m/c.wav", 3599.98765, 3.0, 999), clip("/m/d.wav", 3603.0, 1.0, 999)}};
  layout.tracks = {v, a0, a1, a2};
  const std::string doc = mlt_document(layout, rate, 1920, 1080);

  EXPECT_NE(doc.find("frame_rate_num=\"30000\" frame_rate_den=\"1001\""), std::string::npos);
  EXPECT_NE(doc.find("display_aspect_num=\"16\" display_aspect_den=\"9\""), std::string::npos);
  EXPECT_NE(doc.find("<mlt LC_NUMERIC=\"C\" version=\"7.12.0\""), std::string::npos);

  std::map<std::string, const LayoutClip*> clips;
  for (const LayoutTrack& track : layout.tracks)
    for (const LayoutClip& c : track.clips) clips[xml_escape(c.absolute)] = &c;
  const auto tracks = read_tracks(doc);
  ASSERT_EQ(tracks.size(), 5u) << "background and four tracks";
  for (size_t t = 1; t < tracks.size(); ++t) {
    const LayoutTrack& track = layout.tracks[t - 1];
    ASSERT_EQ(tracks[t].size(), track.clips.size()) << "track " << t;
    for (const Entry& e : tracks[t]) {
      const LayoutClip& c = *clips.at(e.resource);
      const double start = static_cast<double>(e.frame) / fps + static_cast<double>(e.delay) / kSampleRate;
      const double end = static_cast<double>(e.frame + e.frames) / fps;
      EXPECT_EQ(e.length, e.frames) << e.resource << ": melt cuts an entry to its producer";
      if (track.video) {
        EXPECT_EQ(e.delay, 0);
        EXPECT_LE(std::abs(start - c.member.exact_start), 0.5 / fps) << e.resource;
      } else {
        EXPECT_NEAR(start, c.member.exact_start, 1.0 / kSampleRate + 1e-9) << e.resource << " track " << t;
        EXPECT_GE(end, c.member.exact_start + c.member.length) << e.resource << " loses its end";
        EXPECT_LT(end, c.member.exact_start + c.member.length + 2.0 / fps) << e.resource;
      }
    }
  }
  const std::string hides = "<track producer=\"playlist0\" hide=\"audio\"/>";
  EXPECT_NE(doc.find(hides), std::string::npos);
  for (const char* id : {"playlist1", "playlist2", "playlist3"})
    EXPECT_NE(doc.find("<track producer=\"" + std::string(id) + "\" hide=\"video\"/>"), std::string::npos);
  EXPECT_EQ(between(doc, "<property name=\"mlt_service\">mix</property>", "</transition>").size(), 4u);

  if (run_program({"xmllint", "--version"}) == 127) GTEST_SKIP() << "xmllint is not installed";
  TempRunDir dir;
  ASSERT_TRUE(write_file(dir.file("t.mlt"), doc));
  EXPECT_EQ(run_program({"xmllint", "--noout", dir.file("t.mlt")}, false), 0);
}

// An event cut into members at sub-frame offsets (WAVs at 48 and 44.1 kHz and a video
// with AAC sound) and placed at 29.97 fps: melt plays each member's sound in step with
// the reference member's, near the start and near the end of their overlap.
TEST(MltDocument, MeltPlaysEveryMemberInStepWithTheReference) {
  if (run_program({"melt", "-version"}) == 127) GTEST_SKIP() << "melt is not installed";
  TempRunDir dir;
  ASSERT_EQ(ffmpeg({"-f", "lavfi", "-i", "anoisesrc=d=17:c=pink:seed=11:a=0.5,aformat=s16:48000:mono",
                    dir.file("source.wav")}), 0);
  struct Cut {
    const char* name;
    long first, last;  // source samples
    bool video;
    std::vector<std::string> encode;
  };
  const std::vector<Cut> cuts = {
      {"ref.wav", 624, 15 * 48000, false, {}},
      {"m1.wav", 169042, 16 * 48000, false, {}},
      {"m2.wav", 250001, 14 * 48000, false, {"-ar", "44100"}},
      {"v.mp4", 351317, 13 * 48000, true,
       {"-shortest", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac"}}};
  Timeline timeline;
  SyncGroup& group = timeline.groups.emplace_back();
  for (size_t k = 0; k < cuts.size(); ++k) {
    const Cut& c = cuts[k];
    std::vector<std::string> args = {"-i", dir.file("source.wav")};
    if (c.video) args.insert(args.end(), {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25"});
    args.insert(args.end(), {"-af", "atrim=start_sample=" + std::to_string(c.first) +
                                        ":end_sample=" + std::to_string(c.last) + ",asetpts=PTS-STARTPTS"});
    args.insert(args.end(), c.encode.begin(), c.encode.end());
    args.push_back(dir.file(c.name));
    ASSERT_EQ(ffmpeg(args), 0) << c.name;
    TimelineMember m;
    m.entry = m.device = static_cast<int>(k);
    m.path = dir.file(c.name);
    m.frame_rate = c.video ? 25.0f : 999.0f;
    m.exact_start = static_cast<double>(c.first) / kSampleRate;
    m.length = static_cast<double>(c.last - c.first) / kSampleRate;
    group.members.push_back(m);
  }
  std::ostringstream trace;
  ConsoleCapture quiet(trace);
  const GroupLayout layout = layout_groups(timeline).at(0);
  const std::string doc = mlt_document(layout, {30000, 1001}, 160, 120);

  // Each sound track alone: every other track hidden altogether.
  std::map<std::string, std::vector<float>> renders;
  for (size_t t = 0; t < layout.tracks.size(); ++t) {
    if (layout.tracks[t].video) continue;
    std::string alone = doc;
    for (size_t o = 0; o < layout.tracks.size(); ++o) {
      if (o == t) continue;
      const std::string track = "<track producer=\"playlist" + std::to_string(o) + "\" hide=\"";
      alone.replace(alone.find(track) + track.size(), 5, "both");
    }
    const std::string mlt = dir.file("track" + std::to_string(t) + ".mlt");
    const std::string wav = dir.file("track" + std::to_string(t) + ".wav");
    ASSERT_TRUE(write_file(mlt, alone));
    ASSERT_EQ(run_program({"melt", "-silent", mlt, "-consumer", "avformat:" + wav, "vn=1",
                           "ar=48000", "ac=1"}), 0);
    renders[layout.tracks[t].name] = read_sound(wav);
  }
  ASSERT_EQ(renders.size(), cuts.size());

  constexpr double kWindow = 0.5;   // seconds
  constexpr double kMargin = 0.2;   // seconds inside the overlap
  constexpr double kTolerance = 0.001;
  const std::vector<float>& reference = renders.at(cuts[0].name);
  for (size_t k = 1; k < cuts.size(); ++k) {
    const double first = static_cast<double>(cuts[k].first) / kSampleRate;
    const double last = static_cast<double>(std::min(cuts[k].last, cuts[0].last)) / kSampleRate;
    const std::vector<float>& member = renders.at(cuts[k].name);
    const double early = lag_seconds(reference, member, first + kMargin, kWindow);
    const double late = lag_seconds(reference, member, last - kMargin - kWindow, kWindow);
    EXPECT_LT(std::abs(early), kTolerance) << cuts[k].name << " near its start";
    EXPECT_LT(std::abs(late), kTolerance) << cuts[k].name << " near its end";
    RecordProperty(std::string(cuts[k].name) + "_start_ms", std::to_string(early * 1000.0));
    RecordProperty(std::string(cuts[k].name) + "_end_ms", std::to_string(late * 1000.0));
  }
}
