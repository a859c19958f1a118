#include "matching/decide.h"

#include "matching/refine.h"
#include "matching/second_look.h"

namespace {

constexpr int kDecideSteps = 3;

}  // namespace

std::vector<PairVerdict> decide_pairs(std::vector<PairSlot> slots,
                                      const std::vector<std::string>& analysis,
                                      const std::vector<float>& durations, bool refine,
                                      const ProgressFn& progress) {
  const auto report = [&](int step) {
    if (progress) progress(kStageDecide, step, kDecideSteps);
  };
  std::vector<PairVerdict> verdicts =
      judge_pairs(slots, static_cast<int>(analysis.size()), durations);
  std::vector<PairSlot>().swap(slots);
  report(1);
  // The fingerprint grid alone places a pair only to within a frame or two.
  if (refine) refine_in_sync(verdicts, analysis, durations);
  report(2);
  second_look(verdicts, analysis, durations, refine);
  report(3);
  log_verdicts(verdicts, analysis);
  return verdicts;
}
