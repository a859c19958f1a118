#include "matching/offset_decision.h"

#include "core/composeints.h"
#include "core/format.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/process.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <sstream>

namespace {

// Match word layout: section * 10^12 + longer * 10^9 + shorter * 10^6 + offset code.
constexpr std::uint64_t kSectionUnit = 1000000000000u;
constexpr std::uint64_t kOffsetCodeUnit = 1000000u;
constexpr int kOffsetCodeZero = 500000;
constexpr float kHundredthsPerSecond = 100.0f;

// A candidate gathers the words whose offset code lies this close to it; T1 asks for
// three neighbours within 2, T4 for one within 1.
constexpr int kNearWindow = 4;
constexpr int kTightWindow = 2;

constexpr int kNoCandidate = 99999999;
constexpr float kNoOffset = 100000000.0f;

// A list shorter than this cannot carry a verdict.
constexpr std::size_t kMinimumValues = 10;
constexpr float kSectionShare = 0.03125f;  // a section is 1/32 of the shorter file
constexpr std::size_t kAsterisks = 184;
constexpr const char* kPairLineGap =
    "                                               ";  // 47 blanks

int offset_code(std::uint64_t word) { return static_cast<int>(word % kOffsetCodeUnit); }
std::uint64_t section_of(std::uint64_t word) { return word / kSectionUnit; }

// Candidate offsets head clusters of offset codes: a code whose next higher code (among
// all words but the largest) lies at least 2 above it. The highest code heads nothing.
std::vector<int> candidate_codes(const MatchList& sorted) {
  std::vector<int> codes;
  if (sorted.size() < 2) return codes;
  codes.reserve(sorted.size());
  const std::uint64_t largest = sorted.back();
  for (std::size_t r = 0; r < sorted.size(); ++r) {
    if (sorted[r] == largest) break;
    codes.push_back(offset_code(sorted[r]));
  }
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  std::vector<int> candidates;
  for (std::size_t k = 0; k + 1 < codes.size(); ++k)
    if (codes[k + 1] - codes[k] >= 2) candidates.push_back(codes[k]);
  return candidates;
}

// Position r of the list with what T1 to T5 read there: its own code and section and the
// codes of the two words after it.
struct Neighbourhood {
  int code0;
  int code1;
  int code2;
  std::uint64_t section;
};

struct CandidateScore {
  int hits = 0;
  int score = 0;
  int sections = 0;
  std::uint64_t range = 0;
};

CandidateScore score_candidate(int c, std::vector<Neighbourhood>::const_iterator first,
                               std::vector<Neighbourhood>::const_iterator last,
                               std::vector<std::uint64_t>& sections) {
  CandidateScore out;
  sections.clear();
  for (auto it = first; it != last; ++it) {
    const int d0 = std::abs(c - it->code0);
    const int d1 = std::abs(c - it->code1);
    const int d2 = std::abs(c - it->code2);
    if (d0 <= kTightWindow && d1 <= kTightWindow && d2 <= kTightWindow) {
      sections.push_back(it->section);
      out.score += 200;
      out.hits += 3;
    }
    if (d0 <= kNearWindow && d1 <= kNearWindow && d2 <= kNearWindow) {
      sections.push_back(it->section);
      out.score += 100;
      out.hits += 3;
    }
    if (d0 <= kNearWindow && d1 <= kNearWindow) {
      sections.push_back(it->section);
      out.score += 30;
      out.hits += 2;
    }
    if (d0 <= 1) out.hits += 1;
    if (d0 == 0) {
      sections.push_back(it->section);
      out.hits += 1;
    }
  }
  std::sort(sections.begin(), sections.end());
  sections.erase(std::unique(sections.begin(), sections.end()), sections.end());
  out.sections = static_cast<int>(sections.size());
  if (!sections.empty()) out.range = sections.back() - sections.front();
  return out;
}

float code_to_seconds(int code) {
  return static_cast<float>(code - kOffsetCodeZero) / kHundredthsPerSecond;
}

}  // namespace

