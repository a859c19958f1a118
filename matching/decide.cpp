#include "matching/decide.h"

#include "matching/refine.h"
#include "matching/second_look.h"
#include "matching/sound_measures.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The stage's progress in thousandths; judging is quick, and on a shoot of hundreds of
// clips the refinement and the second look take about half of the rest each.
constexpr int kDecideSteps = 1000;
constexpr double kJudgedShare = 0.02;
constexpr double kRefinedShare = 0.5;

}  // namespace

std::vector<PairVerdict> decide_pairs(std::vector<PairSlot> slots,
                                      const std::vector<std::string>& analysis,
                                      const std::vector<float>& durations, bool refine,
                                      const ProgressFn& progress) {
  return decide_pairs(std::move(slots), analysis, durations, refine, progress, measured_on(analysis));
}

std::vector<PairVerdict> decide_pairs(std::vector<PairSlot> slots,
                                      const std::vector<std::string>& analysis,
                                      const std::vector<float>& durations, bool refine,
                                      const ProgressFn& progress, const SoundMeasures& measures,
                                      const KeptJudgements& judged) {
  const auto report = [&](double share) {
    if (progress) progress(kStageDecide, static_cast<int>(std::lround(share * kDecideSteps)), kDecideSteps);
  };
  const auto part = [&](double from, double to) {
    return [&report, from, to](int i, int n) { report(from + (to - from) * i / std::max(n, 1)); };
  };
  std::vector<PairVerdict> verdicts =
      judge_pairs(slots, static_cast<int>(analysis.size()), durations, judged);
  std::vector<PairSlot>().swap(slots);
  report(kJudgedShare);
  // The fingerprint grid alone places a pair only to within a frame or two.
  const double refined_at = refine ? kRefinedShare : kJudgedShare;
  if (refine) refine_in_sync(verdicts, measures, durations, part(kJudgedShare, refined_at));
  report(refined_at);
  second_look(verdicts, measures, durations, refine, part(refined_at, 1.0));
  report(1.0);
  log_verdicts(verdicts, analysis);
  return verdicts;
}
