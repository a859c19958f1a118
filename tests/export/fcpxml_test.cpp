#include "export/fcpxml.h"

#include "tests/export/layout_fixture.h"
#include "tests/support/test_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <numeric>
#include <regex>
#include <unistd.h>

using testing_support::between;
using testing_support::seconds;
using testing_support::tags;
using Attributes = std::map<std::string, std::string>;

namespace {

// Against Apple's DTD where BRENVIK_FCPXML_DTD names it (docs/testing.md), else well-formed.
bool well_formed(const std::string& doc) {
  const std::string path =
      std::filesystem::temp_directory_path() / ("brenvik_" + std::to_string(getpid()) + ".fcpxml");
  const bool written = testing_support::write_file(path, doc);
  const char* dtd = std::getenv("BRENVIK_FCPXML_DTD");
  const std::string valid = dtd && std::filesystem::exists(dtd) ? std::string(" --dtdvalid '") + dtd + "'" : "";
  const int status = std::system(("xmllint --noout" + valid + " '" + path + "'").c_str());
  std::filesystem::remove(path);
  return written && status == 0;
}

}  // namespace

TEST(Fcpxml, ClipsOnTheFrameGridMediaAtTheExactPlaceVideoAboveSoundBelow) {
  const Timeline t = event();
  const std::vector<TimelineMember>& members = t.groups[0].members;
  const std::pair<double, std::string> formats[] = {{29.97, "1001/30000s FFVideoFormat1080p2997"},
                                                      {25.0, "1/25s FFVideoFormat1080p25"},
                                                      {23.976, "1001/24000s FFVideoFormat1080p2398"}};
  for (const auto& [fps, format] : formats) {
    const ExactRate rate = exact_rate(fps);
    std::vector<GroupLayout> all = layouts(t, true);
    all.push_back(all[0]);  // the same files in a second project
    const std::string doc = fcpxml_document(all, rate, 1920, 1080, "Brenvik");
    EXPECT_TRUE(well_formed(doc)) << doc;
    Attributes r1 = tags(doc, "format").at(0);
    EXPECT_EQ(r1["id"] + " " + r1["width"] + "x" + r1["height"] + " " + r1["frameDuration"] + " " + r1["name"],
              "r1 1920x1080 " + format);
    EXPECT_EQ(doc.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE fcpxml>\n"
                        "<fcpxml version=\"1.9\">", 0), 0u);
    EXPECT_EQ(tags(doc, "project").at(1)["name"], "Unsynced");
    const std::string group = between(doc, "<project name=\"Sync group 1\">", "</project>").at(0);
    Attributes gap = tags(group, "gap").at(0);
    EXPECT_EQ(gap["offset"] + gap["start"] + gap["duration"], "0s0s" + tags(group, "sequence").at(0)["duration"]);
    // Files in two projects still have one asset each.
    std::map<std::string, Attributes> assets;
    for (Attributes& a : tags(doc, "asset")) assets[a["id"]] = a;
    EXPECT_EQ(assets.size(), 5u);
    EXPECT_EQ(tags(doc, "media-rep").size(), 5u);
    Attributes lanes;
    std::map<std::string, long double> lane_end;
    const long double frame = static_cast<long double>(rate.den) / rate.num;
    for (Attributes clip : tags(group, "asset-clip")) {
      const auto m = std::find_if(members.begin(), members.end(),
                                  [&](const TimelineMember& m) { return m.path == "/media/" + clip["name"]; });
      ASSERT_NE(m, members.end()) << clip["name"];
      lanes[clip["name"]] += clip["lane"];
      Attributes& asset = assets[clip["ref"]];
      EXPECT_EQ(asset["name"], clip["name"]);
      const std::string media = m->corrected.empty() ? m->path : m->corrected;
      EXPECT_NE(doc.find("kind=\"original-media\" src=\"" + file_url(media) + "\"/>"), std::string::npos);
      EXPECT_EQ(asset.count("hasVideo") + asset.count("format"), m->audio_only() ? 0u : 2u);
      const long double offset = seconds(clip["offset"]), start = seconds(clip["start"]),
                        length = seconds(clip["duration"]);
      // Offset and duration on the frame grid, the start on the sample grid.
      for (const long double units : {offset / frame, length / frame, start * 48000})
        EXPECT_NEAR(units, std::round(units), 1e-6) << clip["name"] << " off the grid at " << fps;
      EXPECT_TRUE(start >= 0 && start < frame) << clip["start"];
      EXPECT_GE(offset, lane_end[clip["lane"]]) << clip["name"] << " overlaps the clip before it";
      lane_end[clip["lane"]] = offset + length;
      EXPECT_NEAR(static_cast<double>(offset - start), m->exact_start, 1.0 / 48000) << clip["name"] << fps;
      // As many whole frames as the media has after the start.
      EXPECT_EQ(std::llround(length / frame),
                static_cast<long long>((seconds(asset["duration"]) - start) / frame));
    }
    EXPECT_EQ(lanes, (Attributes{{"cam a.mov", "1"}, {"cam a 2.mov", "1"}, {"cam b.mov", "2"}, {"zoom h4.wav", "-1"}}));
  }
}