// Every test of a candidate needs the word at r within 4 of it, so only the positions
// whose own code lies in [c - 4, c + 4] can score. Visiting the positions ordered by
// their code, each is looked at by at most nine candidates, instead of every position
// by every candidate. The neighbours r + 1 and r + 2 are still those of the list order.
std::vector<float> finalcut(MatchList list) {
  std::sort(list.begin(), list.end());
  const std::vector<int> candidates = candidate_codes(list);

  std::vector<Neighbourhood> positions;
  if (list.size() >= 3) {
    positions.reserve(list.size() - 2);
    for (std::size_t r = 0; r + 2 < list.size(); ++r)
      positions.push_back({offset_code(list[r]), offset_code(list[r + 1]), offset_code(list[r + 2]),
                           section_of(list[r])});
  }
  std::sort(positions.begin(), positions.end(),
            [](const Neighbourhood& a, const Neighbourhood& b) { return a.code0 < b.code0; });

  int best = kNoCandidate;
  CandidateScore best_score{1, 1, 1, 1};
  int most_hits = 1;
  int most_hits_code = 1;
  std::vector<std::uint64_t> sections;
  auto first = positions.cbegin();
  for (int c : candidates) {
    while (first != positions.cend() && first->code0 < c - kNearWindow) ++first;
    auto last = first;
    while (last != positions.cend() && last->code0 <= c + kNearWindow) ++last;
    const CandidateScore s = score_candidate(c, first, last, sections);
    // The range saturates at the length of the recording: a chance candidate whose few
    // sections lie far apart must not block a later one with more sections and score that
    // spans no more.
    const bool wide_enough = s.range > best_score.range ||
                             (best != kNoCandidate && s.range == best_score.range);
    if (s.sections > best_score.sections && s.score > best_score.score && wide_enough) {
      best = c;
      best_score = s;
    }
    if (s.hits > most_hits) {
      most_hits = s.hits;
      most_hits_code = c;
    }
  }

  if (best == kNoCandidate) return {kNoOffset, 1, kNoOffset, 1, 1, 1, 1};
  // Few hits spread over a wide range are chance: their score is not to be trusted.
  if (most_hits <= 2 && static_cast<std::uint64_t>(best_score.hits) < 3 * best_score.range)
    best_score.score = 1;
  console() << "rez.... vo loop\n";
  return {code_to_seconds(best),
          static_cast<float>(best_score.sections),
          code_to_seconds(most_hits_code),
          static_cast<float>(most_hits),
          static_cast<float>(best_score.hits),
          static_cast<float>(best_score.range),
          static_cast<float>(best_score.score)};
}

PairOverlap pair_overlap(const std::vector<float>& summary, float longer_seconds,
                         float shorter_seconds) {
  PairOverlap out;
  const float offset = summary[0];
  out.presek = offset > 0.0f ? shorter_seconds - std::fabs(offset)
                             : std::min(longer_seconds - std::fabs(offset), shorter_seconds);
  out.traenje_small = shorter_seconds == 0.0f ? 1.0f : shorter_seconds;
  out.sekcii_vo_presek = out.presek / (1.0f + out.traenje_small * kSectionShare);
  out.confidence = out.sekcii_vo_presek / (summary[1] + 1.0f);
  return out;
}

bool pair_in_sync(const std::vector<float>& summary, const PairOverlap& overlap) {
  const int ns = static_cast<int>(summary[1]);
  const int rg = static_cast<int>(summary[5]);
  const int th = static_cast<int>(summary[4]);
  const int sg = static_cast<int>(summary[6]);
  // The best candidate is often a small cluster head just below the true offset; the
  // support a pair needs in hits is read from the candidate with the most hits.
  const int most_hits = static_cast<int>(summary[3]);
  const int den = (ns > 8 && rg >= ns) ? rg + 2 : rg;
  const float D = den == 0 ? 1.0f : static_cast<float>(den);
  // Recordings that do not overlap once aligned share no sound, and a true offset is
  // supported across the overlap: a chance cluster of a few sections must not pass for
  // one now that the hit tests read the most-hit candidate.
  const bool overlapping = overlap.presek > 0.0f;
  const bool supported_across = static_cast<float>(ns) >= overlap.sekcii_vo_presek / 4.0f;
  return overlapping && supported_across && overlap.sekcii_vo_presek / D < 3.0f &&
         static_cast<float>(most_hits) > 2.0f * overlap.traenje_small && sg > 10 * th && ns >= 3 &&
         std::fabs(std::fabs(summary[0]) - std::fabs(summary[2])) < 1.0f &&
         static_cast<float>(most_hits) > 3.0f * overlap.presek;
}

