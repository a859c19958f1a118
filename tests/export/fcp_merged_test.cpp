#include "export/fcp_merged.h"

#include "tests/export/layout_fixture.h"
#include "tests/support/test_support.h"

#include <map>

using testing_support::between;

TEST(MergedXmeml, EveryCameraClipMovesWithTheMainSoundCutToItAndItsOwnSwitchedOff) {
  Timeline t = event();
  t.groups[0].main_sound = 3;
  for (const float fps : {25.0f, 29.97f}) {
    const MergedDocuments docs = merged_documents(layouts(t), fps, 1920, 1080, 1);
    EXPECT_EQ(between(docs.fcp, "<track>", "</track>"), between(docs.premiere, "<track>", "</track>"));
    std::map<std::string, std::string> items;  // id -> text
    for (const std::string& item : between(docs.fcp, "<clipitem id=\"", "</clipitem>"))
      items[item.substr(0, item.find('"'))] = item;
    const auto value = [](const std::string& item, const std::string& tag) {
      return std::stod(between(item, "<" + tag + ">", "</" + tag + ">").at(0));
    };
    int cameras = 0;
    for (const auto& [id, item] : items) {
      if (item.find("<mediatype>video</mediatype><trackindex>1</trackindex></sourcetrack>") == std::string::npos) continue;
      ++cameras;
      std::map<std::string, int> linked;  // name, enabled -> count
      for (const std::string& ref : between(item, "<linkclipref>", "</linkclipref>")) {
        const std::string& other = items.at(ref);
        const std::string name = between(other, "<name>", "</name>").at(0);
        ++linked[name + between(other, "<enabled>", "</enabled>").at(0)];
        if (name != "zoom h4.wav") continue;
        // The sound's media start where the recorder's is, inside the camera clip.
        EXPECT_NEAR((value(other, "start") - value(other, "in")) / fps, 3.14159265, 0.5 / 48000) << other;
        EXPECT_GE(value(other, "start"), value(item, "start") - 1e-4);
        EXPECT_LE(value(other, "end"), value(item, "end") + 1e-4);
      }
      const std::string camera = between(item, "<name>", "</name>").at(0);
      EXPECT_EQ(linked, (std::map<std::string, int>{{camera + "TRUE", 1}, {camera + "FALSE", 1}, {"zoom h4.wavTRUE", 1}})) << item;
    }
    EXPECT_EQ(cameras, 3);
    // The recorder's own clip stays on its track, switched off where the cameras carry it.
    EXPECT_EQ(between(docs.fcp, "<track>", "</track>").back().find("<enabled>FALSE</enabled>") != std::string::npos, true);
  }
}
