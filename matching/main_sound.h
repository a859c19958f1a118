#pragma once
// The main sound of a sync group: the one device whose sound goes with every camera's
// picture in the documents that are ready to cut.

#include "core/results.h"

#include <string>
#include <vector>

// Decibels between the loud and the quiet stretches of a WAV (the 95th against the 10th
// percentile of its 50 ms powers): a room's floor against what was recorded above it.
// 0 for a WAV that cannot be read or holds less than a stretch.
double signal_to_noise_db(const std::string& wav_path);

// Seconds of the cameras' clips (members with video, other than the device's own) that
// the device's clips cover, by their places on the group's timeline.
double camera_time_covered(const SyncGroup& group, int device);

// Sets every group's main_sound: the device of `chosen` (a path as the file list gives
// it) in the group that holds it; elsewhere the audio-only device covering most of the
// cameras' time, a tie going to the higher `snr_db` (per entry, length-weighted over the
// device's files). A group without a camera, or without an audio-only device covering
// any of it, gets none. Returns a sentence for the user when `chosen` is in no group;
// empty otherwise.
std::string choose_main_sounds(Timeline& timeline, const std::vector<double>& snr_db,
                               const std::string& chosen);
