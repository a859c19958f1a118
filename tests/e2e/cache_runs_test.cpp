// Runs of brenvik-sync that take what earlier runs kept: a second run of the same event,
// and one with files added to a synced event, write the documents, the tables and the
// drift-corrected copies a run without the cache writes, byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kDevices = {
    "file=rec.wav    device=rec   start=0     duration=150 snr=30",
    "file=cam.mov    device=cam   start=20.37 duration=60  fps=25 filter=lowpass:7000 snr=20 drift=15",
    "file=phone.mp3  device=phone start=70.25 duration=30  filter=phone snr=12 drift=-30",
    "file=zoom_1.wav device=zoom  start=30.5  duration=25  rate=44100 filter=highpass:150 snr=20",
    "file=zoom_2.wav device=zoom  start=60    duration=40  rate=44100 filter=highpass:150 snr=20",
    "file=other.wav  device=other event=2 start=10 duration=20 snr=25",
};
const std::vector<std::string> kAll = {"rec.wav",  "cam.mov",    "--device", "zoom_1.wav",
                                       "zoom_2.wav", "--end",    "phone.mp3", "other.wav"};

// What one run gave: every file it wrote, by its path below the output folder (the tables
// by their names), and what it printed but its progress and the line that counts the files
// from the cache.
struct Written {
  int status = -1;
  std::map<std::string, std::string> files;
  std::string report;
  std::string cache_line;
};

class CacheRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    event_ = dir_.file("event");
    ASSERT_EQ(e2e::make_event(event_, kDevices), 0);
  }

  Written sync(const std::string& name, const std::vector<std::string>& picked, bool cache) {
    // One folder for every run: the timelines name the corrected copies beside them.
    const std::string out = dir_.file("timelines");
    fs::remove_all(out);
    std::vector<std::string> argv = {BRENVIK_SYNC_EXE, "--quiet", "--no-open", "--out", out};
    if (!cache) argv.push_back("--no-cache");
    for (const std::string& p : picked) argv.push_back(p.rfind("--", 0) == 0 ? p : event_ + "/" + p);
    Written w;
    w.status = e2e::run_capturing(argv, dir_.file(name + ".txt"));
    for (const auto& e : fs::recursive_directory_iterator(out))
      if (e.is_regular_file())
        w.files[fs::relative(e.path(), out).string()] = testing_support::read_file(e.path().string());
    for (const char* table : {"csvtabela.csv", "csvtabela-clean.csv"})
      w.files[table] = testing_support::read_file(dir_.file(table));
    std::istringstream report(testing_support::read_file(dir_.file(name + ".txt")));
    // Progress lines come at most once a second, so how many there are is the clock's.
    static const std::regex progress("\\([0-9]+% of the run");
    for (std::string line; std::getline(report, line);) {
      if (line.find("from the cache") != std::string::npos)
        w.cache_line = line;
      else if (!std::regex_search(line, progress))
        w.report += line + "\n";
    }
    return w;
  }

  static void expect_same(const Written& plain, const Written& cached) {
    EXPECT_EQ(plain.status, cached.status);
    EXPECT_EQ(plain.report, cached.report);
    ASSERT_EQ(plain.files.size(), cached.files.size());
    for (const auto& [name, text] : plain.files) {
      ASSERT_TRUE(cached.files.count(name)) << name;
      EXPECT_TRUE(cached.files.at(name) == text) << name << " differs";
    }
  }

  testing_support::TempRunDir dir_;
  std::string event_;
};

TEST_F(CacheRuns, SecondRunWritesWhatARunWithoutTheCacheWrites) {
  const Written plain = sync("plain", kAll, false);
  ASSERT_EQ(plain.status, 0) << plain.report;
  EXPECT_TRUE(plain.files.count("SYNCED.otio"));
  EXPECT_EQ(plain.cache_line, "");
  const Written first = sync("first", kAll, true);
  EXPECT_EQ(first.cache_line, "brenvik-sync: 0 of 6 files from the cache");
  expect_same(plain, first);
  const Written second = sync("second", kAll, true);
  EXPECT_EQ(second.cache_line, "brenvik-sync: 6 of 6 files from the cache");
  expect_same(plain, second);
}

// The phone's clip comes in after the shoot was synced: only it is new, and everything is
// written anew as a run from nothing would write it.
TEST_F(CacheRuns, FilesAddedToASyncedShootGiveAFreshRunsDocuments) {
  std::vector<std::string> earlier = kAll;
  earlier.erase(std::find(earlier.begin(), earlier.end(), "phone.mp3"));
  ASSERT_EQ(sync("earlier", earlier, true).status, 0);
  const Written added = sync("added", kAll, true);
  EXPECT_EQ(added.cache_line, "brenvik-sync: 5 of 6 files from the cache");
  expect_same(sync("plain", kAll, false), added);
}

}  // namespace
