#pragma once
// The settings of one sync run, their defaults and their limits. Both front ends take
// these from here, so a default or a limit changes in this file only.

#include <string>
#include <vector>

// A lower limit of 0 is exclusive; every other limit is inclusive.
inline constexpr double kToleranceAbove = 0.0;
inline constexpr double kToleranceMax = 1.0;
inline constexpr double kFpsAbove = 0.0;
inline constexpr double kFpsMax = 1000.0;
inline constexpr int kFrameSideMin = 1;
inline constexpr int kFrameSideMax = 100000;
inline constexpr int kSoundStreamMax = 64;

struct RunSettings {
  double tolerance = 0.99;  // threshold decay per 24 ms frame of the fingerprints, factor
  float fps = 25.0f;        // sequence frame rate, frames per second
  int width = 1920;         // Premiere Pro sequence frame width, pixels
  int height = 1080;        // Premiere Pro sequence frame height, pixels
  int premiere = 0;         // 1: Premiere Pro sequence attributes; 0: none
  bool refine = true;       // refine the offsets of synced pairs below one frame
  bool drift_correct = true;  // resample drifting audio-only files onto the reference clock
  // Of files with several sound streams, the 1-based one to analyse where a file has it;
  // 0: the one with the most signal.
  int sound_stream = 0;
  // A file of the device whose sound goes with every camera's picture in its sync group,
  // as the file list names it; empty: each group's own (matching/main_sound.h).
  std::string main_sound = {};
  // Besides the files marked as one device, take files for one device by what they say of
  // it (media/device_proposal.h); the marked groups are kept as they are.
  bool find_devices = false;
  // Per camera clip, a copy of its file with the main sound (engine/media_copies.h).
  bool write_media = false;

  bool operator==(const RunSettings&) const = default;
};

// Checked on doubles so that a typed 1000.00001 is not rounded into range as a float.
constexpr bool tolerance_allowed(double tolerance) {
  return tolerance > kToleranceAbove && tolerance <= kToleranceMax;
}
constexpr bool fps_allowed(double fps) { return fps > kFpsAbove && fps <= kFpsMax; }
constexpr bool frame_side_allowed(int pixels) {
  return pixels >= kFrameSideMin && pixels <= kFrameSideMax;
}
constexpr bool premiere_allowed(int premiere) { return premiere == 0 || premiere == 1; }
constexpr bool sound_stream_allowed(int stream) { return stream >= 0 && stream <= kSoundStreamMax; }

// One sentence for the user on why these settings cannot make a run; empty when they can.
std::string settings_problem(const RunSettings& settings);

// The entry of `files` that is the file `path` names (through a link or another relative
// path too), for RunSettings::main_sound; `problem` is one sentence for the user when the
// file cannot be read or is none of them, and the entry then empty.
struct MainSoundEntry {
  std::string entry;
  std::string problem;
};
MainSoundEntry main_sound_entry(const std::string& path, const std::vector<std::string>& files);
