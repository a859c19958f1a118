#include "core/log.h"
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
