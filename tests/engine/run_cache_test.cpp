#include "core/paths.h"
#include "engine/run_cache.h"
#include "engine/synco.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;
using testing_support::TempRunDir;

namespace {

// What a run showed and wrote, with the one thing that differs between any two runs, the
// name of the run's work folder, taken out.
struct RunSeen {
  std::string answer;
  std::string console;
  std::string log;  // this run's part, without the lines about the cache
  std::vector<std::string> cache_lines;  // the log lines about the cache
  std::map<std::string, std::string> written;  // documents, tables and match dump, by name
  RunResult result;
};

std::string without_work_folder(const std::string& text) {
  static const std::regex work("brenvik-[A-Za-z0-9]{6}");
  return std::regex_replace(text, work, "brenvik-WORK");
}

bool about_cache(const std::string& line) {
  return line.find("from the cache") != std::string::npos ||
         line.rfind("cache not written: ", 0) == 0;
}

class CachedRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing_support::make_media(
        dir_.file("long.wav"), "anoisesrc=seed=11:sample_rate=48000:c=pink,tremolo=f=2.5:d=0.9", 20));
    cut("cut.wav", 4, 12);
    settings_.drift_correct = false;  // only the analysis WAVs run the transcoder
    counting_transcoder("");
  }

  // The run folder's transcoder counts its runs in transcoder-runs.txt; `variant` makes it
  // another program.
  void counting_transcoder(const std::string& variant) {
    const std::string program = dir_.file("Brenvik.app/ffmpeg");
    fs::remove(program);
    std::ofstream(program) << "#!/bin/sh\n# " << variant << "\necho run >> '"
                           << dir_.file("transcoder-runs.txt") << "'\nexec '" << BRENVIK_FFMPEG
                           << "' \"$@\"\n";
    fs::permissions(program, fs::perms::owner_all);
    fs::remove(dir_.file("transcoder-runs.txt"));
  }

  int transcoder_runs() const {
    std::istringstream runs(testing_support::read_file(dir_.file("transcoder-runs.txt")));
    int n = 0;
    for (std::string line; std::getline(runs, line);) ++n;
    return n;
  }

  void cut(const std::string& name, int from, int seconds) {
    ASSERT_EQ(testing_support::ffmpeg({"-i", dir_.file("long.wav"), "-ss", std::to_string(from), "-t",
                                       std::to_string(seconds), dir_.file(name)}),
              0);
  }

  RunSeen run(const std::vector<std::string>& names, bool use_cache) {
    std::vector<std::string> files;
    for (const std::string& n : names) files.push_back(dir_.file(n));
    fs::remove_all(dir_.file("Brenvik.app/SYNCED"));
    fs::create_directories(dir_.file("Brenvik.app/SYNCED"));
    for (const char* old : {"csvtabela.csv", "csvtabela-clean.csv", kMatchDumpName}) fs::remove(dir_.file(old));
    const std::size_t logged = dir_.log_text().size();
    std::ostringstream console;
    RunSeen r;
    SyncOptions o;
    o.console = &console;
    o.open_output = false;
    o.result = &r.result;
    o.use_cache = use_cache;
    o.cache_limit = limit_;
    r.answer = synco(files, settings_, o);
    r.console = without_work_folder(console.str());
    std::istringstream log(without_work_folder(dir_.log_text().substr(logged)));
    for (std::string line; std::getline(log, line);) {
      if (about_cache(line))
        r.cache_lines.push_back(line);
      else
        r.log += line + "\n";
    }
    for (const auto& e : fs::recursive_directory_iterator(dir_.file("Brenvik.app/SYNCED")))
      if (e.is_regular_file()) r.written[e.path().filename().string()] = testing_support::read_file(e.path().string());
    for (const char* name : {"csvtabela.csv", "csvtabela-clean.csv", kMatchDumpName})
      if (fs::exists(dir_.file(name))) r.written[name] = testing_support::read_file(dir_.file(name));
    return r;
  }

  // Everything a user or an editor gets of `cached` is what `plain` (no cache) gave.
  static void expect_same(const RunSeen& plain, const RunSeen& cached) {
    EXPECT_EQ(plain.answer, cached.answer);
    EXPECT_EQ(plain.console, cached.console);
    EXPECT_EQ(plain.log, cached.log);
    ASSERT_EQ(plain.written.size(), cached.written.size());
    for (const auto& [name, text] : plain.written) {
      ASSERT_TRUE(cached.written.count(name)) << name;
      EXPECT_TRUE(cached.written.at(name) == text) << name << " differs";
    }
    EXPECT_GE(plain.written.count("SYNCED_fcp.XML"), 1u) << "the runs should find the pair";
    // The window's outlines of the sound, which no document holds.
    ASSERT_EQ(plain.result.timeline.groups.size(), cached.result.timeline.groups.size());
    for (std::size_t g = 0; g < plain.result.timeline.groups.size(); ++g) {
      const auto& want = plain.result.timeline.groups[g].members;
      const auto& got = cached.result.timeline.groups[g].members;
      ASSERT_EQ(want.size(), got.size());
      for (std::size_t m = 0; m < want.size(); ++m) {
        EXPECT_FALSE(want[m].envelope.empty());
        EXPECT_EQ(want[m].envelope, got[m].envelope) << want[m].path;
      }
    }
  }

  static std::string files_line(const RunSeen& r) {
    return r.cache_lines.empty() ? "" : r.cache_lines.front();
  }

  std::vector<fs::path> entries() const {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir_.file("Brenvik.app/CACHE")))
      if (e.path().extension() == ".entry") out.push_back(e.path());
    return out;
  }

  TempRunDir dir_;
  RunSettings settings_;
  std::uint64_t limit_ = kDefaultCacheLimit;
};

