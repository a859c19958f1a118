#pragma once
// Media preparation: analysis WAVs through the bundled transcoder, frame rates.

#include "core/types.h"

#include <functional>
#include <string>
#include <vector>

// Appended to a marker entry in the analysis list.
inline constexpr const char* kAnalysisSuffix = "_temporary_file_to_be_deleted.wav";

// Where the analysis WAVs of the entries go: "<folder>/<entry number>-<file name>.wav" for
// a media file (the name shortened to fit any file system), and for a marker the marker
// followed by kAnalysisSuffix, which is never a file (the device groups are read from it).
std::vector<std::string> analysis_names(const std::vector<std::string>& files,
                                        const std::string& folder);

// The transcoder command for one entry, as text, as the console shows it per entry.
// It is never given to a shell: the program runs from an argument vector.
std::string transcoder_command_text(const std::string& entry, const std::string& analysis,
                                    int sound_stream = -1);

// Which sound stream of each entry is analysed, when a file has several (a camera's
// internal microphone and a radio microphone): by default the one with the most signal.
struct SoundChoice {
  std::vector<int> streams;  // per entry: its number of sound streams (fewer than 2: no choice)
  std::vector<std::vector<int>> channels;  // per entry: each stream's channels (none known: 1)
  int wanted = 0;            // 1-based stream for every file that has it; 0: the loudest
  std::vector<int> chosen;   // filled in per entry: the 0-based stream analysed, -1 none chosen
  // Filled in per entry: the 0-based channel analysed alone, where the stream's others
  // record next to nothing; -1 for the mix of them all.
  std::vector<int> channel;
  // Per entry: its analysis WAV is in place already (an earlier run made it), and
  // `chosen` and `channel` say which stream and channel it holds. Such an entry shows its command but runs none.
  std::vector<bool> ready;
  // Per entry: its container's length in seconds, 0 when unknown. Short files are decoded
  // a few to one transcoder, whose start costs more than their decoding.
  std::vector<double> seconds;
};

// Writes the 8000 Hz mono 16-bit analysis WAV of every entry that is not a marker to its
// name in `analysis` (analysis_names), running up to `max_transcoders` transcoders at once
// (0: one per core, worker_count()). Returns `analysis`. Console lines (the command text
// per entry, console_safe), log lines and progress ("transcode", i, n: the i-th of
// n files, markers not counted) come in entry order. A failed
// transcoder leaves two log lines, one naming the entry and its exit status, one with
// ffmpeg's last word, and no analysis WAV; that word goes to (*failures)[i] too (empty
// for the entries that were transcoded); the run goes on. `transcoded(i)`, when given,
// is called for every entry (markers too) as soon as its transcoder has exited, on any
// thread, so later work on the file can start while other files are still being
// transcoded. Throws RunStopped when a stop is requested.
std::vector<std::string> resemplirajgi8000(std::vector<std::string> files,
                                           const std::vector<std::string>& analysis,
                                           const ProgressFn& progress = {},
                                           int max_transcoders = 0,
                                           const std::function<void(int)>& transcoded = {},
                                           std::vector<std::string>* failures = nullptr,
                                           SoundChoice* choice = nullptr);

// Names the MediaInfo library to load instead of libmediainfo.so.0; read once per
// process. Only tests set it, to run as on a machine without the library.
inline constexpr const char* kMediaInfoLibraryVariable = "BRENVIK_MEDIAINFO_LIBRARY";

// What the user is told, once per run, when frame rates come from ffprobe.
inline constexpr const char* kNoMediaInfo =
    "MediaInfo library not found: frame rates are read with ffprobe";

// Whether the MediaInfo library could be loaded (tried once per process).
bool mediainfo_available();

// MediaInfo's frame rate of the first video stream as text ("25.000"), "" for a file
// without video or that cannot be opened, or the library's error text when the
// library cannot be loaded.
std::string getmediainfo(std::string path);

// A frame-rate list's text for an entry without video.
inline constexpr const char* kNoVideoRate = "999";

// Frame-rate list: "0" for markers, getmediainfo() otherwise, then "999" for every text
// of at most one character. Without the library the rates are read in the same form
// with ffprobe (the one beside the program Brenvik.app/ffmpeg points at, else the one on
// PATH). Says nothing, so that it can run alongside other work; a stop request ends it
// between two files.
// `known`, when given, holds per entry a rate read before ("" where none was), which is
// taken as it is.
std::vector<std::string> read_framerates(const std::vector<std::string>& files,
                                         const std::vector<std::string>* known = nullptr);

// The log line and the console line that say the library is missing and ffprobe reads the
// rates; nothing when it is there.
void report_missing_mediainfo();
