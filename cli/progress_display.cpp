#include "cli/progress_display.h"

#include <chrono>
#include <ostream>
#include <utility>

namespace {

// Plain lines are written no more often than this, in seconds.
constexpr double kPlainLineInterval = 1.0;

}  // namespace

double steady_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

ProgressDisplay::ProgressDisplay(std::ostream& out, bool terminal, std::function<double()> now)
    : out_(out), terminal_(terminal), now_(std::move(now)), start_(now_()) {}

std::string ProgressDisplay::line() const {
  const std::string left = time_left_text(clock_.seconds_left());
  // A share of 0.65 is 64.99… in binary; the nudge keeps it at 65.
  const int percent = static_cast<int>(clock_.share() * 100.0 + 1e-9);
  return text_ + " (" + std::to_string(percent) + "% of the run" + (left.empty() ? "" : ", " + left) + ")";
}

void ProgressDisplay::report(std::string_view stage, int i, int n) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const double t = now_() - start_;
  clock_.report(stage, i, n, t);
  text_ = progress_text(stage, i, n);
  if (terminal_) {
    const std::string shown = line();
    // Blanks over what a longer line before left behind.
    const std::size_t pad = drawn_ > shown.size() ? drawn_ - shown.size() : 0;
    out_ << '\r' << shown << std::string(pad, ' ') << std::flush;
    drawn_ = shown.size();
    return;
  }
  if (last_line_ >= 0.0 && t - last_line_ < kPlainLineInterval) return;
  last_line_ = t;
  out_ << line() << '\n' << std::flush;
}

void ProgressDisplay::finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_ && drawn_ > 0) out_ << '\r' << std::string(drawn_, ' ') << '\r' << std::flush;
  drawn_ = 0;
}
