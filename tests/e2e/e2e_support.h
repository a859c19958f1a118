#pragma once
// The end-to-end suites' rulers: generated events with their truth, whole runs, and
// what the timeline documents say about where each file sits.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace e2e {

// One row of a generated event's manifest.
struct TrueFile {
  std::string name;       // file name inside the event folder
  std::string device;     // files sharing a device were recorded one after another on it
  std::string event;      // which event the device heard
  double start_s = 0;     // event time of the file's first sample
  double duration_s = 0;  // event time the file spans
  double drift_ppm = 0;
  std::string kind;  // sound, silence, noaudio or text
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

// Runs argv[0] (a path) with stdin and stderr on /dev/null and stdout into
// `stdout_path`; returns the exit status, 128 + signal when killed, 127 when it
// could not be started.
int run_capturing(const std::vector<std::string>& argv, const std::string& stdout_path);

// One line of brenvik-sync's pair report.
struct FoundPair {
  std::string shorter, longer;  // file names
  double offset_s = 0;          // a sound's time in `shorter` minus its time in `longer`
  bool refined = false;
};

std::vector<FoundPair> parse_pairs(const std::string& report);

// A clip item of a sequence, in frames.
struct ClipItem {
  std::string file_id;
  double start = 0, end = 0;
};

struct Sequence {
  std::vector<ClipItem> video, audio;
};

// A master clip: its name element and the file it refers to.
struct MasterClip {
  std::string name;  // element text, entities resolved
  std::string file_id;
  std::string path;  // from the path URL, percent escapes resolved
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

// Where each sequence puts its members: file name → start in seconds after the
// sequence's earliest member. Frames count at `fps` for members with pictures and at
// whole frames (fps truncated) for audio-only ones.
std::vector<std::map<std::string, double>> member_starts(const Timeline& t, double fps);

// xmllint's verdict: whether the file is well-formed XML.
bool well_formed(const std::string& path);

// Size and FNV-1a hash of a file's bytes: equal before and after means untouched.
struct Fingerprint {
  uintmax_t size = 0;
  uint64_t hash = 0;
  bool operator==(const Fingerprint&) const = default;
};

Fingerprint file_fingerprint(const std::string& path);

// The names of the entries in a folder, sorted.
std::vector<std::string> folder_listing(const std::string& dir);

std::string file_name(const std::string& path);

}  // namespace e2e
