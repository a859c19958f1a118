#pragma once
// Where each stage of a run sits on a progress bar, and how long the rest of a run is
// likely to take. Both front ends show progress from here, so a stage's label or share
// changes in this file only.

#include <map>
#include <string>
#include <string_view>

// One stage as the front ends show it. `item` names what the stage's i of n counts
// ("file"); "%" shows the count as a share; empty shows no count.
struct StageSpan {
  std::string_view name;   // the engine's stage name (core/types.h)
  std::string_view label;  // "Transcoding audio"
  std::string_view item;
  double from = 0.0;       // share of the whole run done when the stage starts, 0..1
  double to = 0.0;         // … and when it ends
};

// The stages in the order a run reaches them. The shares are rough: a run of a few long
// files spends most of its time transcoding and on the drift-corrected copies, a shoot of
// hundreds of short clips on checking its pairs, so the time left settles as a run goes.
extern const StageSpan kStageSpans[7];

// The span of the stage `name`; nullptr for a name that is none of the engine's.
const StageSpan* stage_span(std::string_view name);

// Share of the whole run done at item i of n of `stage`, 0..1; `fallback` for an
// unknown stage.
double run_share(std::string_view stage, int i, int n, double fallback);

// What a report says to the user: "Matching: 40%", "Transcoding audio: file 3 of 80",
// "Writing projects"; the stage's own name for an unknown stage.
std::string progress_text(std::string_view stage, int i, int n);

// "about 2 min left", "about 40 s left"; empty while the time left is not known.
std::string time_left_text(double seconds);

// Follows one run's reports and estimates the seconds it has left. Not thread-safe: feed
// it from one thread.
class RunClock {
 public:
  // A report at `seconds` since the run began. The share never goes back: parallel
  // stages may report out of order.
  void report(std::string_view stage, int i, int n, double seconds);

  double share() const { return share_; }  // 0..1

  // Seconds left, from the pace of the run so far; negative while too little of the run
  // is done to tell (the first few seconds, or under 2 % of it). Once the stage reported
  // last has shown its own pace, the rest of it goes by that pace and only the stages after
  // it by the run's: the shares are rough, and one stage can take most of a run.
  double seconds_left() const;

 private:
  struct StageStart {
    double seconds = 0.0;  // of its first report
    double part = 0.0;     // of the stage done then, 0..1
    double done = 0.0;     // of the stage done by now
  };
  double share_ = 0.0;
  double seconds_ = 0.0;
  std::string stage_;  // reported last
  std::map<std::string, StageStart, std::less<>> stages_;
  // The pace is measured from the first report on, so that a slow start (locks, the
  // first ffmpeg) does not stand for the whole run.
  double first_share_ = -1.0;
  double first_seconds_ = 0.0;
};
