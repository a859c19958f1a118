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
#include <utility>

namespace {

using match_word::code_to_seconds;
using match_word::offset_code;

// How close to a candidate the words that score for it lie: the strictest of the five
// scoring tests (score_candidate) asks a word and the two after it to lie within
// kTightWindow, the next two within kNearWindow; the last two ask the word alone to lie
// within 1, or on the candidate.
constexpr int kNearWindow = 4;
constexpr int kTightWindow = 2;

constexpr int kNoCandidate = 99999999;

// A list shorter than this cannot carry a verdict.
constexpr std::size_t kMinimumValues = 10;
constexpr std::size_t kAsterisks = 184;
constexpr const char* kPairLineGap =
    "                                               ";  // 47 blanks

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

// Position r of the list with what the five scoring tests read there: its own code and
// section and the codes of the two words after it.
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

}  // namespace

// Every test of a candidate needs the word at r within 4 of it, so only the positions
// whose own code lies in [c - 4, c + 4] can score. Visiting the positions ordered by
// their code, each is looked at by at most nine candidates, instead of every position
// by every candidate. The neighbours r + 1 and r + 2 are still those of the list order.
OffsetSummary finalcut(const MatchList& given) {
  // The matching hands its lists over sorted; sorting a copy again took 8 % of judging them.
  MatchList sorted;
  if (!std::is_sorted(given.begin(), given.end())) {
    sorted = given;
    std::sort(sorted.begin(), sorted.end());
  }
  const MatchList& list = sorted.empty() ? given : sorted;
  const std::vector<int> candidates = candidate_codes(list);

  std::vector<Neighbourhood> positions;
  if (list.size() >= 3) {
    positions.reserve(list.size() - 2);
    for (std::size_t r = 0; r + 2 < list.size(); ++r)
      positions.push_back({offset_code(list[r]), offset_code(list[r + 1]), offset_code(list[r + 2]),
                           match_word::section(list[r])});
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

  if (best == kNoCandidate) return OffsetSummary{};
  // Few hits spread over a wide range are chance: their score is not to be trusted.
  if (most_hits <= 2 && static_cast<std::uint64_t>(best_score.hits) < 3 * best_score.range)
    best_score.score = 1;
  console() << "rez.... vo loop\n";
  OffsetSummary out;
  out.offset = code_to_seconds(best);
  out.sections = best_score.sections;
  out.most_hit_offset = code_to_seconds(most_hits_code);
  out.most_hits = most_hits;
  out.hits = best_score.hits;
  out.range = best_score.range;
  out.score = best_score.score;
  return out;
}

JudgedList judged_list(const MatchList& list) {
  std::ostringstream text;
  JudgedList judged;
  {
    ConsoleCapture capture(text);
    judged.summary = finalcut(list);
  }
  judged.console_text = text.str();
  return judged;
}

PairOverlap pair_overlap(const OffsetSummary& summary, float longer_seconds,
                         float shorter_seconds) {
  PairOverlap out;
  const float offset = summary.offset;
  out.presek = offset > 0.0f ? shorter_seconds - std::fabs(offset)
                             : std::min(longer_seconds - std::fabs(offset), shorter_seconds);
  out.traenje_small = shorter_seconds == 0.0f ? 1.0f : shorter_seconds;
  out.sekcii_vo_presek = out.presek / (1.0f + out.traenje_small * match_word::kSectionShare);
  out.confidence = out.sekcii_vo_presek / (static_cast<float>(summary.sections) + 1.0f);
  return out;
}

bool pair_in_sync(const OffsetSummary& summary, const PairOverlap& overlap) {
  const int sections = summary.sections;
  const int range = static_cast<int>(static_cast<float>(summary.range));
  const int hits = summary.hits;
  const int score = summary.score;
  // The best candidate is often a small cluster head just below the true offset; the
  // support a pair needs in hits is read from the candidate with the most hits.
  const int most_hits = summary.most_hits;
  // The sections of overlap per section of the candidate's range must stay under 3.
  const int spread = (sections > 8 && range >= sections) ? range + 2 : range;
  const float per_spread = spread == 0 ? 1.0f : static_cast<float>(spread);
  // Recordings that do not overlap once aligned share no sound, and a true offset is
  // supported across the overlap: a chance cluster of a few sections must not pass for
  // one now that the hit tests read the most-hit candidate.
  const bool overlapping = overlap.presek > 0.0f;
  const bool supported_across = static_cast<float>(sections) >= overlap.sekcii_vo_presek / 4.0f;
  return overlapping && supported_across && overlap.sekcii_vo_presek / per_spread < 3.0f &&
         static_cast<float>(most_hits) > 2.0f * overlap.traenje_small && score > 10 * hits &&
         sections >= 3 &&
         std::fabs(std::fabs(summary.offset) - std::fabs(summary.most_hit_offset)) < 1.0f &&
         static_cast<float>(most_hits) > 3.0f * overlap.presek;
}

PairResult decided_result(const PairVerdict& v, double offset) {
  PairResult r;
  r.shorter = v.shorter;
  r.longer = v.longer;
  r.offset = offset;
  r.sections = v.summary.sections;
  r.confidence = v.overlap.confidence;
  r.hits = v.summary.most_hits;
  return r;
}

std::vector<PairVerdict> judge_pairs(const std::vector<PairSlot>& slots, int n,
                                     const std::vector<float>& durations,
                                     const KeptJudgements& kept) {
  // Slots are laid out for the pairs of an even number of entries.
  const std::size_t m = static_cast<std::size_t>(std::max(n, 0) + (n % 2 != 0 ? 1 : 0));
  const std::size_t walked = std::min(slots.size(), m * (m + 1) / 2);
  const std::size_t known_entries = std::min(static_cast<std::size_t>(std::max(n, 0)), durations.size());

  std::vector<PairVerdict> verdicts(walked);
  // Each pair is judged on its own slot alone, the longest lists in a few milliseconds:
  // a few hundred pairs to a job keeps both cores busy on shoots of tens of thousands.
  const auto judge = [&](std::size_t k) {
    const PairSlot& slot = slots[k];
    PairVerdict& v = verdicts[k];
    v.longer = slot.longer;
    v.shorter = slot.shorter;
    const bool known = slot.longer >= 0 && slot.shorter >= 0 &&
                       static_cast<std::size_t>(slot.longer) < known_entries &&
                       static_cast<std::size_t>(slot.shorter) < known_entries;
    if (slot.list.size() < kMinimumValues || !known) return;
    v.judged = true;
    if (std::optional<JudgedList> judged = kept.take ? kept.take(slot.longer, slot.shorter) : std::nullopt) {
      v.summary = judged->summary;
      v.console_text = std::move(judged->console_text);
    } else {
      JudgedList made = judged_list(slot.list);
      v.summary = made.summary;
      v.console_text = std::move(made.console_text);
    }
    v.overlap = pair_overlap(v.summary, durations[static_cast<std::size_t>(slot.longer)],
                             durations[static_cast<std::size_t>(slot.shorter)]);
    v.in_sync = pair_in_sync(v.summary, v.overlap);
    if (v.in_sync) v.result = decided_result(v, static_cast<double>(v.summary.offset));
  };
  constexpr std::size_t kPairsPerJob = 256;
  const int jobs = static_cast<int>((walked + kPairsPerJob - 1) / kPairsPerJob);
  ordered_parallel_for(
      jobs, worker_count(),
      [&](int job) {
        const std::size_t first = static_cast<std::size_t>(job) * kPairsPerJob;
        for (std::size_t k = first; k < std::min(walked, first + kPairsPerJob); ++k) judge(k);
      },
      [](int) {});
  return verdicts;
}

void log_verdicts(const std::vector<PairVerdict>& verdicts,
                  const std::vector<std::string>& analysis) {
  const std::string asterisks(kAsterisks, '*');
  const auto f = [](auto value) { return float2string(static_cast<float>(value)); };
  for (const PairVerdict& v : verdicts) {
    if (!v.judged) {
      logthis("<10 hits");
      continue;
    }
    const std::string& name_b = analysis[static_cast<std::size_t>(v.longer)];
    const std::string& name_c = analysis[static_cast<std::size_t>(v.shorter)];
    logthis(name_b + " *  " + name_c);
    console() << v.console_text;

    const OffsetSummary& F = v.summary;
    const float presek = v.overlap.presek;
    const float sekcii_vo_presek = v.overlap.sekcii_vo_presek;
    const std::string summary = f(F.offset) + "*" + f(F.sections) + "*" + f(F.most_hit_offset) +
                                "*" + f(F.most_hits) + "*" + f(F.hits) + "*" + f(F.range);
    const std::string verdict_tail = name_c + "  i " + name_b + "  so ofset:" + f(F.offset) +
                                     " sekundi vo " + f(F.sections) +
                                     "regioni so totalna brojka niz site regioni " + f(F.most_hits);
    logthis(" NE SE VO SYNC !!!!!!!!!!!presek:" + f(presek) +
            "traenje_small:" + f(v.overlap.traenje_small) + kPairLineGap + "sigurnost:" +
            f(F.score) + "  raspon:" + f(F.range) + " sekcii vo presek:" + f(sekcii_vo_presek) +
            "  " + summary + "  ---->>>>>>>>>NEMA SYNC " + verdict_tail + "->");
    std::istringstream looks(v.second_look);
    for (std::string line; std::getline(looks, line);) logthis(line);
    if (!v.in_sync) continue;

    // A pair found on the second look is in sync at its checked offset, not the chosen one.
    const std::string found_tail =
        v.result.second_look
            ? name_c + "  i " + name_b + "  so ofset:" + f(v.result.offset) + " sekundi vo " +
                  f(F.sections) + "regioni so totalna brojka niz site regioni " + f(F.most_hits)
            : verdict_tail;
    const std::string found = "NAJDEN SYNC MEGJU " + found_tail + "-> treba da se zapise vo CSV" +
                              (v.result.second_look ? " (second look)" : "");
    logthis(asterisks);
    logthis(asterisks);
    logthis("totalhits:" + f(F.hits) + " presek:" + f(presek) + " sigurnost:" + f(F.score) +
            "  raspon:" + f(F.range) + " sekcii vo presek:" + f(sekcii_vo_presek) + "  " +
            summary + "  ---->>>>>>>>>" + found);
    logthis(asterisks);
    logthis(asterisks);
    console() << console_safe(found) << '\n';
    if (!v.refinement.empty()) logthis(v.refinement);
  }
}

std::vector<PairResult> pairs_in_sync(const std::vector<PairVerdict>& verdicts) {
  std::vector<PairResult> pairs;
  for (const PairVerdict& v : verdicts)
    if (v.judged && v.in_sync) pairs.push_back(v.result);
  return pairs;
}
