#pragma once
// The description of a generated event: one line of key=value words per file.

#include "tools/device_chain.h"

#include <cstdint>
#include <string>
#include <vector>

namespace eventgen {

enum class Container { Wav, Mp3, M4a, Mov, Mp4, Mts };

enum class Content {
  Sound,    // the device's recording of its event
  Silence,  // digital silence of the given length
  NoAudio,  // a video stream only (Mov, Mp4)
  Text,     // a few lines of text under the given name, whatever its extension
};

enum class Picture { TestSource, Color };

// A second sound stream of digital silence, as a camera records from a microphone input
// with nothing plugged in: before the device's sound in the file, or after it.
enum class SilentStream { None, First, Second };

struct Device {
  std::string file;    // name inside the output folder
  std::string device;  // label in the manifest; the file name without extension by default
  uint64_t event = 1;  // which event the device heard, the seed of its sound
  Content content = Content::Sound;
  Container container = Container::Wav;
  DeviceSound sound;
  std::string fps = "25";  // frame rate as ffmpeg reads it ("30000/1001" for 29.97)
  int width = 320, height = 180;
  Picture picture = Picture::TestSource;
  // Seconds after which the event's sound starts over, as music built of one phrase does,
  // with a quieter share of the room's own sound going on over it; 0: it never repeats.
  // Any device of an event may set it, for all of them.
  double loop_s = 0.0;
  // Seconds the sound starts after the picture in the file (negative: before), as the
  // container's stream starts or edit lists put it; the manifest's start is the sound's.
  double sound_at_s = 0.0;
  // The start timecode a camera writes (HH:MM:SS:FF, ";" for drop frame), video files
  // only; and a recorder's Broadcast WAV time reference in seconds since midnight, .wav
  // only (negative: none).
  std::string timecode;
  double time_reference_s = -1.0;
  SilentStream silent_stream = SilentStream::None;  // video files only
  // A folder inside the output folder for the file, as a device's card keeps its files;
  // empty: the output folder itself.
  std::string folder;
  // What the file says of its device, as the container's tags (a Broadcast WAV's originator
  // and origination time); none by default. `clock` is the device clock's time at event
  // time 0 (YYYY-MM-DDTHH:MM:SSZ): the file's creation time is it plus the file's start.
  std::string make, model, serial, clock;

  // The file's place below the output folder, as the manifest names it.
  std::string relative_path() const { return folder.empty() ? file : folder + "/" + file; }

  bool video() const {
    return container == Container::Mov || container == Container::Mp4 || container == Container::Mts;
  }
  bool encoded() const { return container != Container::Wav; }
};

// Parses one line such as
//   file=cam_a.mov start=12 duration=90 fps=25 filter=lowpass:8000 snr=25 reverb=on
// Keys: file (required), device, event, kind (sound|silence|noaudio|text), start,
// duration (required but for text), gain (dB), filter, snr (dB or none), reverb
// (on|off), drift (ppm), rate (Hz), fps, size (WxH), picture (testsrc|color), loop (s),
// sound_at (s, video files only), timecode (HH:MM:SS:FF, video files), time_reference
// (s since midnight, .wav), silent_stream (first|second, video files), folder, make,
// model, serial (no blanks), clock (YYYY-MM-DDTHH:MM:SSZ).
// Returns an error sentence, or "" when the line is good.
std::string parse_device_line(const std::string& line, Device& out);

// Parses a whole description: one device per line, blank lines and '#' comments
// skipped. Errors name the line.
std::string parse_device_list(const std::string& text, std::vector<Device>& out);

// Problems between lines (the same file twice); "" when there are none.
std::string check_devices(const std::vector<Device>& devices);

}  // namespace eventgen
