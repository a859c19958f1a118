#pragma once
// Sound that repeats. Music built of one phrase played over and over lines two files up
// alike at every offset a phrase apart: the fingerprints hit every such offset about as
// often, and the refinement accepts any of them. Only what does not repeat (the room, the
// crowd, a voice over the music) tells the true offset, and it does so by a few per cent
// of the correlation at most, which the phrase's own correlation cannot reach.

#include <string>

// What the sound of a pair says about the offsets near some candidates.
struct RepeatCheck {
  bool measured = false;    // the pair could be read and compared over the searched offsets
  int rungs = 0;            // offsets that line the sound up as well as the best (within a
                            // fifth), each a hill of its own: 2 and up when the sound repeats
  double period = 0.0;      // seconds between the two nearest rungs
  double best_lag = 0.0;    // offset, to the sample, of the highest correlation of all
  double best_rung = 0.0;   // offset of the highest rung, between samples (the shorter file's
                            // time minus the longer's)
  double score = 0.0;       // its correlation, about 1 where the longer file holds the piece
  double margin = 0.0;      // how far its score stands above the next rung's
  double scatter = 0.0;     // the other rungs' scatter about their median (0: under three)
  bool stands_out = false;  // the best rung is the only one, or beats the others by more
                            // than chance moves a rung

  bool repeats() const { return rungs >= 2; }
};

// Compares the shorter file's sound where `offset` puts it against the longer file
// (offsets in seconds, shorter-file time minus longer-file time) at every offset from
// `low` to `high` and up to 20 s beyond, by band-limited cross-correlation; where the
// sound repeats, it looks again with up to a minute of the shorter file over a minute
// beyond, and where nothing stands out there, five minutes beyond. Files are read, never
// changed; never throws (measured = false).
RepeatCheck check_repeats(const std::string& shorter_wav, const std::string& longer_wav,
                          double offset, double low, double high);

// The log text, e.g. "the sound repeats every 8.00 s (7 offsets); -200.70 s stands out
// by 0.0090 (others scatter 0.0012)".
std::string repeat_log_text(const RepeatCheck& check);
