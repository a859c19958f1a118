#include "export/mlt.h"

#include "core/log.h"
#include "core/process.h"
#include "tests/export/layout_fixture.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <regex>
#include <map>
#include <sstream>
#include <tuple>

using testing_support::TempRunDir;

namespace {

constexpr double kRate = 48000.0;

LayoutClip clip(double start, double length) {
  LayoutClip c;
  c.member.exact_start = start;
  c.member.length = length;
  c.absolute = "/m/a & \"b\" <c>.wav";
  return c;
}

}  // namespace

// Sounds at 29.97 fps on sub-frame starts, on a frame's first sample and near an hour
// in, one right after another, and a title and path full of markup: each sound starts
// on its 48 kHz sample, plays to its end, and each picture starts on its nearest frame.
TEST(MltDocument, PlacesSoundsOnTheirSampleAndPicturesOnTheirFrame) {
  const ExactRate rate{30000, 1001};
  GroupLayout layout{"Group \"1\" & <2>", {}, 0.0};
  layout.tracks = {{true, 0, "v", {clip(7.31915, 20.0), clip(27.33, 3.0)}},
                   {false, 0, "v", {clip(7.31915, 20.0), clip(27.33, 3.0)}},
                   {false, 1, "a", {clip(0.0123, 9.99), clip(10.01, 5.0)}},
                   {false, 2, "c", {clip(3599.98765, 3.0), clip(3603.0, 1.0)}}};
  const std::string doc = mlt_document(layout, rate, 1920, 1080);
  EXPECT_NE(doc.find("frame_rate_num=\"30000\" frame_rate_den=\"1001\""), std::string::npos);
  EXPECT_NE(doc.find("display_aspect_num=\"16\" display_aspect_den=\"9\""), std::string::npos);

  const auto tracks = testing_support::mlt_entries(doc);
  ASSERT_EQ(tracks.size(), layout.tracks.size());
  for (size_t t = 0; t < tracks.size(); ++t) {
    ASSERT_EQ(tracks[t].size(), 2u) << "track " << t;
    for (size_t c = 0; c < 2; ++c) {
      const TimelineMember& m = layout.tracks[t].clips[c].member;
      const testing_support::MltEntry& e = tracks[t][c];
      if (!e.filter.empty()) {
        EXPECT_NE(e.filter.find("\"avfilter.compensationdelay\""), std::string::npos) << e.filter;
        EXPECT_NE(e.filter.find("av.dry\">0<"), std::string::npos) << e.filter;
      }
      EXPECT_EQ(e.producer_length, e.frames) << "melt cuts an entry short to its producer";
      if (layout.tracks[t].video) {
        EXPECT_LE(std::abs(e.start - m.exact_start), 0.5 / rate.fps())
            << "track " << t << " clip " << c;
        continue;
      }
      EXPECT_NEAR(e.start, m.exact_start, 1.0 / kRate + 1e-9) << "track " << t << " clip " << c;
      EXPECT_GE(e.end, m.exact_start + m.length) << "track " << t << " clip " << c;
    }
  }
  EXPECT_NE(doc.find("<track producer=\"playlist0\" hide=\"audio\"/>"), std::string::npos);
  EXPECT_NE(doc.find("<track producer=\"playlist3\" hide=\"video\"/>"), std::string::npos);

  if (run_program({"xmllint", "--version"}) == 127) GTEST_SKIP() << "xmllint is not installed";
  TempRunDir dir;
  ASSERT_TRUE(testing_support::write_file(dir.file("t.mlt"), doc));
  EXPECT_EQ(run_program({"xmllint", "--noout", dir.file("t.mlt")}, false), 0);
}

