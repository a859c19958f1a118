#pragma once
class DetachedProgram;

// The result model of a run, built once and handed on: what the decision found for every
// pair in sync, and the timeline the documents are written from.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// finalcut's summary of one match list. Offsets are seconds (the shorter file's time
// minus the longer file's), in the hundredths the match words carry.
struct OffsetSummary {
  static constexpr float kNoOffset = 100000000.0f;

  float offset = kNoOffset;           // the best-supported candidate
  int sections = 1;                   // sections holding its hits
  float most_hit_offset = kNoOffset;  // the candidate with the most hits
  int most_hits = 1;                  // its hits
  int hits = 1;                       // hits of the best-supported candidate
  std::uint64_t range = 1;            // sections from its first to its last
  int score = 1;                      // its weighted support
  // The values above are what a list without any qualifying candidate gets.

  bool operator==(const OffsetSummary&) const = default;
};

// One refinement window's measurement: a sound `at` seconds into the shorter file is
// `offset` seconds later there than in the longer file.
struct OffsetSample {
  double at = 0.0;
  double offset = 0.0;
};

// One pair found in sync.
struct PairResult {
  int shorter = -1;           // entry position of the shorter recording
  int longer = -1;            // entry position of the longer one
  double offset = 0.0;        // seconds: a sound's time in `shorter` minus its time in `longer`
  int sections = 0;           // sections supporting the decided offset
  float confidence = 0.0f;    // sections of overlap per supporting section
  int hits = 0;               // hits of the most-hit candidate
  bool refined = false;       // offset measured below one frame; otherwise as decided
  double drift_ppm = 0.0;     // clock drift of `shorter` against `longer`, as measured
  int good_windows = 0;       // refinement windows the offset rests on
  bool second_look = false;   // turned down by the decision, found by checking its candidates
  // Not refined: refined pairs already place both files, within the refinement's reach of
  // the decided offset, and the pair could add nothing to them.
  bool implied = false;
  std::vector<OffsetSample> windows;  // the good windows the offset rests on
};

// Where a file's media time starts by its own clock: the timecode of its first picture
// (QuickTime and MP4 timecode tracks, MXF) or the time reference of a Broadcast WAV.
struct StartTimecode {
  std::string text;         // as it is shown: "10:00:00:00", drop frame "01:00:00;00"; empty: none
  std::int64_t num = 0;     // the start, seconds since midnight: num / den exactly
  std::int64_t den = 1;
  bool present() const { return !text.empty(); }
  double seconds() const { return static_cast<double>(num) / static_cast<double>(den); }
};

// One file on a timeline.
struct TimelineMember {
  // Frame rates from this one up mark a file without video.
  static constexpr float kAudioOnlyRate = 100.0f;

  int entry = -1;            // position in the file list
  std::string path;          // as picked (UTF-8)
  int device = -1;           // entry position of its device's first file: one per device
  float frame_rate = 0.0f;   // video frames per second; 999 for a file without video
  float duration = 0.0f;     // whole seconds of audio
  double start = 0.0;        // seconds after the group's earliest member
  // The same placement carried in double precision all the way from the pair offsets:
  // the four classic documents keep `start`, the newer timelines place by this one.
  double exact_start = 0.0;
  double length = 0.0;       // seconds of sound, to the analysis sample
  // Seconds from the file's first picture to its sound's first sample (negative: the sound
  // starts first; 0 without video). Placements are the sound's; the documents start the
  // clip where the file starts for an editor.
  double sound_at = 0.0;
  StartTimecode timecode;    // the media time its first picture (or sample) has
  int sound_streams = 0;     // sound streams the file has; 0 when it could not be read
  int channels = 0;          // channels of all of them
  int sound_stream = -1;     // the container's number of the one analysed, of several; else -1
  int sound_channel = -1;    // its channel analysed alone (0-based), the others silent; else -1
  // The pair that placed this member: the partner's entry (for the member the group was
  // placed from, the partner of its first pair), this member's drift against the
  // partner's clock, and whether that offset was measured below one frame.
  int placed_by = -1;
  double drift_ppm = 0.0;
  bool refined = false;
  bool second_look = false;
  // Its device's clock against the group's reference device: how many ppm faster it runs
  // (a sound t seconds in sits at exact_start + t / (1 + rate_ppm·1e-6) on the timeline).
  double rate_ppm = 0.0;
  bool reference_clock = false;  // of the group's reference device
  // The copy of its sound resampled onto the reference clock, which the newer timelines
  // place instead of `path`; empty when it has none.
  std::string corrected;
  // Its sound's outline for the result view (media/envelope.h), taken while the analysis
  // WAV exists; empty outside sync groups.
  std::vector<float> envelope;
  std::string maker_model;  // the device its tags name ("Sony ILCE-7M3"); empty when they do not

