#pragma once
// What one run leaves for the next (core/cache.h): of every media file what the run found
// it to be, its analysis WAV and what was read of that WAV whole, and of every pair its
// match list, what the judging made of it and the sound measurements the decision asked
// for. All of it is a function of the files' content, the settings and this build of the
// program, and is keyed by exactly those, so a run that takes it from the cache prints,
// logs and writes what it would have made itself. What depends on all pairs at once (the
// second look's choice of pairs, the groups, the clocks) is worked out afresh from them.

#include "core/cache.h"
#include "core/types.h"
#include "matching/match.h"
#include "matching/offset_decision.h"
#include "matching/sound_measures.h"
#include "media/streams.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What a run reads of one media file before matching, as it was kept.
struct CachedFile {
  MediaStart start;         // as the container was read, before a sound stream was chosen
  int chosen_stream = -1;   // the one analysed, -1 when there was no choice
  int channel_alone = -1;   // its channel analysed alone, -1 for the mix
  std::string framerate;    // as read_framerates gave it, before any container's rate
  LandmarkTable reduced;    // the reduced landmark table
  float seconds = 0.0f;     // whole seconds the fingerprint found
  std::string console_text; // the fingerprint's console lines
};

class RunCache {
 public:
  // A cache in `folder` ("" turns it off) of `limit` bytes for runs with these settings.
  RunCache(std::string folder, std::uint64_t limit, float decay, int sound_stream);

  bool enabled() const { return store_.enabled(); }

  // Reads the identity of every media entry of `files` (several at once); markers and
  // files that cannot be read get none and are never cached.
  void identify(const std::vector<std::string>& files);

  // Entry i as kept, with its analysis WAV written to `analysis_path`; nothing when it
  // was not kept whole for these settings.
  std::optional<CachedFile> take(std::size_t i, const std::string& analysis_path);

  // Keeps entry i, made by this run, and its analysis WAV read from `analysis_path`.
  void keep(std::size_t i, const CachedFile& file, const std::string& analysis_path);

  // The match lists of pairs of two identified entries, kept and taken back without
  // their positions, each with what the judging makes of it: judged as it is kept, so
  // that one entry holds both. This object must outlive the result.
  KeptLists lists();
  // The judgements of the lists lists() gave or was handed, for the judging to take.
  KeptJudgements judgements();

  // The refinement and the second look's measurements through the cache: a pair of two
  // identified entries is measured once for all runs. `analysis` and this object must
  // outlive the result.
  SoundMeasures measures(const std::vector<std::string>& analysis);

  // What `make` reads of entry i's analysis WAV (its outline, its signal to noise),
  // through the cache under `what`; made afresh, and not kept, for an entry not
  // identified. Called from several threads at once.
  std::vector<double> of_sound(std::size_t i, const std::string& what,
                               const std::function<std::vector<double>()>& make);

  // Whether `copy` holds, byte for byte, the drift-corrected copy of `source` at `rate_ppm`
  // as this build writes it: an earlier run wrote it there and kept its size and hash.
  // Resampling a long recording takes seconds; reading it back, a fraction of one.
  bool has_corrected_copy(const std::string& source, double rate_ppm, const std::string& copy) const;
  void keep_corrected_copy(const std::string& source, double rate_ppm, const std::string& copy);

  // "72 of 80 files from the cache" of the entries taken so far.
  std::string files_report(int media_files) const;
  // "3000 of 3160 match lists and 3000 of 3160 judgements of pairs from the cache";
  // empty when none was asked.
  std::string lists_report() const;
  // "1200 of 1300 sound measurements of pairs from the cache"; empty when none was asked.
  std::string measures_report() const;
  // Why the cache could not be written, once per run; empty when it could.
  std::string failure() const { return store_.first_failure(); }

  // Evicts the least recently used entries beyond the limit.
  void trim() const { store_.trim(); }

 private:
  std::string file_key(std::size_t i) const;
  bool identified(int i) const;
  // "<what>|first|second"; empty when either is.
  static std::string pair_key(const char* what, const std::string& first, const std::string& second);
  std::string list_key(int longer, int shorter) const;
  std::string copy_key(const std::string& source, double rate_ppm) const;
  std::string wav_key(std::size_t i) const;

  CacheStore store_;
  std::string settings_;           // what every key of this run shares
  std::string decay_;
  std::vector<std::string> ids_;   // per entry: "" when it is not cached
  std::atomic<int> taken_{0};
  std::atomic<int> lists_asked_{0};
  std::atomic<int> lists_kept_{0};
  std::atomic<int> judgements_asked_{0};
  std::atomic<int> judgements_kept_{0};
  struct Judged {
    JudgedList judged;
    bool from_cache = false;
  };
  std::mutex judged_mutex_;
  std::map<std::pair<int, int>, Judged> judged_;  // by (longer, shorter)
  std::atomic<int> measures_asked_{0};
  std::atomic<int> measures_kept_{0};
};

// The entry's console text with every `analysis_path` (as the console shows it) replaced by
// a mark, and back: a file's console lines name its analysis WAV, whose name holds its
// place in the run.
std::string text_without_path(const std::string& text, const std::string& analysis_path);
std::string text_with_path(const std::string& text, const std::string& analysis_path);

// The bytes of what is kept, and back; false when the bytes are not whole.
std::string cached_file_bytes(const CachedFile& file);
bool cached_file_from(std::string_view bytes, CachedFile& out);
std::string refinement_bytes(const Refinement& r);
bool refinement_from(std::string_view bytes, Refinement& out);
std::string repeat_check_bytes(const RepeatCheck& r);
bool repeat_check_from(std::string_view bytes, RepeatCheck& out);
std::string judged_list_bytes(const JudgedList& j);
bool judged_list_from(std::string_view bytes, JudgedList& out);
// A pair's list without its positions and its judgement, in one entry, and back.
std::string pair_entry_bytes(const std::vector<std::uint64_t>& unplaced, const JudgedList& judged);
bool pair_entry_from(std::string_view bytes, std::vector<std::uint64_t>& unplaced, JudgedList& judged);
// A list without its positions (ascending, as list_without_positions gives it), as the
// differences of its values in seven-bit groups, and back.
std::string unplaced_list_bytes(const std::vector<std::uint64_t>& unplaced);
bool unplaced_list_from(std::string_view bytes, std::vector<std::uint64_t>& out);
