#pragma once
// Copies of a camera's file with another device's sound: the same video packets, the
// other sound first, resampled onto the camera's clock and rate, the camera's own after it.

#include <functional>
#include <string>
#include <vector>

// A stretch of another recording's sound in the copy, in seconds of the camera's clock
// after its first picture.
struct SoundCut {
  std::string source;        // the recording the sound comes from
  double source_from_s = 0;  // where the stretch starts in it, by its own clock
  double at_s = 0;           // where it starts in the copy
  double length_s = 0;       // how long it lasts there
  // Seconds of the source's clock per second of the camera's: (1 + its ppm) / (1 + the
  // camera's ppm) against one reference clock.
  double stretch = 1.0;
};

struct SyncedMediaCopy {
  std::string error;          // one sentence why no copy was written; empty on success
  double uncovered_s = 0.0;   // seconds of the copy that keep the camera's own sound
  double duration_s = 0.0;    // the copy's length, the camera file's
};

// Writes `copy_path` from `camera` with `cuts` (in time order, none overlapping) as its
// first sound stream: the camera's sample rate, the cuts' channels, 24-bit PCM where the
// container carries PCM and else the camera's own sound codec; between and beyond the
// cuts the camera's own sound. Every stream of the camera follows it as it is, its sound
// streams second. Through a temporary name in the copy's folder, renamed at the end
// without replacing anything there; on failure nothing is left. `progress` gets the share
// of the copy done, 0 to 1. Throws RunStopped, after removing what it wrote, on a stop.
SyncedMediaCopy write_synced_media(const std::string& transcoder, const std::string& camera,
                                   const std::vector<SoundCut>& cuts, const std::string& copy_path,
                                   const std::function<void(double)>& progress = {});