TEST(Fcpxml, LanesFormatsNotesAndEscaping) {
  // Overlapping files of one device take two lanes, a camera of another rate a format of
  // its own; names with quotes, markup and bytes that are not UTF-8 are escaped. A frame
  // size Final Cut Pro has no name for gets none.
  const Timeline t = group(
      {member(0, 0, "/m/say \"hi\" & <bye>.mov", 0.0, 10.0, 29.97f), member(1, 0, "/m/a2.mov", 5.0, 10.0, 29.97f),
       member(2, 2, "/m/r1\x01\xFF.wav", 0.5, 3.0, 999.0f), member(3, 2, "/m/r2.wav", 1.0, 3.0, 999.0f),
       member(4, 4, "/m/c25.mov", 2.0, 3.0, 25.0f)});
  const std::string doc = fcpxml_document(layouts(t), exact_rate(29.97), 1440, 1080, "Event \"1\" & <2>");
  EXPECT_TRUE(well_formed(doc)) << doc;
  EXPECT_EQ(tags(doc, "format").at(0).count("name"), 0u);
  EXPECT_EQ(tags(doc, "event").at(0)["name"], "Event \"1\" & <2>");
  Attributes lanes;
  for (Attributes& clip : tags(doc, "asset-clip")) lanes[clip["name"]] = clip["lane"];
  EXPECT_EQ(lanes, (Attributes{{"say \"hi\" & <bye>.mov", "1"}, {"a2.mov", "2"}, {"c25.mov", "3"},
                          {"r1\xEF\xBF\xBD\xEF\xBF\xBD.wav", "-1"}, {"r2.wav", "-2"}}));
  EXPECT_EQ(tags(doc, "format").at(1)["id"] + tags(doc, "format").at(1)["frameDuration"], "r21/25s");
  for (Attributes& asset : tags(doc, "asset"))
    EXPECT_EQ(asset["format"], asset["name"] == "c25.mov" ? "r2" : asset.count("hasVideo") ? "r1" : "");
  // The note comes first in its clip and tells the placement.
  for (const std::string& clip : between(doc, "<asset-clip ", "</asset-clip>"))
    EXPECT_EQ(clip.compare(clip.find('<'), 6, "<note>"), 0) << clip;
  const std::string notes = fcpxml_document(layouts(event()), exact_rate(25.0), 1920, 1080, "E");
  for (const char* note : {"offset 3.141593 s \xC2\xB7 clock 40.00 ppm \xC2\xB7 drift 3.20 ppm \xC2\xB7 refined \xC2\xB7 "
                           "drift-corrected copy of /media/zoom h4.wav \xC2\xB7 found on a second look \xC2\xB7 placed by cam b.mov",
                           "offset 0.000000 s \xC2\xB7 clock 0.00 ppm \xC2\xB7 drift 0.00 ppm \xC2\xB7 not refined"})
    EXPECT_NE(notes.find(std::string("<note>") + note + "</note>"), std::string::npos) << note;
}

// Where the clips sit is read back on a generated event (tests/e2e/ready_to_cut_test.cpp).
TEST(Fcpxml, ReadyToCutAddsMulticamAndSyncClipsAndLeavesTheRestAsItWas) {
  Timeline t = event();
  t.groups[0].main_sound = 3;
  for (const double fps : {25.0, 29.97}) {
    const std::string plain = fcpxml_document(layouts(t), exact_rate(fps), 1920, 1080, "E"),
                      doc = fcpxml_document(layouts(t), exact_rate(fps), 1920, 1080, "E", true);
    ASSERT_TRUE(well_formed(doc)) << doc;
    // What the document held before is there as it was.
    EXPECT_EQ(doc.compare(0, plain.find("  </resources>"), plain, 0, plain.find("  </resources>")), 0);
    EXPECT_NE(doc.find(between(plain, "<library>", "</project>").at(0)), std::string::npos);
    const std::vector<std::string> angles = between(doc, "<mc-angle ", "</mc-angle>");
    ASSERT_EQ(angles.size(), 3u);
    for (const std::string& angle : angles) {
      long double at = 0;  // one after another, as a storyline holds them
      for (const std::string& item : between(angle, "<", "/>")) {
        Attributes c = tags("<" + item + "/>", item.substr(0, item.find(' '))).at(0);
        EXPECT_EQ(seconds(c["offset"]), at) << item;
        at = seconds(c["offset"]) + seconds(c["duration"]);
      }
    }
    EXPECT_EQ(tags(doc, "mc-source").at(1)["angleID"] + tags(doc, "mc-source").at(1)["srcEnable"],
              tags(doc, "mc-angle").at(2)["angleID"] + "audio");
    const std::vector<std::string> synced = between(doc, "<sync-clip ", "</sync-clip>");
    ASSERT_EQ(synced.size(), 3u);
    for (const std::string& clip : synced) {
      std::vector<Attributes> parts = tags(clip, "asset-clip");
      Attributes &camera = parts.at(0), &sound = parts.at(1);
      EXPECT_GE(seconds(sound["offset"]), seconds(camera["start"]));
      EXPECT_LE(seconds(sound["offset"]) + seconds(sound["duration"]), seconds(camera["start"]) + seconds(camera["duration"]));
      EXPECT_EQ(tags("<sync-clip " + clip, "sync-clip").at(0)["duration"] + camera["audioRole"] + sound["audioRole"],
                camera["duration"] + "dialogue.camera" + "dialogue");
      EXPECT_NE(clip.find("<audio-role-source role=\"dialogue.camera\" active=\"0\"/>"), std::string::npos);
    }
  }
  t.groups[0].main_sound = -1;
  EXPECT_EQ(fcpxml_document(layouts(t), exact_rate(25), 1920, 1080, "E", true).find("<sync-clip"), std::string::npos);
}