// One sound cut into members at sub-frame offsets (WAVs at 48 and 44.1 kHz, a video
// with AAC sound) and placed at 29.97 fps: melt plays each member's track in step with
// the reference member's, near the start and near the end of their overlap.
TEST(MltDocument, MeltPlaysEveryMemberInStepWithTheReference) {
  if (run_program({"melt", "-version"}) == 127) GTEST_SKIP() << "melt is not installed";
  TempRunDir dir;
  const std::string source = dir.file("source.wav");
  ASSERT_EQ(testing_support::ffmpeg({"-f", "lavfi", "-i", "anoisesrc=d=17:c=pink:seed=11:a=0.5",
                                     "-ar", "48000", source}),
            0);
  // Two WAVs at 48 kHz, one at 44.1 kHz and an H.264 video with AAC sound.
  const std::vector<std::tuple<std::string, long, long>> cuts = {{"ref.wav", 624, 720000},
                                                                 {"m1.wav", 169042, 768000},
                                                                 {"m2.wav", 250001, 672000},
                                                                 {"v.mp4", 351317, 624000}};
  std::vector<TimelineMember> members;
  for (const auto& [name, first, last] : cuts) {
    const std::string trim = "atrim=start_sample=" + std::to_string(first) +
                             ":end_sample=" + std::to_string(last) + ",asetpts=PTS-STARTPTS";
    ASSERT_EQ(
        testing_support::ffmpeg({"-i", source, "-f", "lavfi", "-i", "testsrc=s=160x120:r=25", "-af",
                                 trim, "-ar", name == "m2.wav" ? "44100" : "48000", "-shortest",
                                 "-preset", "ultrafast", "-pix_fmt", "yuv420p", dir.file(name)}),
        0);
    TimelineMember& m = members.emplace_back();
    m.entry = m.device = static_cast<int>(members.size()) - 1;
    m.path = dir.file(name);
    m.frame_rate = name == "v.mp4" ? 25.0f : 999.0f;
    m.exact_start = first / kRate;
    m.length = (last - first) / kRate;
  }
  Timeline timeline;
  timeline.groups.push_back({members, {}, {}});
  std::ostringstream trace;
  ConsoleCapture quiet(trace);
  const GroupLayout layout = layout_groups(timeline).at(0);
  const std::string doc = mlt_document(layout, {30000, 1001}, 160, 120);

  std::map<std::string, std::vector<float>> renders;  // by track name: each track alone
  for (size_t t = 1; t < layout.tracks.size(); ++t)
    renders[layout.tracks[t].name] = testing_support::melt_alone(
        doc, "playlist" + std::to_string(t), dir.file(std::to_string(t) + ".wav"));
  ASSERT_EQ(renders.size(), cuts.size());
  const auto& [ref_name, ref_first, ref_last] = cuts[0];
  for (const auto& [name, first, last] : cuts) {
    if (name == ref_name) continue;
    const double early = testing_support::sound_lag(renders[ref_name], renders[name], first / kRate + 0.2);
    const double late =
        testing_support::sound_lag(renders[ref_name], renders[name], std::min(last, ref_last) / kRate - 1.2);
    EXPECT_LT(std::abs(early), 0.001) << name << " near its start";
    EXPECT_LT(std::abs(late), 0.001) << name << " near its end";
    RecordProperty(name + "_ms", std::to_string(early * 1000) + " " + std::to_string(late * 1000));
  }
}

