#include "core/entries.h"
#include "media/device_proposal.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

struct File {
  File(std::string p, std::string mk = {}, std::string md = {}, std::string s = {}, double c = kNoCreationTime)
      : path(std::move(p)), make(std::move(mk)), model(std::move(md)), serial(std::move(s)), created(c) {}
  std::string path, make, model, serial;
  double created;
  double duration = 60.0;
};

struct Case {
  const char* name;
  std::vector<File> files;
  std::vector<std::vector<int>> devices;  // entries in recording order
  std::vector<std::string> reasons;
  std::size_t refused = 0;
};

const double t0 = creation_seconds("2024-06-01T14:00:00Z");

TEST(DeviceProposal, FindsTheDevicesTheFilesName) {
  const std::vector<Case> cases = {
      {"two cameras of one model, two serials",
       {{"/a/C0001.MP4", "Sony", "ILCE-7M3", "4011"}, {"/b/C0001.MP4", "Sony", "ILCE-7M3", "4022"},
        {"/a/C0002.MP4", "Sony", "ILCE-7M3", "4011"}, {"/b/C0002.MP4", "Sony", "ILCE-7M3", "4022"}},
       {{0, 2}, {1, 3}}, {kSameSerial, kSameSerial}},
      {"one camera's numbered clips in one folder, by creation time",
       {{"/c/MVI_0012.MOV", "Canon", "Canon EOS R5", "", t0 + 200}, {"/c/MVI_0011.MOV", "Canon", "Canon EOS R5", "", t0 + 100},
        {"/c/MVI_0013.MOV", "Canon", "Canon EOS R5", "", t0}},
       {{2, 1, 0}}, {kSameModelNumbered}},
      {"a recorder's takes with their tracks, a folder each",
       {{"/z/ZOOM0002/ZOOM0002_LR.WAV", "ZOOM", "H6"}, {"/z/ZOOM0001/ZOOM0001_Tr1.WAV", "ZOOM", "H6"},
        {"/z/ZOOM0001/ZOOM0001_LR.WAV", "ZOOM", "H6"}},
       {{2, 1, 0}}, {kSameModelNumbered}},
      {"phones of one model without serials, one folder",
       {{"/p/IMG_1234.MOV", "Apple", "iPhone 12"}, {"/p/IMG_5678.MOV", "Apple", "iPhone 12"}}, {}, {}},
      {"files without tags", {{"/x/C0001.MP4"}, {"/x/C0002.MP4"}}, {}, {}},
      {"one model, numbered, recording at once by their creation times",
       {{"/d/DJI_0001.MP4", "DJI", "Mini3", "", t0}, {"/d/DJI_0002.MP4", "DJI", "Mini3", "", t0 + 30}}, {}, {}, 1},
  };
  for (const Case& c : cases) {
    std::vector<std::string> files;
    std::vector<DeviceClues> clues;
    for (const File& f : c.files) {
      files.push_back(f.path);
      clues.push_back({f.make, f.model, f.serial, f.created, f.duration, "video 27"});
    }
    const DeviceProposal p = propose_devices(files, clues);
    ASSERT_EQ(p.devices.size(), c.devices.size()) << c.name;
    for (std::size_t d = 0; d < p.devices.size(); ++d) {
      EXPECT_EQ(p.devices[d].entries, c.devices[d]) << c.name << ", device " << d;
      EXPECT_EQ(p.devices[d].reason, c.reasons[d]) << c.name;
    }
    EXPECT_EQ(p.refused.size(), c.refused) << c.name;
  }
}

TEST(DeviceProposal, LeavesMarkedFilesAndBracketsTheFound) {
  DeviceClues cam{"GoPro", "", "", kNoCreationTime, 60.0, "video 27"};
  const std::vector<std::string> files = {"/g/GX020007.MP4", kBeginMarker, "/g/GX010008.MP4", kEndMarker,
                                          "/r/rec.wav", "/g/GX010007.MP4"};
  DeviceProposal p = propose_devices(files, {cam, {}, cam, {}, {}, cam});
  ASSERT_EQ(p.devices.size(), 1u);
  EXPECT_EQ(p.devices[0].entries, (std::vector<int>{5, 0}));  // chapter 1 before chapter 2
  std::vector<int> moved;
  EXPECT_EQ(bracket_devices(files, p.devices, moved),
            (std::vector<std::string>{kBeginMarker, "/g/GX010007.MP4", "/g/GX020007.MP4", kEndMarker, kBeginMarker,
                                      "/g/GX010008.MP4", kEndMarker, "/r/rec.wav"}));
  EXPECT_EQ(p.devices[0].entries, (std::vector<int>{1, 2}));
}

TEST(DeviceClues, ReadsTimesWithTheirZones) {
  EXPECT_DOUBLE_EQ(creation_seconds("2024-06-01T16:00:00+0200"), t0);
  EXPECT_DOUBLE_EQ(creation_seconds("2024-06-01 14:00:00.500000Z"), t0 + 0.5);
  EXPECT_TRUE(std::isnan(creation_seconds("14:00:00")));
  DeviceClues wav;
  read_device_tags({{"encoded_by", "ZOOM H6"}, {"date", "2024-06-01"}, {"creation_time", "14:00:00"},
                    {"handler_name", "GoPro AVC"}}, wav);
  EXPECT_EQ(wav.name(), "ZOOM H6");
  EXPECT_DOUBLE_EQ(wav.created, t0);
}

}  // namespace
