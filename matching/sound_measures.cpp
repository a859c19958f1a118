#include "matching/sound_measures.h"

SoundMeasures measured_on(const std::vector<std::string>& analysis) {
  SoundMeasures m;
  m.files = analysis.size();
  // By reference: the analysis list outlives the decision that asks.
  m.refine = [&analysis](int shorter, int longer, double offset, RefineScope scope) {
    return refine_offset(analysis[static_cast<std::size_t>(shorter)],
                         analysis[static_cast<std::size_t>(longer)], offset, scope);
  };
  m.repeats = [&analysis](int shorter, int longer, double offset, double low, double high) {
    return check_repeats(analysis[static_cast<std::size_t>(shorter)],
                         analysis[static_cast<std::size_t>(longer)], offset, low, high);
  };
  return m;
}
