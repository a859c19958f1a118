#pragma once
// Where a file starts for an editor: its sound against its picture, and its own clock.

#include "core/results.h"
#include "media/device_clues.h"

#include <cstdint>
#include <string>
#include <vector>

// One sound stream of a file, in the order the container has them.
struct SoundStream {
  int index = -1;       // the container's stream number (what MLT's audio_index counts)
  int channels = 0;
  double start_s = 0.0; // the stream's start time
};

// An editor's timeline starts a file with video at its first picture and any other file
// at its first sample, while the analysis WAV starts at the first sample of the sound
// the transcoder picks. Cameras, phones and MPEG-TS files put the two apart by a few to
// a few hundred milliseconds, by a stream start or an edit list.
struct MediaStart {
  // Seconds from the first picture to the first sample of the analysed sound; negative
  // when the sound starts first; 0 for a file without video.
  double sound_after_picture_s = 0.0;
  std::vector<SoundStream> sounds;
  int analysed = -1;            // position in `sounds` of the one analysed; -1 without sound
  int channel_alone = -1;       // its channel analysed alone (the others silent); -1: the mix
  bool has_picture = false;      // a video stream that is not a cover picture
  double picture_start_s = 0.0;  // its start time
  StartTimecode timecode;  // empty when the file carries none
  double picture_rate = 0.0;  // frames a second of its first picture stream; 0 without one
  DeviceClues clues;       // what its tags and streams say of the device that recorded it
  bool read = false;       // false: the container could not be read, and the sound counts from 0
};

// Takes the sound at `position` of `sounds` as the analysed one, and where it starts.
void analyse_sound(MediaStart& start, int position);

// Reads the container's stream start times (edit lists applied, as the transcoder
// applies them) of the sound stream the transcoder decodes and of the first video stream
// that is not a cover picture, and the start timecode: a timecode tag of a stream or of
// the container (QuickTime/MP4 timecode tracks, MXF), counted at the picture's rate, or
// a Broadcast WAV's time reference in samples of its rate. The same reading gives the
// device's clues (its tags, its length, the recording format; not its name's numbering).
MediaStart media_start(const std::string& path);

// What a copy of a file with another sound needs of its container: its span, where its
// picture starts, and its first sound stream's start and format.
struct ContainerShape {
  bool read = false;            // false: the container could not be read
  std::string format;           // the demuxer's name ("mov,mp4,m4a,3gp,3g2,mj2", "mpegts")
  double start_s = 0.0;         // of the earliest stream
  double duration_s = 0.0;
  bool has_picture = false;
  double picture_start_s = 0.0;
  int sound_streams = 0;
  double sound_start_s = 0.0;   // of the first sound stream
  int sample_rate = 0;          // Hz; 0 without sound
  int channels = 0;
  std::string sound_codec;      // "aac", "pcm_s16le"; empty without sound
  std::int64_t sound_bit_rate = 0;  // bits a second; 0 when the container does not say
};
ContainerShape container_shape(const std::string& path);

// Whether `path` can be synced as a recording: it has a media file name (core/media_names.h),
// or the container reader finds a sound stream in it. A name the list does not know is
// read, so that a recorder's rare extension still counts and a text, a table or a picture
// does not. A media name is trusted unread: a damaged film is the run's to report.
bool is_recording(const std::string& path);

// "HH:MM:SS:FF" (";" before the frames for drop frame) at `fps` frames a second as an
// exact number of seconds since midnight; false for text that is no timecode.
bool timecode_seconds(const std::string& text, double fps, StartTimecode& out);
