#pragma once
// Offset decision: summarise a match list and judge the pair.

#include "core/results.h"
#include "core/types.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

OffsetSummary finalcut(const MatchList& list);

// What finalcut made of a pair's list, with what it printed. It reads only the words'
// sections and offset codes, so it holds for the same two files' list at any positions.
struct JudgedList {
  OffsetSummary summary;
  std::string console_text;
};

// finalcut of `list`, what it printed captured.
JudgedList judged_list(const MatchList& list);

// Judgements made before of the same two files' list: `take` gives the one of the pair
// (longer, shorter) when it has it. It may be empty, and is called from several threads
// at once.
struct KeptJudgements {
  std::function<std::optional<JudgedList>(int longer, int shorter)> take;
};

// How much of the two recordings lies side by side once aligned by the summary's offset
// (seconds), and that overlap in sections of 1/32 of the shorter file.
struct PairOverlap {
  float presek = 0.0f;            // overlap in seconds; negative when they do not meet
  float traenje_small = 1.0f;     // the shorter duration, 1 when it is 0
  float sekcii_vo_presek = 0.0f;  // the overlap in sections
  float confidence = 0.0f;        // sections of overlap per supporting section
};
PairOverlap pair_overlap(const OffsetSummary& summary, float longer_seconds,
                         float shorter_seconds);

// The eight conditions of a pair in sync: the recordings overlap once aligned; the
// candidate's sections cover a quarter of the overlap's sections and its range more
// than a third of them; the most-hit candidate has more than two hits per second of the
// shorter file and three per second of overlap; the score exceeds ten per hit; at least
// 3 sections hold hits; and the best and most-hit offsets agree within 1 s.
bool pair_in_sync(const OffsetSummary& summary, const PairOverlap& overlap);

// The verdict on one compared pair, and what refinement later measured of it.
struct PairVerdict {
  int longer = -1;
  int shorter = -1;
  bool judged = false;  // false: too few values, or positions outside the run
  bool in_sync = false;
  OffsetSummary summary;
  PairOverlap overlap;
  std::string console_text;  // what finalcut printed, replayed in verdict order
  PairResult result;         // for pairs in sync: the decided, later refined, offset
  std::string refinement;    // refinement's log line; empty when none was tried
  std::string second_look;   // what a second look at a turned-down pair found, for the log
};

// The verdict's pair placed at `offset` seconds, with the decision's support for it;
// not refined, not found on a second look.
PairResult decided_result(const PairVerdict& v, double offset);

// Judges the slots of the pairs of n entries, one verdict per slot walked; a list
// `kept` has judged before is not judged again.
std::vector<PairVerdict> judge_pairs(const std::vector<PairSlot>& slots, int n,
                                     const std::vector<float>& durations,
                                     const KeptJudgements& kept = {});

// Logs every verdict, in slot order, and shows the pairs found on the console. The
// refinement lines follow their pairs.
void log_verdicts(const std::vector<PairVerdict>& verdicts,
                  const std::vector<std::string>& analysis);

// The results of the pairs in sync, in slot order.
std::vector<PairResult> pairs_in_sync(const std::vector<PairVerdict>& verdicts);