  bool audio_only() const { return frame_rate >= kAudioOnlyRate; }
};

// One device of a sync group, as its clock was solved.
struct DeviceClock {
  int device = -1;              // entry position of the device's first file
  double start = 0.0;           // seconds: where its first file starts, earliest member at 0
  double rate_ppm = 0.0;        // how much faster than the reference's its clock runs
  double rate_error_ppm = 0.0;  // one standard error of that rate
  int pairs = 0;                // pairs with one of its files that the solution used
  double residual_ms = 0.0;     // RMS of those pairs' window offsets against the solution
  bool reference = false;
};

// A pair in sync that the clocks left out, and by how much it disagreed with the rest.
struct DroppedPair {
  int shorter = -1;
  int longer = -1;
  double disagreement_ms = 0.0;
};

// Members of one sync group, in ascending entry position.
struct SyncGroup {
  std::vector<TimelineMember> members;
  std::vector<DeviceClock> clocks;  // in ascending device; empty when they were not solved
  std::vector<DroppedPair> dropped;
  // The device whose sound goes with every camera's picture (matching/main_sound.h);
  // -1: none, for a group without a camera or without a sound to give it.
  int main_sound = -1;
};

struct Timeline {
  std::vector<SyncGroup> groups;
  std::vector<TimelineMember> unsynced;  // media entries in no group, start 0
};

// A file whose sound could not be read, and the transcoder's last word on it.
struct UnreadableFile {
  int entry = -1;
  std::string reason;
};

// Two files of a pair in sync that both carry a timecode: whether their clocks agree with
// where the sound puts them.
struct TimecodeCheck {
  int shorter = -1, longer = -1;  // entry positions, as in the pair
  double difference_s = 0.0;      // the pair's offset less the offset their timecodes give
  double frame_s = 0.0;           // one frame of the coarser picture: how close is agreeing
  bool agrees() const { return difference_s <= frame_s && difference_s >= -frame_s; }
};

// Files taken for one device by what they say of it rather than by the user's marking:
// the sound may still prove them two devices.
struct FoundDevice {
  std::vector<int> entries;  // file-list positions, in recording order
  // Per entry, the position of its take's first file: the tracks of one take of a
  // recorder are recorded at once, the takes one after another.
  std::vector<int> takes;
  std::string name;          // make and model as the files give them; empty when they do not
  std::string reason;        // why: "same serial", "same model, numbered, one folder"
};

// Everything a run found, for the front ends.
struct RunResult {
  std::vector<std::string> entries;      // the file list as run, markers included
  std::vector<PairResult> pairs;         // in the order they were decided
  Timeline timeline;
  std::vector<UnreadableFile> unreadable;
  std::vector<TimecodeCheck> timecode_checks;  // per pair in sync whose files both have one
  std::vector<std::string> notices;      // what the user should know of a run that went on
  // The devices found from the files (RunSettings::find_devices), as the sound left them,
  // and why files that looked like one device were not taken for one.
  std::vector<FoundDevice> devices;
  std::vector<std::string> devices_refused;
  std::vector<std::string> documents;    // absolute paths of the documents written
  std::vector<std::string> media;        // absolute paths of the synced media files written
  // The file manager started on the documents' folder, running on its own; null when
  // none was asked for. Shared, so that the result stays a value to copy.
  std::shared_ptr<DetachedProgram> folder_viewer;
  std::string shown_folder;              // the folder it was given
  std::string error;                     // why the run could not be done; empty when it could
};
