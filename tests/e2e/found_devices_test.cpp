// Devices found from tags and names of generated files (--devices auto), the proposal the
// sound disproves, and a found device that is the marked one: the same documents.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;

const std::string kSony = " picture=color size=160x90 make=Sony model=ILCE-7M3 folder=";
const std::vector<std::string> kShoot = {
    "file=ZOOM0001.WAV folder=rec make=ZOOM model=H6 start=0 duration=48 snr=30 clock=2024-06-01T14:00:00Z",
    "file=ZOOM0002.WAV folder=rec make=ZOOM model=H6 start=50 duration=50 snr=30 clock=2024-06-01T14:00:00Z",
    "file=C0001.MP4 start=2 duration=30 snr=24 serial=4011 clock=2024-06-01T13:59:10Z" + kSony + "camA",
    "file=C0002.MP4 start=35 duration=30 snr=24 serial=4011 clock=2024-06-01T13:59:10Z" + kSony + "camA",
    "file=C0007.MP4 start=5 duration=40 snr=22 filter=lowpass:6000 serial=4022" + kSony + "camB",
    "file=C0008.MP4 start=50 duration=40 snr=22 filter=lowpass:6000 serial=4022" + kSony + "camB",
    "file=IMG_0001.MOV folder=phones start=10 duration=20 filter=phone snr=18 make=Apple model=iPhone12",
    "file=IMG_0002.MOV folder=phones start=60 duration=20 filter=phone snr=18 make=Apple model=iPhone12",
    "file=MVI_0001.MOV folder=canon start=15 duration=30 snr=20 make=Canon model=R5 picture=color",
    "file=MVI_0002.MOV folder=canon start=30 duration=30 snr=20 make=Canon model=R5 picture=color",
    "file=clip.mov start=20 duration=30 snr=20 picture=color"};

std::string found(const std::string& device, const std::vector<std::string>& files) {
  std::string text = "  " + device + "\n";
  for (const std::string& f : files) text += "    " + f + "\n";
  return text;
}

// brenvik-sync's exit status over `args` (file names below the event, options as they
// are) into `out`, without drift-corrected copies; its report in `report`.
int sync(const testing_support::TempRunDir& dir, const std::string& out, const std::vector<std::string>& args,
         std::string& report) {
  std::vector<std::string> argv = {BRENVIK_SYNC_EXE, "--quiet", "--no-open", "--drift-correct", "0", "--out", out};
  for (const std::string& a : args) argv.push_back(a.rfind("--", 0) == 0 || a == "auto" ? a : dir.file("event/" + a));
  const int status = e2e::run_capturing(argv, out + ".txt");
  report = read_file(out + ".txt");
  return status;
}

TEST(FoundDevices, TellsDevicesFromTagsAndNamesAndSplitsWhatTheSoundDisproves) {
  testing_support::TempRunDir dir;
  ASSERT_EQ(e2e::make_event(dir.file("event"), kShoot), 0);
  std::string r;
  ASSERT_EQ(sync(dir, dir.file("auto"), {"--devices", "auto", "camA/C0002.MP4", "rec/ZOOM0002.WAV", "camB/C0007.MP4",
                                         "phones/IMG_0001.MOV", "canon/MVI_0001.MOV", "rec/ZOOM0001.WAV",
                                         "camA/C0001.MP4", "camB/C0008.MP4", "phones/IMG_0002.MOV",
                                         "canon/MVI_0002.MOV", "clip.mov"}, r), 0) << r;
  EXPECT_NE(r.find(found("Sony ILCE-7M3: same serial", {"C0001.MP4", "C0002.MP4"})), std::string::npos) << r;
  EXPECT_NE(r.find(found("Sony ILCE-7M3: same serial", {"C0007.MP4", "C0008.MP4"})), std::string::npos) << r;
  EXPECT_NE(r.find(found("ZOOM H6: same model, numbered, one folder", {"ZOOM0001.WAV", "ZOOM0002.WAV"})),
            std::string::npos) << r;
  EXPECT_NE(r.find("MVI_0001.MOV and MVI_0002.MOV were taken for one device (same model, numbered, one "
                   "folder), but their sound overlaps by 15"), std::string::npos) << r;
  EXPECT_EQ(r.find("Apple"), std::string::npos) << r;
  EXPECT_EQ(r.find("    clip.mov"), std::string::npos) << r;
  const std::string otio = read_file(dir.file("auto/SYNCED.otio"));
  EXPECT_NE(otio.find("\"ZOOM H6 (2 files)\""), std::string::npos);
  EXPECT_NE(otio.find("\"Sony ILCE-7M3 \xC2\xB7 C0007.MP4 \xE2\x80\xA6 C0008.MP4\""), std::string::npos);
}

TEST(FoundDevices, FoundAsMarkedWritesTheMarkedRunsDocuments) {
  testing_support::TempRunDir dir;
  ASSERT_EQ(e2e::make_event(dir.file("event"), kShoot), 0);
  std::string r;
  ASSERT_EQ(sync(dir, dir.file("marked"), {"--device", "camA/C0001.MP4", "camA/C0002.MP4", "--end", "--device",
                                           "rec/ZOOM0001.WAV", "rec/ZOOM0002.WAV", "--end"}, r), 0) << r;
  ASSERT_EQ(sync(dir, dir.file("auto"), {"--devices", "auto", "camA/C0002.MP4", "camA/C0001.MP4", "rec/ZOOM0001.WAV",
                                         "rec/ZOOM0002.WAV"}, r), 0) << r;
  int compared = 0;
  for (const auto& doc : fs::directory_iterator(dir.file("marked"))) {
    EXPECT_EQ(read_file(doc.path().string()), read_file(dir.file("auto/") + doc.path().filename().string()))
        << doc.path();
    ++compared;
  }
  EXPECT_GE(compared, 8);
}

}  // namespace
