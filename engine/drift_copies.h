#pragma once
// Drift-corrected copies: the sound of every audio-only member whose clock would carry its
// end off the picture, resampled onto its group's reference clock.

#include "core/results.h"
#include "core/types.h"

#include <string>
#include <vector>

// The folder inside the output folder that holds the copies.
inline constexpr const char* kCorrectedFolder = "corrected";

// Whether `member` of `group` gets a copy at `fps`: it has no video, its device is not the
// reference, its clock moves its end by more than a quarter of a frame, and that movement
// is known to better than a quarter of a frame.
bool needs_correction(const TimelineMember& member, const SyncGroup& group, float fps);

// Writes every copy the timeline needs into `output_folder`/corrected (at most `workers`
// at once; 0: one per core) from the sources by `transcoder`, and names each in its
// member's `corrected`; a copy of the same name from an earlier run is replaced, nothing
// else in the folder is touched. A copy that cannot be written leaves its member on the original and returns one sentence for the
// user; the run goes on. Progress ("correct", i, n) counts copies. Throws RunStopped when
// a stop is requested. A copy that `cache` knows to be in place already, as this build
// writes it, is left as it is.
class RunCache;
std::vector<std::string> write_corrected_copies(Timeline& timeline, const std::string& output_folder,
                                                const std::string& transcoder, float fps,
                                                const ProgressFn& progress = {}, int workers = 0,
                                                RunCache* cache = nullptr);