// The second run neither transcodes nor fingerprints nor measures a pair again, and gives
// what a run without the cache gives, byte for byte.
TEST_F(CachedRuns, SecondRunTakesEverythingAndWritesTheSame) {
  const RunSeen plain = run({"long.wav", "cut.wav"}, false);
  const RunSeen first = run({"long.wav", "cut.wav"}, true);
  EXPECT_EQ(files_line(first), "0 of 2 files from the cache");
  EXPECT_TRUE(plain.cache_lines.empty());
  expect_same(plain, first);

  // One transcoder a run: the two files are short enough to share one.
  EXPECT_EQ(transcoder_runs(), 2);
  const RunSeen second = run({"long.wav", "cut.wav"}, true);
  EXPECT_EQ(transcoder_runs(), 2);
  ASSERT_EQ(second.cache_lines.size(), 3u) << second.log;
  EXPECT_EQ(second.cache_lines[0], "2 of 2 files from the cache");
  EXPECT_EQ(second.cache_lines[1], "1 of 1 match lists and 1 of 1 judgements of pairs from the cache");
  EXPECT_TRUE(std::regex_match(second.cache_lines[2],
                               std::regex("([1-9][0-9]*) of \\1 sound measurements of pairs from the cache")))
      << second.cache_lines[2];
  EXPECT_EQ(second.result.notices, std::vector<std::string>{"2 of 2 files from the cache"});
  expect_same(plain, second);
}

// Files added to a synced shoot: only they are new, and the documents are a fresh run's.
TEST_F(CachedRuns, AddedFileIsTheOnlyNewOne) {
  cut("later.wav", 9, 10);
  run({"long.wav", "cut.wav"}, true);
  fs::remove(dir_.file("transcoder-runs.txt"));
  const RunSeen added = run({"long.wav", "later.wav", "cut.wav"}, true);
  EXPECT_EQ(files_line(added), "2 of 3 files from the cache");
  // The kept pair's files stand at other positions now.
  ASSERT_GE(added.cache_lines.size(), 2u);
  EXPECT_EQ(added.cache_lines[1], "1 of 3 match lists and 1 of 3 judgements of pairs from the cache");
  EXPECT_EQ(transcoder_runs(), 1);
  expect_same(run({"long.wav", "later.wav", "cut.wav"}, false), added);
}

// Same name, new content: the file is made afresh, and nothing of the old one is used.
TEST_F(CachedRuns, FileChangedInPlaceIsMadeAfresh) {
  run({"long.wav", "cut.wav"}, true);
  fs::remove(dir_.file("cut.wav"));
  cut("cut.wav", 2, 9);
  const RunSeen changed = run({"long.wav", "cut.wav"}, true);
  EXPECT_EQ(files_line(changed), "1 of 2 files from the cache");
  expect_same(run({"long.wav", "cut.wav"}, false), changed);
}

// A renamed file is the same sound: taken from the cache, shown under its new name.
TEST_F(CachedRuns, RenamedFileIsTakenUnderItsNewName) {
  run({"long.wav", "cut.wav"}, true);
  fs::rename(dir_.file("cut.wav"), dir_.file("renamed.wav"));
  const RunSeen renamed = run({"renamed.wav", "long.wav"}, true);
  EXPECT_EQ(files_line(renamed), "2 of 2 files from the cache");
  ASSERT_GE(renamed.cache_lines.size(), 2u);
  EXPECT_EQ(renamed.cache_lines[1], "1 of 1 match lists and 1 of 1 judgements of pairs from the cache");
  EXPECT_EQ(renamed.console.find("cut.wav"), std::string::npos);
  expect_same(run({"renamed.wav", "long.wav"}, false), renamed);
}

