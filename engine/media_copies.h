#pragma once
// The synced media files: per camera clip of a sync group with a main sound, the camera's
// file with the main sound cut to it on the camera's clock, for editors who read no
// timeline document.

#include "core/results.h"
#include "core/types.h"

#include <string>
#include <vector>

// The folder inside the output folder that holds them.
inline constexpr const char* kSyncedMediaFolder = "synced-media";

// What opens them, as the documents list says it of every document.
inline constexpr const char* kSyncedMediaApplications =
    "any editor or player: the main sound first, the camera's own second";

struct MediaCopies {
  std::vector<std::string> written;  // absolute paths, in the order of the camera clips
  std::vector<std::string> notices;  // per file: what the user should know of it
};

// Writes one file per camera clip (a member with video of a device other than the main
// sound's) into `output_folder`/synced-media, named as the camera's file; a name taken,
// by this run or by a file already there, gets " (2)", " (3)" …, so that nothing there is
// replaced. A clip the main sound does not reach at all gets no file. At most `workers`
// at once (0: one per core), by `transcoder`; progress (kStageMedia, i, n) counts files.
// A file that cannot be written leaves nothing behind and a notice; the run goes on.
// Throws RunStopped when a stop is requested.
MediaCopies write_media_copies(const Timeline& timeline, const std::string& output_folder,
                               const std::string& transcoder, const ProgressFn& progress = {},
                               int workers = 0);
