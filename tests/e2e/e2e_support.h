#pragma once
// The end-to-end suites' rulers: generated events with their truth, whole runs, and
// what the timeline documents say about where each file sits.

#include <csignal>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace e2e {

// One row of a generated event's manifest.
struct TrueFile {
  std::string name;       // file name inside the event folder
  std::string device;     // files sharing a device were recorded one after another on it
  std::string event;      // which event the device heard
  double start_s = 0;     // event time of the file's first sample
  double duration_s = 0;  // event time the file spans
  double drift_ppm = 0;
};

// Runs brenvik-make-event quietly into `out_dir`, one device description per entry;
// returns its exit status.
int make_event(const std::string& out_dir, const std::vector<std::string>& devices);

// The manifest of the event in `dir`, by file name.
std::map<std::string, TrueFile> read_manifest(const std::string& dir);

// Seconds a sound at event time `event_s` lies into the file.
double file_time(const TrueFile& f, double event_s);

// The span of event time both files cover; negative when they miss each other.
double overlap_s(const TrueFile& a, const TrueFile& b);

// Where a sound sits in `shorter` minus where it sits in `longer`, taken in the middle
// of their common time (drift makes it creep by milliseconds over minutes).
double true_offset(const TrueFile& shorter, const TrueFile& longer);

// A generated event synced once by brenvik-sync, its timelines in a folder of their own.
struct SyncedEvent {
  testing_support::TempRunDir dir;  // the run folder; the event is in dir/event
  std::map<std::string, TrueFile> truth;
  int status = -1;     // brenvik-sync's exit status; -1 when the event could not be made
  std::string report;  // what it printed
  std::string out;     // where it wrote the timelines
};

// Makes the event of `devices` and syncs it with --quiet --no-open --out: `picked` names
// its files in order ("--device" and "--end" pass as they are); empty, every file of the
// manifest.
std::unique_ptr<SyncedEvent> sync_event(const std::vector<std::string>& devices,
                                        const std::vector<std::string>& picked = {});

// Whether the environment variable asks for the long version of a suite ("1").
bool long_version(const char* variable);

// Runs argv[0] (a path) with stdin on /dev/null and stdout and stderr into `output_path`,
// sending it `signal` after `interrupt_after_ms` when that is not negative; returns the exit
// status, 128 + signal when killed, 127 when it could not be started.
int run_capturing(const std::vector<std::string>& argv, const std::string& output_path,
                  int interrupt_after_ms = -1, int signal = SIGINT);

// One line of brenvik-sync's pair report.
struct FoundPair {
  std::string shorter, longer;  // file names
  double offset_s = 0;          // a sound's time in `shorter` minus its time in `longer`
};

std::vector<FoundPair> parse_pairs(const std::string& report);

// A clip item of a sequence, its start in frames.
struct ClipItem {
  std::string file_id;
  double start = 0;
};

struct Sequence {
  std::vector<ClipItem> video, audio;
};

// A master clip: its name element and the file it refers to. Both are taken as written:
// the events' paths need neither entities nor percent escapes.
struct MasterClip {
  std::string name;  // element text
  std::string file_id;
  std::string path;  // the path URL without its file://localhost prefix
};

// What an xmeml document (either flavour) holds.
struct Timeline {
  std::vector<MasterClip> clips;
  std::vector<Sequence> sequences;

  // The path of the master clip with this file id; "" when there is none.
  std::string path_of(const std::string& file_id) const;
  // Whether a master clip refers to a file with this name.
  bool names_file(const std::string& file_name) const;
};

Timeline parse_timeline(const std::string& xml);

// Where each sequence puts its members: file name → start in seconds. Frames count at
// `fps` for members with pictures and at whole frames (fps truncated) for audio-only
// ones.
std::vector<std::map<std::string, double>> member_starts(const Timeline& t, double fps);

// The timeline documents a run writes, and where: below the run folder.
inline constexpr const char* kDocuments[] = {"SYNCED_fcp.XML", "UNSYNCED_fcp.XML",
                                             "SYNCED_premierePro.XML", "UNSYNCED_premierePro.XML"};
inline std::string document_path(const std::string& run_dir, const std::string& name) {
  return run_dir + "/Brenvik.app/SYNCED/" + name;
}

// Where a newer timeline puts a file's media start, in seconds from the timeline's start.
struct PlacedClip {
  std::string file;  // file name of the recording it stands for
  bool video = false;
  double start = 0;
  std::string media;       // the path of the media it plays (OpenTimelineIO only)
  bool corrected = false;  // that media is a drift-corrected copy (OpenTimelineIO only)
};

// Every clip of every timeline of an OpenTimelineIO document, by walking each track's
// gaps and clips as a reader would; throws on text that is not JSON.
std::vector<std::vector<PlacedClip>> otio_placements(const std::string& json);

// Every clip of an MLT document's main tractor: its playlist's blanks and entries in
// frames of the profile, less the in point, plus the delay a clip's filter adds.
std::vector<PlacedClip> mlt_placements(const std::string& xml);

// The playlist id of every file's sound track in an MLT document, by media file name.
std::map<std::string, std::string> mlt_sound_tracks(const std::string& xml);

// Whether the file is well-formed: XML by xmllint, an OpenTimelineIO document (.otio) as JSON.
bool well_formed(const std::string& path);

// Size and hash of a file's bytes: equal before and after means untouched.
struct Fingerprint {
  size_t size = 0;
  size_t hash = 0;
  bool operator==(const Fingerprint&) const = default;
};

// The names of the entries in a folder, sorted.
std::vector<std::string> folder_listing(const std::string& dir);

// Every entry of a folder with its fingerprint: equal before and after means nothing
// was added, removed or changed.
std::map<std::string, Fingerprint> folder_snapshot(const std::string& dir);

}  // namespace e2e