TEST_F(CachedRuns, OtherSettingsTakeNoFingerprint) {
  run({"long.wav", "cut.wav"}, true);
  settings_.tolerance = 0.98;
  const RunSeen other_decay = run({"long.wav", "cut.wav"}, true);
  EXPECT_EQ(files_line(other_decay), "0 of 2 files from the cache");
  expect_same(run({"long.wav", "cut.wav"}, false), other_decay);
  settings_.sound_stream = 2;
  EXPECT_EQ(files_line(run({"long.wav", "cut.wav"}, true)), "0 of 2 files from the cache");
  settings_.sound_stream = 0;
  EXPECT_EQ(files_line(run({"long.wav", "cut.wav"}, true)), "2 of 2 files from the cache");
  // Another transcoder may make other analysis WAVs.
  counting_transcoder("another build");
  EXPECT_EQ(files_line(run({"long.wav", "cut.wav"}, true)), "0 of 2 files from the cache");
}

TEST_F(CachedRuns, TruncatedEntriesAreMadeAfreshAndRewritten) {
  run({"long.wav", "cut.wav"}, true);
  for (const fs::path& p : entries()) fs::resize_file(p, fs::file_size(p) - 1);
  const RunSeen damaged = run({"long.wav", "cut.wav"}, true);
  EXPECT_EQ(files_line(damaged), "0 of 2 files from the cache");
  expect_same(run({"long.wav", "cut.wav"}, false), damaged);
  EXPECT_EQ(files_line(run({"long.wav", "cut.wav"}, true)), "2 of 2 files from the cache");
}

// A cache that cannot be written (a full disk, a folder of another user): the run is
// that of a run without one, and the log says why, once.
TEST_F(CachedRuns, UnwritableCacheLeavesTheRunAsItWasAndSaysSoOnce) {
  { std::ofstream(dir_.file("Brenvik.app/CACHE")) << "in the way"; }
  const RunSeen blocked = run({"long.wav", "cut.wav"}, true);
  ASSERT_EQ(blocked.cache_lines.size(), 4u) << blocked.log;
  EXPECT_EQ(blocked.cache_lines[0], "0 of 2 files from the cache");
  EXPECT_EQ(blocked.cache_lines[3].rfind("cache not written: ", 0), 0u);
  expect_same(run({"long.wav", "cut.wav"}, false), blocked);
}

TEST_F(CachedRuns, NoCacheNeitherReadsNorWrites) {
  run({"long.wav", "cut.wav"}, true);
  const std::size_t kept = entries().size();
  EXPECT_GT(kept, 2u);
  fs::remove(dir_.file("long.wav"));  // a new file of the same name: nothing kept for it
  ASSERT_TRUE(testing_support::make_media(
      dir_.file("long.wav"), "anoisesrc=seed=11:sample_rate=48000:c=pink,tremolo=f=2.5:d=0.9", 20));
  const RunSeen off = run({"long.wav", "cut.wav"}, false);
  EXPECT_TRUE(off.cache_lines.empty());
  EXPECT_TRUE(off.result.notices.empty());
  EXPECT_EQ(entries().size(), kept);
}

TEST_F(CachedRuns, LimitEvictsWhatDoesNotFit) {
  limit_ = 1;
  run({"long.wav", "cut.wav"}, true);
  EXPECT_TRUE(entries().empty());
  EXPECT_EQ(files_line(run({"long.wav", "cut.wav"}, true)), "0 of 2 files from the cache");
}

// A corrected copy in the output folder is left in place only when it is the very copy
// of this source at this rate.
TEST_F(CachedRuns, CorrectedCopyIsKeptOnlyWhereItIsTheSameCopy) {
  RunCache cache(dir_.file("Brenvik.app/CACHE"), kDefaultCacheLimit, 0.99f, 0);
  const std::string source = dir_.file("long.wav"), copy = dir_.file("copy.wav");
  fs::copy_file(dir_.file("cut.wav"), copy);
  EXPECT_FALSE(cache.has_corrected_copy(source, 12.5, copy));
  cache.keep_corrected_copy(source, 12.5, copy);
  EXPECT_TRUE(cache.has_corrected_copy(source, 12.5, copy));
  EXPECT_FALSE(cache.has_corrected_copy(source, 12.500001, copy));
  EXPECT_FALSE(cache.has_corrected_copy(dir_.file("cut.wav"), 12.5, copy));
  {
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(100);
    f << 'x';
  }
  EXPECT_FALSE(cache.has_corrected_copy(source, 12.5, copy));
  fs::remove(copy);
  EXPECT_FALSE(cache.has_corrected_copy(source, 12.5, copy));
  EXPECT_FALSE(RunCache("", kDefaultCacheLimit, 0.99f, 0).has_corrected_copy(source, 12.5, copy));
}

