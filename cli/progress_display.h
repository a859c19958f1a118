#pragma once
// The progress of a run on stderr: on a terminal, one line rewritten in place; to a file
// or a pipe (a log, a CI job), plain lines at most once a second, which a reader of the
// file can follow without carriage returns piling up.

#include "core/progress.h"

#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>

class ProgressDisplay {
 public:
  // `now` gives seconds on a steady clock; the run's time counts from construction.
  ProgressDisplay(std::ostream& out, bool terminal, std::function<double()> now);

  // One report of the engine (any thread): stage, item i of n.
  void report(std::string_view stage, int i, int n);

  // Clears a terminal's line once the run is over.
  void finish();

 private:
  std::string line() const;

  std::ostream& out_;
  bool terminal_;
  std::function<double()> now_;
  double start_ = 0.0;
  double last_line_ = -1.0;
  std::size_t drawn_ = 0;  // characters of the terminal line now shown
  std::string text_;
  RunClock clock_;
  std::mutex mutex_;
};

// Seconds on the steady clock.
double steady_seconds();
