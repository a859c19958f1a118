#include "engine/timecode_check.h"

#include "core/format.h"
#include "core/log.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kDay_s = 86400.0;
constexpr double kSoundOnlyFrame_s = 1.0 / 25.0;  // recorders with no picture of their own

// Where the first sample of the analysed sound lies on the file's own clock.
double sound_clock(const MediaStart& s) { return s.timecode.seconds() + s.sound_after_picture_s; }

std::string signed_seconds(double s) { return (s >= 0.0 ? "+" : "") + fixed_text(s, 3); }

double frame_of(const std::string& framerate) {
  const double fps = framerate_number(framerate);
  return fps > 0.0 && fps < TimelineMember::kAudioOnlyRate ? 1.0 / fps : 0.0;
}

}  // namespace

std::vector<TimecodeCheck> check_timecodes(const std::vector<PairResult>& pairs,
                                           const std::vector<MediaStart>& starts,
                                           const std::vector<std::string>& framerates,
                                           const std::vector<std::string>& files) {
  std::vector<TimecodeCheck> checks;
  for (const PairResult& p : pairs) {
    const MediaStart& a = starts[static_cast<std::size_t>(p.shorter)];
    const MediaStart& b = starts[static_cast<std::size_t>(p.longer)];
    if (!a.timecode.present() || !b.timecode.present()) continue;
    TimecodeCheck c;
    c.shorter = p.shorter;
    c.longer = p.longer;
    // A sound at clock time T is sound_clock + t in either file: offset = tb0 − ta0.
    // Clocks that run past midnight between the two files wrap.
    c.difference_s = std::remainder(p.offset - (sound_clock(b) - sound_clock(a)), kDay_s);
    c.frame_s = std::max(frame_of(framerates[static_cast<std::size_t>(p.shorter)]),
                         frame_of(framerates[static_cast<std::size_t>(p.longer)]));
    if (c.frame_s == 0.0) c.frame_s = kSoundOnlyFrame_s;
    logthis("timecodes of " + files[static_cast<std::size_t>(p.shorter)] + " and " +
            files[static_cast<std::size_t>(p.longer)] +
            (c.agrees() ? " agree with the sound within a frame (" : " disagree with the sound by ") +
            signed_seconds(c.difference_s) + (c.agrees() ? " s)" : " s"));
    checks.push_back(c);
  }
  return checks;
}

std::string timecode_notice(const std::vector<TimecodeCheck>& checks) {
  const auto off = std::count_if(checks.begin(), checks.end(), [](const TimecodeCheck& c) { return !c.agrees(); });
  if (off == 0) return {};
  return std::to_string(off) + (off == 1 ? " pair's timecodes disagree" : " pairs' timecodes disagree") +
         " with their sound by more than a frame: a device's clock was not set to the others'; "
         "the sound places the files";
}
