#pragma once
// Copies of a recording's sound moved onto the reference device's clock.

#include <functional>
#include <string>

// A device whose clock runs `device_ppm` fast against the reference clock records, in a
// span of reference time T, T * (1 + device_ppm * 1e-6) of its own time.
// Writes to `corrected_wav` the sound of `source` resampled onto the reference clock:
// the copy's sample k holds the source's sound at source time (k / rate) * (1 + device_ppm*1e-6),
// so the copy lasts source_length / (1 + device_ppm*1e-6) and plays in step with the reference.
// Same sample rate and channel count as the source; same bit depth for PCM WAV/AIFF sources
// (16/24/32-bit int, float), 24-bit PCM WAV for compressed sources (MP3, AAC/M4A, FLAC, Ogg,
// video files' sound); RF64 instead of WAV only for a copy past 4 GB. libsndfile reads the
// lossless containers (WAV, AIFF, FLAC, ...); everything else, MP3 and Ogg included, is
// decoded by `transcoder` (the path of ffmpeg), its first audio stream.
// Returns an empty string on success, else one sentence why (also for |device_ppm| above
// 10000), leaving no file behind; the source is only read. `progress` gets the share of the
// source resampled, 0 to 1. Throws RunStopped, after removing what it wrote, when a stop is
// requested.
std::string write_clock_corrected(const std::string& transcoder, const std::string& source,
                                  double device_ppm, const std::string& corrected_wav,
                                  const std::function<void(double)>& progress = {});
