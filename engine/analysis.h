#pragma once
// Media preparation and fingerprinting as one step: every entry's analysis WAV, its device
// group, frame rate and landmark table. Each file is fingerprinted as soon as its
// transcoder is done, on the cores the transcoders leave idle towards the end.

#include "core/results.h"
#include "core/types.h"
#include "media/streams.h"

#include <string>
#include <vector>

// What a run knows of its entries before it matches them; every list holds one element
// per file-list entry, markers included.
struct AnalysedEntries {
  std::vector<std::string> analysis;       // analysis WAV of each entry (media/media.h)
  DeviceGroups groups;                     // entries recorded on one device
  std::vector<std::string> framerates;     // read_framerates
  bool framerates_from_mediainfo = true;   // false: they came from ffprobe
  std::vector<LandmarkTable> tables;       // reduced landmark table of each entry
  std::vector<float> durations;            // whole seconds of sound found, 0 when none
  std::vector<MediaStart> starts;          // each file's sound against its picture, its timecode
  std::vector<UnreadableFile> unreadable;  // with ffmpeg's reason
};

// Transcodes the media entries of `files` into `work_folder`, reads their device groups,
// frame rates and starts (a log line for every sound off its picture and every timecode), and fingerprints each with the masking threshold decaying by `decay` per
// frame. Log lines, console traces and progress ("transcode", then "fingerprint", i of n
// files) come in entry order, as if the entries were done one after another. A file that
// cannot be read or fingerprinted keeps a one-row table of zeros. Throws
// std::runtime_error when the work folder's disk is full, RunStopped on a stop request.
// `sound_stream` as RunSettings::sound_stream. The entries `cache` holds are taken from
// it, their analysis WAVs put in place, and neither transcoded nor fingerprinted: the
// console, the log and the progress are those of a run without it. What the run makes is
// kept in it. `probed`, when given, holds every entry's container as read already
// (media_start), which is then not read again.
class RunCache;
AnalysedEntries transcode_and_fingerprint(const std::vector<std::string>& files,
                                          const std::string& work_folder, float decay,
                                          int sound_stream, const ProgressFn& progress,
                                          RunCache* cache = nullptr,
                                          const std::vector<MediaStart>* probed = nullptr);
