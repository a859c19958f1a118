// Programs started on their own: the file manager must never hold up the one that
// started it, nor stay behind as its child, and its giving up must still be heard.

#include "core/process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/wait.h>

using testing_support::StandInViewer;

namespace {

// True when no child of this process is left, not even one that has ended unreaped.
bool no_child_left() { return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

}  // namespace

TEST(DetachedProgram, ReturnsAtOnceAndLeavesNoChildOfOurs) {
  StandInViewer viewer;
  DetachedProgram shown = show_in_file_manager("/some where/Projects");
  // Its status comes when it ends, which this one never does; its start is all we wait for.
  ASSERT_GE(shown.status_fd(), 0);
  EXPECT_EQ(shown.status(), std::nullopt);
  for (int i = 0; i < 200 && !viewer.running(); ++i) shown.status(10);
  EXPECT_TRUE(viewer.running());
  EXPECT_EQ(viewer.shown(), "/some where/Projects");
  EXPECT_TRUE(no_child_left());
}

TEST(DetachedProgram, TellsHowItEnded) {
  {
    StandInViewer gives_up(3);  // as xdg-open without a file manager
    DetachedProgram shown = show_in_file_manager("/tmp");
    ASSERT_EQ(shown.status(20000), 3);
    EXPECT_TRUE(viewer_failed(3));
    EXPECT_EQ(shown.status_fd(), -1);
    EXPECT_EQ(shown.status(), 3);  // kept once heard
  }
  {
    StandInViewer fine(0);
    EXPECT_EQ(show_in_file_manager("/tmp").status(20000), 0);
    EXPECT_FALSE(viewer_failed(0));
  }
  EXPECT_EQ(start_detached({"/no/such/viewer", "/tmp"}).status(20000), kProgramNotStarted);
  EXPECT_EQ(start_detached({"no-such-viewer-anywhere", "/tmp"}).status(), kProgramNotStarted);
  EXPECT_TRUE(viewer_failed(kProgramNotStarted));
  EXPECT_FALSE(viewer_failed(128 + 15));  // closed by the user or the session
  EXPECT_TRUE(no_child_left());
}
