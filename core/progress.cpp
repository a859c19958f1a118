#include "core/progress.h"

#include "core/types.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// Too early to tell the pace: the first seconds of a run hold its slowest starts.
constexpr double kLeastSecondsForPace = 2.0;
constexpr double kLeastShareForPace = 0.02;
constexpr double kLeastStagePartForPace = 0.05;

}  // namespace

// Transcoding and fingerprinting overlap (files are fingerprinted as their transcoders
// finish); deciding the pairs took over half of a run on a shoot of 240 clips, which the
// estimate of the time left makes up for by the stage's own pace; the copies resample
// whole recordings when there are any.
const StageSpan kStageSpans[7] = {
    {kStageTranscode, "Transcoding audio", "file", 0.0, 0.45},
    {kStageFingerprint, "Fingerprinting", "file", 0.45, 0.6},
    // The matcher's count takes in the device-group markers, which are no files to the
    // user, so its share is shown instead.
    {kStageMatch, "Matching", "%", 0.6, 0.7},
    {kStageDecide, "Checking the pairs", "%", 0.7, 0.85},
    {kStageCorrect, "Correcting clock drift", "file", 0.85, 0.99},
    // Only runs asked for them write synced media files: the bar waits where every other
    // run has it, and the stage's own pace tells the time left.
    {kStageMedia, "Writing synced media", "file", 0.99, 0.99},
    {kStageExport, "Writing projects", "", 0.99, 1.0},
};

const StageSpan* stage_span(std::string_view name) {
  const auto found = std::find_if(std::begin(kStageSpans), std::end(kStageSpans),
                                  [&](const StageSpan& s) { return s.name == name; });
  return found == std::end(kStageSpans) ? nullptr : found;
}

double run_share(std::string_view stage, int i, int n, double fallback) {
  const StageSpan* span = stage_span(stage);
  if (!span) return fallback;
  const double part = n > 0 ? std::clamp(static_cast<double>(i) / n, 0.0, 1.0) : 1.0;
  return span->from + (span->to - span->from) * part;
}

std::string progress_text(std::string_view stage, int i, int n) {
  const StageSpan* span = stage_span(stage);
  if (!span) return std::string(stage);
  std::string text(span->label);
  if (span->item == "%" && n > 0)
    text += ": " + std::to_string(100 * std::clamp(i, 0, n) / n) + "%";
  else if (!span->item.empty() && n > 1)
    text += ": " + std::string(span->item) + " " + std::to_string(i) + " of " + std::to_string(n);
  return text;
}

std::string time_left_text(double seconds) {
  if (!(seconds >= 0.0)) return {};
  // Rounded up to what the pace can tell: 5 s steps under a minute, whole minutes above.
  if (seconds < 60.0)
    return "about " + std::to_string(std::max(5, static_cast<int>(std::ceil(seconds / 5.0)) * 5)) + " s left";
  return "about " + std::to_string(static_cast<int>(std::lround(seconds / 60.0))) + " min left";
}

void RunClock::report(std::string_view stage, int i, int n, double seconds) {
  share_ = std::max(share_, run_share(stage, i, n, share_));
  seconds_ = std::max(seconds_, seconds);
  if (first_share_ < 0.0) {
    first_share_ = share_;
    first_seconds_ = seconds_;
  }
  const double part = n > 0 ? std::clamp(static_cast<double>(i) / n, 0.0, 1.0) : 1.0;
  auto known = stages_.find(stage);
  if (known == stages_.end()) known = stages_.emplace(std::string(stage), StageStart{seconds_, part, part}).first;
  known->second.done = std::max(known->second.done, part);
  stage_ = std::string(stage);
}

double RunClock::seconds_left() const {
  const double done = share_ - std::max(first_share_, 0.0);
  const double spent = seconds_ - first_seconds_;
  if (first_share_ < 0.0 || spent < kLeastSecondsForPace || share_ < kLeastShareForPace ||
      done <= 0.0)
    return -1.0;
  const double run_pace = spent / done;  // seconds per share of the run
  const StageSpan* span = stage_span(stage_);
  const auto stage = stages_.find(stage_);
  if (span && stage != stages_.end()) {
    const StageStart& s = stage->second;
    const double stage_spent = seconds_ - s.seconds;
    const double stage_done = s.done - s.part;
    if (stage_spent >= kLeastSecondsForPace && stage_done >= kLeastStagePartForPace && s.done < 1.0)
      return stage_spent * (1.0 - s.done) / stage_done + (1.0 - span->to) * run_pace;
  }
  return (1.0 - share_) * run_pace;
}