// melt with its Qt blend (under a virtual display) shows the upper camera where both
// have picture, also as Shotcut loads the document: it switches the lowest track's
// blend off, and a picture blended onto the background alone would not be seen.
TEST(MltDocument, TheUpperCamerasPictureIsShownAsShotcutLoadsIt) {
  if (run_program({"melt", "-version"}) == 127 || run_program({"xvfb-run", "--help"}) == 127)
    GTEST_SKIP() << "melt or xvfb-run is not installed";
  TempRunDir dir;
  std::vector<TimelineMember> members;
  for (const char* colour : {"red", "blue"}) {  // the lower camera red, the upper blue
    const std::string file = dir.file(std::string(colour) + ".mp4");
    ASSERT_EQ(testing_support::ffmpeg({"-f", "lavfi", "-i", std::string("color=c=") + colour + ":s=64x36:r=25:d=4",
                                       "-pix_fmt", "yuv420p", file}), 0);
    TimelineMember& m = members.emplace_back();
    m.entry = m.device = static_cast<int>(members.size()) - 1;
    m.path = file;
    m.frame_rate = 25.0f;
    m.exact_start = members.size() == 1 ? 0.0 : 2.0;
    m.length = 4.0;
  }
  Timeline timeline;
  timeline.groups.push_back({members, {}, {}});
  std::ostringstream trace;
  ConsoleCapture quiet(trace);
  std::string doc = mlt_document(layout_groups(timeline).at(0), {25, 1}, 64, 36);
  const std::string lowest = "<property name=\"b_track\">1</property>\n      <property name=\"mlt_service\">qtblend</property>\n";
  const std::size_t at = doc.find(lowest);
  ASSERT_NE(at, std::string::npos);
  doc.insert(at + lowest.size(), "      <property name=\"disable\">1</property>\n");
  ASSERT_TRUE(testing_support::write_file(dir.file("shotcut.mlt"), doc));
  // The middle pixel of frame `frame`, as red, green, blue.
  const auto pixel = [&](int frame) {
    const std::string image = dir.file("frame" + std::to_string(frame) + "-%d.ppm");
    run_program({"timeout", "60", "xvfb-run", "-a", "melt", "-silent", dir.file("shotcut.mlt"),
                 "in=" + std::to_string(frame), "out=" + std::to_string(frame), "-consumer",
                 "avformat:" + image, "vcodec=ppm", "an=1"});
    const std::string ppm = testing_support::read_file(dir.file("frame" + std::to_string(frame) + "-1.ppm"));
    const std::size_t pixels = ppm.find("255\n");
    if (pixels == std::string::npos) return std::string("none");
    const std::size_t middle = pixels + 4 + (18 * 64 + 32) * 3;
    const auto c = [&](std::size_t k) { return static_cast<unsigned char>(ppm[middle + k]) > 128 ? '1' : '0'; };
    return ppm.size() > middle + 2 ? std::string{c(0), c(1), c(2)} : std::string("none");
  };
  EXPECT_EQ(pixel(75), "001") << "both cameras have picture at 3 s: the upper one, blue";
}

// The rules Kdenlive 22.12 enforces on opening a project (seen when it refused plain MLT):
// its version in the first playlist, the bin; every timeline clip tied to a bin clip; the
// background a colour producer of its own; sound tracks marked and below the pictures;
// only its own track transitions; the delay as its Compensation Delay.
TEST(KdenliveDocument, HoldsWhatKdenliveChecksOnOpening) {
  const GroupLayout layout = layouts(event()).at(0);
  const std::string doc = kdenlive_document(layout, {30000, 1001}, 1920, 1080);
  const std::size_t first_playlist = doc.find("<playlist ");
  const std::string bin = "<playlist id=\"main_bin\">\n";
  ASSERT_EQ(doc.compare(first_playlist, bin.size(), bin), 0) << doc.substr(first_playlist, 40);
  EXPECT_NE(doc.find("kdenlive:docproperties.version\">1.04<"), std::string::npos);
  std::map<std::string, int> uses;  // kdenlive:id -> producers carrying it
  const std::regex id("<property name=\"kdenlive:id\">(\\d+)</property>");
  for (std::sregex_iterator it(doc.begin(), doc.end(), id), end; it != end; ++it) ++uses[(*it)[1]];
  ASSERT_EQ(uses.size(), 4u);  // the bin: cam a, cam a 2, cam b, the recorder's corrected copy
  for (const auto& [clip, n] : uses) EXPECT_GE(n, 2) << "bin clip " << clip << " is used on the timeline";
  EXPECT_NE(doc.find("<track producer=\"black_track\"/>"), std::string::npos);
  EXPECT_NE(doc.find("kdenlive:playlistid\">black_track<"), std::string::npos);
  const auto tracks = testing_support::between(doc, "<track producer=\"", "/>");
  ASSERT_EQ(tracks.size(), layout.tracks.size() + 1);
  for (std::size_t k = 1; k < tracks.size(); ++k)  // sound first, then pictures
    EXPECT_EQ(tracks[k].find("hide=\"audio\"") != std::string::npos, k > tracks.size() - 3) << tracks[k];
  EXPECT_EQ(testing_support::between(doc, "<transition ", "</transition>").size(),
            testing_support::between(doc, "internal_added\">237<", "<").size());
  EXPECT_EQ(testing_support::between(doc, "kdenlive:audio_track\">1<", "<").size(), 3u);
  EXPECT_EQ(testing_support::between(doc, "<filter mlt_service=\"avfilter.compensationdelay\">", "</filter>").size(),
            testing_support::between(doc, "kdenlive_id\">avfilter.compensationdelay<", "<").size());
}
