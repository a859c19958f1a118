#include "core/progress.h"

#include <gtest/gtest.h>

// A run whose pairs take most of it, as on a shoot of hundreds of clips: once the stage
// shows its own pace, the estimate goes by it rather than by the stage's rough share.
TEST(RunClock, TheStageReportedGoesByItsOwnPace) {
  RunClock clock;
  clock.report("transcode", 1, 10, 0.0);
  clock.report("match", 1, 1, 10.0);
  clock.report("decide", 100, 1000, 12.0);
  const double run_pace = 12.0 / (clock.share() - 0.045);
  EXPECT_NEAR(clock.seconds_left(), (1.0 - clock.share()) * run_pace, 1e-9) << "no pace of its own yet";
  clock.report("decide", 500, 1000, 52.0);
  // 40 s for 40 % of the stage leaves 50 s of it, then 15 % of the run at the run's pace.
  EXPECT_NEAR(clock.seconds_left(), 50.0 + 0.15 * 52.0 / (clock.share() - 0.045), 1e-9);
  clock.report("decide", 1000, 1000, 100.0);
  EXPECT_NEAR(clock.seconds_left(), 0.15 * 100.0 / (clock.share() - 0.045), 1e-9) << "stage done";
}