TEST(CachedBytes, RoundTripExactlyAndRejectWhatIsNotWhole) {
  CachedFile f;
  f.start.sound_after_picture_s = -0.021333;
  f.start.sounds = {{1, 2, 0.1}, {2, 1, -0.05}};
  f.start.analysed = 1;
  f.start.has_picture = true;
  f.start.picture_start_s = 0.04;
  f.start.timecode = {"10:00:00:00", 36000, 1};
  f.start.picture_rate = 29.97002997;
  f.start.read = true;
  f.chosen_stream = 1;
  f.framerate = "29.970";
  f.reduced = LandmarkTable(3, 2);
  f.reduced << 1, 2000000123, 5, 999999999999ull, 0, 0;
  f.seconds = 12.0f;
  f.console_text = std::string("filename:") + '\x01' + " b=...\n";
  const std::string bytes = cached_file_bytes(f);
  CachedFile back;
  ASSERT_TRUE(cached_file_from(bytes, back));
  EXPECT_EQ(cached_file_bytes(back), bytes);
  EXPECT_EQ(back.reduced, f.reduced);
  EXPECT_EQ(back.start.sounds[1].start_s, -0.05);
  EXPECT_EQ(back.start.timecode.text, "10:00:00:00");
  for (std::size_t cut : {std::size_t{0}, std::size_t{7}, bytes.size() / 2, bytes.size() - 1}) {
    CachedFile partial;
    EXPECT_FALSE(cached_file_from(std::string_view(bytes).substr(0, cut), partial)) << cut;
  }
  CachedFile longer;
  EXPECT_FALSE(cached_file_from(bytes + "x", longer));

  Refinement r;
  r.refined = true;
  r.offset = -4.000123456789;
  r.drift_ppm = 0.42;
  r.samples = {{3.5, -4.0001}, {9.5, -4.0002}};
  Refinement r_back;
  ASSERT_TRUE(refinement_from(refinement_bytes(r), r_back));
  EXPECT_EQ(refinement_bytes(r_back), refinement_bytes(r));
  EXPECT_EQ(r_back.offset, r.offset);
  EXPECT_FALSE(refinement_from(refinement_bytes(r).substr(1), r_back));

  RepeatCheck c;
  c.measured = true;
  c.rungs = 7;
  c.best_rung = -200.7;
  c.stands_out = true;
  RepeatCheck c_back;
  ASSERT_TRUE(repeat_check_from(repeat_check_bytes(c), c_back));
  EXPECT_EQ(repeat_check_bytes(c_back), repeat_check_bytes(c));
  EXPECT_FALSE(repeat_check_from(repeat_check_bytes(c) + "x", c_back));

  // Values far apart, repeated, and up to the largest a section can reach.
  const std::vector<std::uint64_t> unplaced = {0, 0, 127, 128, 999999, 18446744999999ull};
  const std::string list_bytes = unplaced_list_bytes(unplaced);
  std::vector<std::uint64_t> list_back;
  ASSERT_TRUE(unplaced_list_from(list_bytes, list_back));
  EXPECT_EQ(list_back, unplaced);
  for (std::size_t cut = 0; cut < list_bytes.size(); ++cut)
    EXPECT_FALSE(unplaced_list_from(std::string_view(list_bytes).substr(0, cut), list_back)) << cut;
  EXPECT_FALSE(unplaced_list_from(list_bytes + "x", list_back));
  ASSERT_TRUE(unplaced_list_from(unplaced_list_bytes({}), list_back));
  EXPECT_TRUE(list_back.empty());

  JudgedList j;
  j.summary.offset = -12.34f;
  j.summary.range = 31;
  j.summary.score = 4000;
  j.console_text = "rez.... vo loop\n";
  JudgedList j_back;
  ASSERT_TRUE(judged_list_from(judged_list_bytes(j), j_back));
  EXPECT_EQ(j_back.summary, j.summary);
  EXPECT_EQ(j_back.console_text, j.console_text);
  EXPECT_FALSE(judged_list_from(judged_list_bytes(j).substr(1), j_back));

  const std::string pair = pair_entry_bytes(unplaced, j);
  ASSERT_TRUE(pair_entry_from(pair, list_back, j_back));
  EXPECT_EQ(list_back, unplaced);
  EXPECT_EQ(j_back.summary, j.summary);
  for (std::size_t cut : {std::size_t{0}, pair.size() / 2, pair.size() - 1})
    EXPECT_FALSE(pair_entry_from(std::string_view(pair).substr(0, cut), list_back, j_back)) << cut;
}

TEST(CachedBytes, ConsoleTextCarriesTheAnalysisNameOfTheRunThatTakesIt) {
  const std::string kept = text_without_path("filename:/w/0-a.wav b=1\nagain /w/0-a.wav\n", "/w/0-a.wav");
  EXPECT_EQ(kept.find("0-a.wav"), std::string::npos);
  EXPECT_EQ(text_with_path(kept, "/v/3-b c.wav"), "filename:/v/3-b c.wav b=1\nagain /v/3-b c.wav\n");
}

}  // namespace
