// The ready-to-cut documents on a generated event of three cameras (one in three files,
// given as one device), a recorder and a phone: every angle clip and every main-sound clip
// read back against the truth, at 25 and at 29.97 fps.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/process.h"
#include "media/streams.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

using testing_support::between;
using testing_support::seconds;

TEST(ReadyToCut, AnglesAndMainSoundClipsSitWhereTheEventPutThem) {
  const std::vector<std::string> picked = {"rec.wav", "cam_a.mov", "cam_b.mp4", "--device", "cam_c_1.mov",
                                           "cam_c_2.mov", "cam_c_3.mov", "--end", "phone.m4a"};
  const auto run = e2e::sync_event(
      {"file=rec.wav device=rec start=0 duration=200 snr=30",
       "file=cam_a.mov start=20.37 duration=120 fps=25 picture=color filter=lowpass:7000 snr=24 timecode=10:00:00:00",
       "file=cam_b.mp4 start=35.52 duration=100 fps=29.97 picture=color filter=highpass:120 snr=20",
       "file=cam_c_1.mov device=cam_c start=10.1 duration=40 fps=25 picture=color snr=22",
       "file=cam_c_2.mov device=cam_c start=60.44 duration=40 fps=25 picture=color snr=22",
       "file=cam_c_3.mov device=cam_c start=110.8 duration=50 fps=25 picture=color snr=22",
       "file=phone.m4a device=phone start=50.25 duration=100 filter=phone snr=15 gain=-4"},
      picked);
  ASSERT_EQ(run->status, 0) << run->report;
  std::vector<std::string> args = {BRENVIK_SYNC_EXE, "--quiet", "--no-open", "--fps", "29.97", "--out", run->out + "/2997"};
  for (const std::string& name : picked) args.push_back(name.rfind("--", 0) == 0 ? name : run->dir.file("event/" + name));
  ASSERT_EQ(e2e::run_capturing(args, run->dir.file("2997.txt")), 0);
  // Where each file's first picture (or sample) truly is on the group's timeline.
  std::map<std::string, double> truth;
  for (const auto& [name, f] : run->truth)
    truth[name] = f.start_s - media_start(run->dir.file("event/" + name)).sound_after_picture_s;
  const char* dtd = std::getenv("BRENVIK_FCPXML_DTD");
  for (const double fps : {25.0, 29.97}) {
    const std::string out = fps == 25.0 ? run->out : run->out + "/2997", path = out + "/SYNCED.fcpxml",
                      doc = testing_support::read_file(path);
    EXPECT_TRUE(!dtd || run_program({"xmllint", "--noout", "--dtdvalid", dtd, path}, false) == 0) << path;
    std::map<std::string, long double> asset_start;
    for (auto& a : testing_support::tags(doc, "asset")) asset_start[a["id"]] = seconds(a["start"]);
    // Where a clip puts its media's start in its container's time.
    const auto origin = [&](auto& c, const char* at) { return seconds(c[at]) - (seconds(c["start"]) - asset_start.at(c["ref"])); };
    // Every file in one of the angles.
    for (auto& clip : testing_support::tags(between(doc, "<multicam ", "</multicam>").at(0), "asset-clip")) {
      const double error = static_cast<double>(origin(clip, "offset")) - truth.at(clip["name"]);
      std::printf("%5.2f fps  angle clip %-11s %+.4f ms\n", fps, clip["name"].c_str(), error * 1000.0);
      EXPECT_NEAR(error, 0.0, 0.001) << fps << " " << clip["name"];
    }
    EXPECT_EQ(testing_support::tags(between(doc, "<multicam ", "</multicam>").at(0), "asset-clip").size(), truth.size());
    const std::vector<std::string> synced = between(doc, "<sync-clip ", "</sync-clip>");
    EXPECT_EQ(synced.size(), 5u) << fps;
    for (const std::string& clip : synced) {
      auto parts = testing_support::tags(clip, "asset-clip");
      EXPECT_EQ(parts.size(), 2u) << "the recorder covers every camera clip whole: " << clip;
      EXPECT_EQ(parts.at(1)["name"], "rec.wav") << "the recorder covers the most of the cameras' time";
      // The recorder's media start against the camera's, as the clip puts them together.
      const double error = static_cast<double>(origin(parts[1], "offset") - asset_start.at(parts[0]["ref"])) -
                           (truth.at("rec.wav") - truth.at(parts[0]["name"]));
      std::printf("%5.2f fps  main sound in the sync-clip of %-11s %+.4f ms\n", fps, parts[0]["name"].c_str(), error * 1000.0);
      EXPECT_NEAR(error, 0.0, 0.001) << fps << " " << clip;
    }
    // The merged pair: each camera's pictures linked with its own sound, switched off, and
    // the recorder's cut to them.
    for (const char* name : {"/SYNCED_merged_fcp.XML", "/SYNCED_merged_premierePro.XML"}) {
      std::map<std::string, std::string> items;
      for (const std::string& item : between(testing_support::read_file(out + name), "<clipitem id=\"", "</clipitem>"))
        items[item.substr(0, item.find('"'))] = item;
      const auto media_start = [&](const std::string& item) {  // in seconds of the sequence
        return (std::stod(between(item, "<start>", "<").at(0)) - std::stod(between(item, "<in>", "<").at(0))) / fps;
      };
      int linked = 0;
      for (const auto& [id, item] : items) {
        if (item.find("video</mediatype><trackindex>1</trackindex></sourcetrack>") == std::string::npos) continue;
        std::string camera = between(item, "<name>", "</name>").at(0), sets;
        for (const std::string& ref : between(item, "<linkclipref>", "</linkclipref>")) {
          sets += between(items.at(ref), "<name>", "</name>").at(0) + between(items.at(ref), "<enabled>", "</enabled>").at(0) + " ";
          if (items.at(ref).find("<name>rec.wav</name>") == std::string::npos) continue;
          ++linked;
          EXPECT_NEAR(media_start(items.at(ref)) - media_start(item), truth.at("rec.wav") - truth.at(camera), 0.001)
              << out << name << " " << camera;
        }
        EXPECT_EQ(sets, camera + "TRUE rec.wavTRUE " + camera + "FALSE ") << name;
      }
      EXPECT_EQ(linked, 5) << out << name;
    }
  }
}
