#pragma once
// Helpers shared by the test suites: a throw-away run folder and generated media.

#include <map>
#include <string>
#include <vector>

namespace testing_support {

// A fresh temporary folder holding Brenvik.app/{LOG,SYNCED,ffmpeg}; the process works
// in it while the object lives, and it is removed afterwards.
class TempRunDir {
 public:
  TempRunDir();
  ~TempRunDir();
  TempRunDir(const TempRunDir&) = delete;
  TempRunDir& operator=(const TempRunDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string log_text() const;  // the whole log file, "" when there is none

 private:
  std::string path_;
  std::string previous_cwd_;
};

// A stand-in file manager, first on PATH while it lives: a script named as the folder
// viewer that notes the folder it was given and then runs until it is killed, or, with
// an exit status, ends with it at once.
class StandInViewer {
 public:
  static constexpr int kNeverEnds = -1;
  explicit StandInViewer(int exit_status = kNeverEnds);
  ~StandInViewer();  // kills it when it still runs, and puts PATH back
  StandInViewer(const StandInViewer&) = delete;
  StandInViewer& operator=(const StandInViewer&) = delete;

  std::string shown() const;  // the folder it was given; "" before it started
  bool running() const;       // it has started and not ended

 private:
  std::string dir_;
  std::string path_before_;
};

// Runs the system ffmpeg quietly with these arguments (after -y -loglevel error);
// returns its exit status.
int ffmpeg(const std::vector<std::string>& args);

// A lavfi-made file at `path`: `seconds` of the audio filter graph `audio`
// (e.g. "anoisesrc=seed=3:a=0.3"), with a test picture when `video`.
bool make_media(const std::string& path, const std::string& audio, double seconds,
                bool video = false);

// Every text between `open` and the next `close` after it, in order.
std::vector<std::string> between(const std::string& text, const std::string& open,
                                 const std::string& close);

// One playlist entry of an MLT document, as melt places it: its frame plus the delay of
// its avfilter.compensationdelay (the filter's own sum, a distance over the speed of sound,
// truncated to a 48 kHz sample), less its in point.
struct MltEntry {
  std::string file;          // the producer's resource, file name only
  bool video = false;        // on a track that shows pictures
  double start = 0.0;        // seconds
  double end = 0.0;          // seconds: the end of its last frame
  long frames = 0;           // frames it plays
  long producer_length = 0;  // its producer's length in frames
  std::string filter;        // the text of its filter, "" when it has none
};

// The entries of every playlist of media (not the background), playlist by playlist.
// The attributes of every start tag `<name …>` of an XML text, their entities read back.
std::vector<std::map<std::string, std::string>> tags(const std::string& doc, const std::string& name);

// An FCPXML time ("0s", "3s", "1001/30000s") in seconds, checked to be a reduced fraction.
long double seconds(const std::string& text);

std::vector<std::vector<MltEntry>> mlt_entries(const std::string& doc);

// The sound of one playlist (`track`, its id) of an MLT document, every other track
// hidden, rendered by melt to a 48 kHz mono WAV at `wav` from frame `in` to `out` (the
// whole timeline when `out` < 0); its samples, none when melt failed.
std::vector<float> melt_alone(const std::string& doc, const std::string& track,
                              const std::string& wav, long in = 0, long out = -1);

// A mono WAV's samples; none when it cannot be read. Its sample rate goes to `rate` if given.
std::vector<float> read_sound(const std::string& path, int* rate = nullptr);

// Seconds by which `other` lags `reference` (both 48 kHz) over one second from `from`, by
// phase-transform correlation within ±`search_s` (at most 0.85 s), refined between
// samples on a parabola; 1 when the window does not fit.
double sound_lag(const std::vector<float>& reference, const std::vector<float>& other,
                 double from, double search_s = 0.05);

std::string read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);

}  // namespace testing_support
