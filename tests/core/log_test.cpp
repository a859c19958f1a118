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
  fs::remove_all("Brenvik.app/LOG");
  logthis("nowhere to go");
  EXPECT_FALSE(fs::exists("Brenvik.app/LOG"));
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
  const std::string share_app = dir.file("usr/share/brenvik/Brenvik.app");
  const std::string bin = dir.file("usr/bin");
  const std::string home = dir.file("home");
  fs::create_directories(bin);
  fs::create_directories(share_app);
  fs::create_directories(dir.file("elsewhere"));
  fs::create_symlink(BRENVIK_FFMPEG, share_app + "/ffmpeg");
  const std::string own_home = getenv("HOME") ? getenv("HOME") : "/";
  setenv("HOME", home.c_str(), 1);
  unsetenv("XDG_STATE_HOME");

  EXPECT_FALSE(locate_run_folder(bin).installed);
  fs::current_path(dir.file("elsewhere"));
  EXPECT_FALSE(locate_run_folder("/nowhere/bin").installed);
  const RunFolder f = locate_run_folder(bin);
  EXPECT_TRUE(f.installed);
  EXPECT_EQ(f.transcoder, share_app + "/ffmpeg");
  EXPECT_EQ(f.scene, share_app + "/qml/finaltk1/main.qml");
  EXPECT_EQ(f.log, home + "/.local/state/brenvik/log_file.txt");
  EXPECT_EQ(f.documents, home + "/Videos/Brenvik");
  setenv("XDG_STATE_HOME", "relative/state", 1);  // not absolute: ignored
  EXPECT_EQ(locate_run_folder(bin).state, home + "/.local/state/brenvik");
  setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
  EXPECT_EQ(locate_run_folder(bin).lock, dir.file("state/brenvik/run.lock"));
  unsetenv("XDG_STATE_HOME");
  // A link that outlived its ffmpeg gives way to the one on the PATH.
  fs::remove(share_app + "/ffmpeg");
  fs::create_symlink("/nonexistent/ffmpeg", share_app + "/ffmpeg");
  const std::string path = getenv("PATH");
  setenv("PATH", fs::path(BRENVIK_FFMPEG).parent_path().c_str(), 1);
  EXPECT_EQ(locate_run_folder(bin).transcoder, BRENVIK_FFMPEG);
  setenv("PATH", path.c_str(), 1);
  fs::remove(share_app + "/ffmpeg");
  fs::create_symlink(BRENVIK_FFMPEG, share_app + "/ffmpeg");

  use_run_folder(f);
  logthis("installed");
  EXPECT_EQ(testing_support::read_file(f.log), "installed\n");
  EXPECT_EQ(run_folder_problem(), "");
  {
    const RunFolderLock first, second;
    EXPECT_FALSE(first.busy());
    EXPECT_TRUE(second.busy());
  }
  // Every run gets a folder of its own, even two in one second.
  const std::string one = default_documents_folder();
  EXPECT_EQ(fs::path(one).parent_path(), f.documents);
  fs::create_directories(one);
  const std::string two = default_documents_folder();
  EXPECT_NE(two, one);
  EXPECT_FALSE(fs::exists(two));
  EXPECT_TRUE(fs::is_empty(dir.file("elsewhere")));
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
