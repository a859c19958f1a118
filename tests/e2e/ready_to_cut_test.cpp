// The ready-to-cut parts of SYNCED.fcpxml on a generated event of three cameras (one in
// three files, given as one device), a recorder and a phone: every angle clip and every
// main-sound clip read back against the truth, at 25 and at 29.97 fps.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "core/process.h"
#include "media/streams.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

using testing_support::seconds;

TEST(ReadyToCut, AnglesAndMainSoundClipsSitWhereTheEventPutThem) {
  const auto run = e2e::sync_event(
      {"file=rec.wav device=rec start=0 duration=200 snr=30",
       "file=cam_a.mov start=20.37 duration=120 fps=25 picture=color filter=lowpass:7000 snr=24",
       "file=cam_b.mp4 start=35.52 duration=100 fps=29.97 picture=color filter=highpass:120 snr=20",
       "file=cam_c_1.mov device=cam_c start=10.1 duration=40 fps=25 picture=color snr=22",
       "file=cam_c_2.mov device=cam_c start=60.44 duration=40 fps=25 picture=color snr=22",
       "file=cam_c_3.mov device=cam_c start=110.8 duration=50 fps=25 picture=color snr=22",
       "file=phone.m4a device=phone start=50.25 duration=100 filter=phone snr=15 gain=-4"},
      {"rec.wav", "cam_a.mov", "cam_b.mp4", "--device", "cam_c_1.mov", "cam_c_2.mov", "cam_c_3.mov", "--end", "phone.m4a"});
  ASSERT_EQ(run->status, 0) << run->report;
  // Where a file's first picture (or sample) truly is on the group's timeline.
  std::map<std::string, double> truth;
  for (const auto& [name, f] : run->truth)
    truth[name] = f.start_s - media_start(run->dir.file("event/" + name)).sound_after_picture_s;
  std::vector<std::string> args = {BRENVIK_SYNC_EXE, "--quiet", "--no-open", "--fps", "29.97", "--out", run->out + "/2997"};
  for (const std::string name : {"rec.wav", "cam_a.mov", "cam_b.mp4", "--device", "cam_c_1.mov", "cam_c_2.mov", "cam_c_3.mov", "--end", "phone.m4a"})
    args.push_back(name.rfind("--", 0) == 0 ? name : run->dir.file("event/" + name));
  ASSERT_EQ(e2e::run_capturing(args, run->dir.file("2997.txt")), 0) << testing_support::read_file(run->dir.file("2997.txt"));
  const char* dtd = std::getenv("BRENVIK_FCPXML_DTD");
  const std::vector<std::string> outs = {run->out, run->out + "/2997"};
  for (const std::string& out : outs) {
    const std::string path = out + "/SYNCED.fcpxml", doc = testing_support::read_file(path);
    if (dtd) {
      EXPECT_EQ(run_program({"xmllint", "--noout", "--dtdvalid", dtd, path}, false), 0);
    }
    EXPECT_TRUE(e2e::well_formed(path));
    std::map<std::string, long double> asset_start;
    for (auto& a : testing_support::tags(doc, "asset")) asset_start[a["id"]] = seconds(a["start"]);
    const auto origin = [&](std::map<std::string, std::string>& c) {
      return static_cast<double>(seconds(c["offset"]) - (seconds(c["start"]) - asset_start.at(c["ref"])));
    };
    std::map<std::string, int> seen;
    for (const std::string& angle : testing_support::between(doc, "<mc-angle ", "</mc-angle>"))
      for (auto& clip : testing_support::tags(angle, "asset-clip")) {
        ++seen[clip["name"]];
        EXPECT_NEAR(origin(clip), truth.at(clip["name"]), 0.001) << out << " " << clip["name"];
      }
    EXPECT_EQ(seen.size(), truth.size()) << out;
    const std::vector<std::string> synced = testing_support::between(doc, "<sync-clip ", "</sync-clip>");
    EXPECT_EQ(synced.size(), 5u) << out;
    for (const std::string& clip : synced) {
      auto parts = testing_support::tags(clip, "asset-clip");
      ASSERT_GE(parts.size(), 2u) << clip;
      const std::string camera = parts[0]["name"];
      for (std::size_t k = 1; k < parts.size(); ++k) {
        EXPECT_EQ(parts[k]["name"], "rec.wav") << "the recorder covers the cameras' time: " << clip;
        // The sound's media start against the camera's, as the clip puts them together.
        const long double cam = seconds(parts[k]["offset"]) - asset_start.at(parts[0]["ref"]);
        const long double sound = seconds(parts[k]["start"]) - asset_start.at(parts[k]["ref"]);
        EXPECT_NEAR(static_cast<double>(cam - sound), truth.at("rec.wav") - truth.at(camera), 0.001) << out << " " << camera;
      }
    }
    // The merged pair: each camera's pictures linked with the recorder's sound cut to them.
    const double fps = out == run->out ? 25.0 : 29.97;
    for (const char* name : {"/SYNCED_merged_fcp.XML", "/SYNCED_merged_premierePro.XML"}) {
      const std::string xml = testing_support::read_file(out + name);
      std::map<std::string, std::string> items;
      for (const std::string& item : testing_support::between(xml, "<clipitem id=\"", "</clipitem>"))
        items[item.substr(0, item.find('"'))] = item;
      const auto media_start = [&](const std::string& item) {
        const auto value = [&](const char* tag) {
          return std::stod(testing_support::between(item, std::string("<") + tag + ">", std::string("</") + tag + ">").at(0));
        };
        return (value("start") - value("in")) / fps;
      };
      int linked = 0;
      for (const auto& [id, item] : items) {
        if (item.find("video</mediatype><trackindex>1</trackindex></sourcetrack>") == std::string::npos) continue;
        const std::string camera = testing_support::between(item, "<name>", "</name>").at(0);
        for (const std::string& ref : testing_support::between(item, "<linkclipref>", "</linkclipref>"))
          if (items.at(ref).find("<name>rec.wav</name>") != std::string::npos) {
            ++linked;
            EXPECT_NEAR(media_start(items.at(ref)) - media_start(item), truth.at("rec.wav") - truth.at(camera), 0.001)
                << out << name << " " << camera;
          }
      }
      EXPECT_EQ(linked, 5) << out << name;
    }
  }
}
