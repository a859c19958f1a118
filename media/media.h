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

// The transcoder command for one entry, as text, as the console shows it per entry
// (console_safe). It is never given to a shell: the program runs from an argument vector.
std::string transcoder_command_text(const std::string& entry);

// Writes the 8000 Hz mono 16-bit analysis WAV of every entry that is not a marker,
// next to its source, running up to `max_transcoders` transcoders at once (0: one per
// core, worker_count()). Returns the analysis names of all entries in order. Console
// lines (the command text per entry), log lines and progress ("transcode", i, n: the
// i-th of n files, markers not counted) come in entry order. A failed transcoder leaves
// one log line naming the entry and its exit status and no analysis WAV; the run goes on. `transcoded(i)`, when given, is called for
// every entry (markers too) as soon as its transcoder has exited, on any thread, so later
// work on the file can start while other files are still being transcoded.
std::vector<std::string> resemplirajgi8000(std::vector<std::string> files,
                                           const ProgressFn& progress = {},
                                           int max_transcoders = 0,
                                           const std::function<void(int)>& transcoded = {});

// Names the MediaInfo library to load instead of libmediainfo.so.0; read once per
// process. Only tests set it, to run as on a machine without the library.
inline constexpr const char* kMediaInfoLibraryVariable = "BRENVIK_MEDIAINFO_LIBRARY";

// Whether the MediaInfo library could be loaded (tried once per process).
bool mediainfo_available();

// MediaInfo's frame rate of the first video stream as text ("25.000"), "" for a file
// without video or that cannot be opened, or the library's error text when the
// library cannot be loaded.
std::string getmediainfo(std::string path);

// Frame-rate list: "0" for markers, getmediainfo() otherwise, then "999" for every text
// of at most one character. Without the library the rates are read in the same form
// with ffprobe (the one beside the program Brenvik.app/ffmpeg points at, else the one on
// PATH), and a log line and a console line say so.
std::vector<std::string> framerate_list(const std::vector<std::string>& files);

// Removes the analysis WAVs a run made; failures (markers, missing files) are ignored.
void remove_analysis_wavs(const std::vector<std::string>& analysis);
