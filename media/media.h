#pragma once
// Media preparation: analysis WAVs through the bundled transcoder, frame rates.

#include "core/types.h"

#include <functional>
#include <string>
#include <vector>

// Appended to the whole entry text (extension included) to name its analysis WAV.
inline constexpr const char* kAnalysisSuffix = "_temporary_file_to_be_deleted.wav";

// entry + kAnalysisSuffix, for every entry (markers included).
std::vector<std::string> analysis_names(const std::vector<std::string>& files);

// The transcoder command for one entry, as text, as the console shows it per entry.
// It is never given to a shell: the program runs from an argument vector.
std::string transcoder_command_text(const std::string& entry);

// Writes the 8000 Hz mono 16-bit analysis WAV of every entry that is not a marker,
// next to its source, running up to `max_transcoders` transcoders at once (0: one per
// core, worker_count()). Returns the analysis names of all entries in order. Console
// lines (the command text per entry), log lines and progress ("transcode", i, n) come
// in entry order. A failed transcoder leaves one log line naming the entry and its exit
// status and no analysis WAV; the run goes on. `transcoded(i)`, when given, is called for
// every entry (markers too) as soon as its transcoder has exited, on any thread, so later
// work on the file can start while other files are still being transcoded.
std::vector<std::string> resemplirajgi8000(std::vector<std::string> files,
                                           const ProgressFn& progress = {},
                                           int max_transcoders = 0,
                                           const std::function<void(int)>& transcoded = {});

// MediaInfo's frame rate of the first video stream as text ("25.000"), "" for a file
// without video or that cannot be opened, or the library's error text when the
// library cannot be loaded.
std::string getmediainfo(std::string path);

// Frame-rate list: "0" for markers, getmediainfo() otherwise, then "999" for every
// text of at most one character.
std::vector<std::string> framerate_list(const std::vector<std::string>& files);

// Removes the analysis WAVs a run made; failures (markers, missing files) are ignored.
void remove_analysis_wavs(const std::vector<std::string>& analysis);
