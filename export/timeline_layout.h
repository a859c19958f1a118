#pragma once
// The newer timelines' shape: one timeline per sync group, one video track per device
// that recorded video and one audio track per device, every clip at its exact place.

#include "core/results.h"

#include <cstdint>
#include <string>
#include <vector>

// Samples per second of every timeline's audio, the classic documents' too: the grid the
// newer timelines place clip starts on.
inline constexpr std::int64_t kTimelineAudioRate = 48000;

// A frame rate as an exact ratio: 24000/1001 for 23.976, 30000/1001 for 29.97, 25/1.
struct ExactRate {
  std::int64_t num = 25;
  std::int64_t den = 1;
  double fps() const { return static_cast<double>(num) / static_cast<double>(den); }
};

// The NTSC rates (23.976, 29.97, 47.952, 59.94, 119.88) as n000/1001; any other rate as
// itself to the thousandth.
ExactRate exact_rate(double fps);

// "file://" + the absolute path, every byte but the unreserved ones and "/" percent-encoded.
std::string file_url(const std::string& absolute_path);

// The path made absolute against the working directory, "." and ".." resolved.
std::string absolute_path(const std::string& path);

// The timeline with every clip starting where its file starts for an editor (the first
// picture) rather than where its sound starts: a sound that comes later makes the clip
// start earlier and last longer; each group moved, when a clip would start before it, so
// that its earliest clip starts at 0. A timeline of sounds that start with their files
// comes back as it was.
Timeline from_media_starts(Timeline timeline);

struct LayoutClip {
  TimelineMember member;     // placement (exact_start, length) and the pair that placed it
  std::string name;          // the file's name
  std::string absolute;      // absolute path of the media the clip plays
  std::string url;           // file_url(absolute)
  std::string source;        // absolute path of the file it stands for
  bool corrected = false;    // plays the drift-corrected copy of `source`, whose length it has
  std::string placed_by;     // absolute path of the partner that placed it; empty if none
  // The media time of the media's start: the file's timecode, none for a corrected copy,
  // which is a file of ours without one.
  const StartTimecode& media_timecode() const {
    static const StartTimecode kNone;
    return corrected ? kNone : member.timecode;
  }
};

struct LayoutTrack {
  bool video = false;
  int device = -1;           // TimelineMember::device of its clips
  std::string name;          // device_name() of its device ("Unsynced" for loose clips)
  std::vector<LayoutClip> clips;  // in timeline order, none overlapping another
};

struct GroupLayout {
  std::string name;                 // "Sync group 1", … or "Unsynced"
  std::vector<LayoutTrack> tracks;  // the video tracks, then the audio tracks, by device
  double duration = 0.0;            // seconds to the end of the last clip
  int main_sound = -1;              // SyncGroup::main_sound
};

// A track's name for a device that recorded `files` (names, in order): a single file's
// name; for several, what their names share before the numbering ("cam_b (2 files)"),
// or the first and last names where they share too little.
std::string device_name(const std::vector<std::string>& files);

// One layout per sync group. A device's files follow one another on its tracks; a file
// that would overlap its device's previous one gets a further track of that device.
// A device whose files all name one maker and model (TimelineMember::maker_model) is
// named by them ("Sony ILCE-7M3 (3 files)"), with device_name() beside them when another
// device of the run has the same.
std::vector<GroupLayout> layout_groups(const Timeline& timeline);

// The files that synced with nothing, one after another on one video and one audio
// track, so that none of them can be taken for placed; files without readable sound
// (no length) are left out.
GroupLayout layout_unsynced(const Timeline& timeline);

// The clips of the layout's main sound device, in timeline order: its audio-only clips,
// or its video clips when the main sound is a camera's.
std::vector<const LayoutClip*> main_sound_clips(const GroupLayout& layout);

// A stretch of a sound clip cut to a camera clip, in seconds of the timeline: from
// `start` to `end`, `in` seconds into the sound clip's media.
struct SoundPiece {
  const LayoutClip* sound = nullptr;
  double start = 0.0, end = 0.0, in = 0.0;
};

// The stretches of `sounds` that the camera clip spans, in their order.
std::vector<SoundPiece> cut_to(const std::vector<const LayoutClip*>& sounds, const LayoutClip& camera);
