#include "cli/progress_display.h"

#include "core/types.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

int lines_of(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

}  // namespace

// A file or a pipe gets whole lines, at most one a second, each with the stage and, once
// the pace is known, the time left; the run's share never goes back.
TEST(ProgressDisplay, PlainLinesAtMostOnceASecondWithTheTimeLeft) {
  double now = 100.0;
  std::ostringstream out;
  ProgressDisplay display(out, false, [&now] { return now; });
  for (int i = 1; i <= 40; ++i) {
    now += 0.25;  // four reports a second
    display.report(kStageTranscode, i, 40);
  }
  display.finish();
  const std::string text = out.str();
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(lines_of(text), 10) << text;
  EXPECT_NE(text.find("Transcoding audio: file 1 of 40 (1% of the run)\n"), std::string::npos) << text;
  // 10 s for the whole transcoding stage, which is under half of a run: about 12 s more.
  EXPECT_NE(text.find("Transcoding audio: file 37 of 40 (41% of the run, about 15 s left)\n"),
            std::string::npos)
      << text;
  now += 5.0;
  display.report(kStageTranscode, 3, 40);  // a late report of an earlier file
  EXPECT_NE(out.str().find("file 3 of 40 (45% of the run"), std::string::npos) << out.str();
}

// A terminal gets one line, rewritten over itself and cleared at the end.
TEST(ProgressDisplay, TerminalLineIsRewrittenAndCleared) {
  double now = 0.0;
  std::ostringstream out;
  ProgressDisplay display(out, true, [&now] { return now; });
  display.report(kStageMatch, 50, 100);
  now += 0.1;
  display.report(kStageExport, 1, 1);
  display.finish();
  const std::string text = out.str();
  EXPECT_EQ(lines_of(text), 0);
  EXPECT_EQ(text.rfind("\r", 0), 0u);
  EXPECT_NE(text.find("\rMatching: 50% (65% of the run)"), std::string::npos) << text;
  EXPECT_NE(text.find("\rWriting projects (100% of the run)"), std::string::npos) << text;
  EXPECT_EQ(text.back(), '\r');
}
