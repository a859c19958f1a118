#include "core/files.h"
#include "core/log.h"
#include "core/paths.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

TEST(Log, AppendsLinesWithoutTruncatingAndDropsThemWithoutAFolder) {
  testing_support::TempRunDir dir;
  testing_support::write_file("Brenvik.app/LOG/log_file.txt", "earlier run\n");
  for (const char* line : {"a", "", "b"}) logthis(line);
  EXPECT_EQ(dir.log_text(), "earlier run\na\n\nb\n");
  // Moved aside by another program between two lines: the next starts a new log.
  fs::rename("Brenvik.app/LOG/log_file.txt", "Brenvik.app/LOG/moved.txt");
  logthis("c");
  EXPECT_EQ(dir.log_text(), "c\n");
  EXPECT_EQ(testing_support::read_file("Brenvik.app/LOG/moved.txt"), "earlier run\na\n\nb\n");
  fs::remove_all("Brenvik.app/LOG");
  logthis("nowhere to go");
  EXPECT_FALSE(fs::exists("Brenvik.app/LOG"));
}

// A log that reaches the limit moves aside with the line that carried it there; the
// oldest of the kept ones goes. The same in a run folder and an installation's state folder.
TEST(Log, RotatesAtItsLimitKeepingTheNewestFewInEitherLayout) {
  testing_support::TempRunDir dir;
  RunFolder installed;
  installed.installed = true;
  installed.log = dir.file("state/brenvik/log_file.txt");
  fs::create_directories(dir.file("state/brenvik"));
  for (const RunFolder& layout : {RunFolder{}, installed}) {
    use_run_folder(layout);
    const std::string log = layout.log;
    const std::string almost(kLogRotateBytes - 2, 'x');
    for (int run = 1; run <= kLogKeptFiles + 1; ++run) {
      testing_support::write_file(log, std::to_string(run) + almost.substr(1));
      logthis("a");  // the line that reaches the limit
      EXPECT_FALSE(fs::exists(log)) << log << " run " << run;
      logthis("next " + std::to_string(run));
      EXPECT_EQ(testing_support::read_file(log), "next " + std::to_string(run) + "\n");
    }
    for (int k = 1; k <= kLogKeptFiles; ++k) {
      const std::string kept = testing_support::read_file(log + "." + std::to_string(k));
      // .1 holds the last run's log with its closing line, .3 the second run's.
      EXPECT_EQ(kept.substr(0, 1), std::to_string(kLogKeptFiles + 2 - k)) << log << "." << k;
      EXPECT_EQ(kept.substr(kept.size() - 2), "a\n");
    }
    EXPECT_FALSE(fs::exists(log + "." + std::to_string(kLogKeptFiles + 1)));
  }
  use_run_folder(RunFolder{});
}

TEST(Paths, LongWorkingDirectoryIsReturnedWhole) {
  testing_support::TempRunDir dir;
  std::string deep = dir.path();
  while (deep.size() < 400) deep += "/a_rather_long_folder_name_for_the_buffer";
  fs::create_directories(deep);
  fs::current_path(deep);
  EXPECT_EQ(gnu_getcwd(), deep);
}

// Installed, the programs read their Brenvik.app from the installation and write only
// below the user's home, wherever they are started; a working directory that holds a
// Brenvik.app keeps them in it.
TEST(Paths, InstalledProgramReadsItsShareAndWritesBelowHome) {
  testing_support::TempRunDir dir;
  const std::string app = dir.file("usr/share/brenvik/Brenvik.app"), bin = dir.file("usr/bin");
  const std::string home = dir.file("home"), elsewhere = dir.file("elsewhere");
  for (const std::string& folder : {app, bin, elsewhere}) fs::create_directories(folder);
  // A link whose ffmpeg has gone: the one on the PATH stands in.
  fs::create_symlink("/nonexistent/ffmpeg", app + "/ffmpeg");
  const std::string own_home = getenv("HOME") ? getenv("HOME") : "/", path = getenv("PATH");
  setenv("HOME", home.c_str(), 1);
  setenv("PATH", fs::path(BRENVIK_FFMPEG).parent_path().c_str(), 1);
  unsetenv("XDG_STATE_HOME");
  unsetenv("XDG_CACHE_HOME");
  EXPECT_FALSE(locate_run_folder(bin).installed);
  fs::current_path(elsewhere);
  const RunFolder f = locate_run_folder(bin);
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(f.transcoder, BRENVIK_FFMPEG);
  EXPECT_EQ(f.scene, app + "/qml/finaltk1/main.qml");
  EXPECT_EQ(f.log, home + "/.local/state/brenvik/log_file.txt");
  setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
  EXPECT_EQ(locate_run_folder(bin).lock, dir.file("state/brenvik/run.lock"));
  EXPECT_EQ(f.cache, home + "/.cache/brenvik");
  setenv("XDG_CACHE_HOME", dir.file("cache").c_str(), 1);
  EXPECT_EQ(locate_run_folder(bin).cache, dir.file("cache/brenvik"));
  unsetenv("XDG_CACHE_HOME");
  EXPECT_EQ(RunFolder{}.cache, "Brenvik.app/CACHE");

  use_run_folder(f);
  logthis("installed");
  EXPECT_EQ(testing_support::read_file(f.log), "installed\n");
  const RunFolderLock first;
  EXPECT_TRUE(RunFolderLock().busy());
  // Every run gets a folder of its own, even two in one second.
  const std::string one = default_documents_folder();
  EXPECT_EQ(fs::path(one).parent_path(), home + "/Videos/Brenvik");
  fs::create_directories(one);
  EXPECT_NE(default_documents_folder(), one);
  use_run_folder(RunFolder{});
  setenv("HOME", own_home.c_str(), 1);
}

TEST(Console, CaptureRedirectsOnlyTheCurrentThread) {
  std::ostringstream sink, captured;
  set_console(&sink);
  {
    ConsoleCapture capture(captured);
    console() << "to capture";
    std::thread([] { console() << "to sink "; }).join();
  }
  console() << "again";
  set_console(nullptr);
  EXPECT_EQ(sink.str(), "to sink again");
  EXPECT_EQ(captured.str(), "to capture");
}