void decide_pairs(const std::vector<PairSlot>& slots, int n, const std::vector<float>& durations,
                  const std::vector<std::string>& analysis, std::vector<float>& results,
                  const PairRefiner& refine) {
  const std::size_t m = static_cast<std::size_t>(std::max(n, 0) + (n % 2 != 0 ? 1 : 0));
  const std::size_t walked = std::min(slots.size(), m * (m + 1) / 2);

  // Every slot is judged first, its console line kept for the log walk below, so that the
  // pairs in sync can be refined on several threads at once.
  struct Verdict {
    bool judged = false;
    bool in_sync = false;
    std::vector<float> F;
    PairOverlap overlap;
    std::string console_text;
    float offset = 0.0f;
    std::string refinement;
  };
  std::vector<Verdict> verdicts(walked);
  std::vector<std::size_t> in_sync;
  for (std::size_t k = 0; k < walked; ++k) {
    const PairSlot& slot = slots[k];
    const int b = slot.longer;
    const int c = slot.shorter;
    const bool known = b >= 0 && c >= 0 && static_cast<std::size_t>(b) < analysis.size() &&
                       static_cast<std::size_t>(c) < analysis.size() &&
                       static_cast<std::size_t>(b) < durations.size() &&
                       static_cast<std::size_t>(c) < durations.size();
    if (slot.list.size() < kMinimumValues || !known) continue;
    Verdict& v = verdicts[k];
    v.judged = true;
    {
      std::ostringstream text;
      ConsoleCapture capture(text);
      v.F = finalcut(slot.list);
      v.console_text = text.str();
    }
    v.overlap = pair_overlap(v.F, durations[static_cast<std::size_t>(b)],
                             durations[static_cast<std::size_t>(c)]);
    v.in_sync = pair_in_sync(v.F, v.overlap);
    v.offset = v.F[0];
    if (v.in_sync) in_sync.push_back(k);
  }

  if (refine) {
    ordered_parallel_for(
        static_cast<int>(in_sync.size()), worker_count(),
        [&](int j) {
          const std::size_t k = in_sync[static_cast<std::size_t>(j)];
          verdicts[k].refinement = refine(slots[k].shorter, slots[k].longer, verdicts[k].offset);
        },
        [](int) {});
  }

  const std::string asterisks(kAsterisks, '*');
  for (std::size_t k = 0; k < walked; ++k) {
    const Verdict& v = verdicts[k];
    if (!v.judged) {
      logthis("<10 hits");
      continue;
    }
    const int b = slots[k].longer;
    const int c = slots[k].shorter;
    const std::string& name_b = analysis[static_cast<std::size_t>(b)];
    const std::string& name_c = analysis[static_cast<std::size_t>(c)];
    logthis(name_b + " *  " + name_c);
    console() << v.console_text;

    const std::vector<float>& F = v.F;
    const float presek = v.overlap.presek;
    const float sekcii_vo_presek = v.overlap.sekcii_vo_presek;
    const std::string summary = float2string(F[0]) + "*" + float2string(F[1]) + "*" +
                                float2string(F[2]) + "*" + float2string(F[3]) + "*" +
                                float2string(F[4]) + "*" + float2string(F[5]);
    const std::string verdict_tail =
        name_c + "  i " + name_b + "  so ofset:" + float2string(F[0]) + " sekundi vo " +
        float2string(F[1]) + "regioni so totalna brojka niz site regioni " + float2string(F[3]);
    logthis(" NE SE VO SYNC !!!!!!!!!!!presek:" + float2string(presek) +
            "traenje_small:" + float2string(v.overlap.traenje_small) + kPairLineGap +
            "sigurnost:" + float2string(F[6]) + "  raspon:" + float2string(F[5]) +
            " sekcii vo presek:" + float2string(sekcii_vo_presek) + "  " + summary +
            "  ---->>>>>>>>>NEMA SYNC " + verdict_tail + "->");
    if (!v.in_sync) continue;

    const std::string found = "NAJDEN SYNC MEGJU " + verdict_tail + "-> treba da se zapise vo CSV";
    logthis(asterisks);
    logthis(asterisks);
    logthis("totalhits:" + float2string(static_cast<float>(static_cast<int>(F[4]))) +
            " presek:" + float2string(presek) + " sigurnost:" + float2string(F[6]) + "  raspon:" +
            float2string(F[5]) + " sekcii vo presek:" + float2string(sekcii_vo_presek) + "  " +
            summary + "  ---->>>>>>>>>" + found);
    logthis(asterisks);
    logthis(asterisks);
    console() << found << '\n';
    if (!v.refinement.empty()) logthis(v.refinement);
    results.insert(results.end(), {static_cast<float>(c), static_cast<float>(b), v.offset, F[1],
                                   v.overlap.confidence, F[3]});
  }
}
